#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <QVector>

class TADOQuery;

/// Presents a dataset to views: a fixed list of columns over whatever rows it holds.
class TDataSource : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TDataSource(QObject* parent = nullptr);

    void setDataSet(TADOQuery* dataset);
    TADOQuery* dataSet() const { return m_dataset; }
    /// The columns shown, by name; a name the result lacks shows empty cells.
    void setColumns(const QStringList& columns);
    QStringList columns() const { return m_columns; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void remap();
    void resetFromDataSet();
    void onRowInserted(int row);
    void onRowRemoved(int row);
    void onRowChanged(int row);

    TADOQuery* m_dataset = nullptr;
    // The row count views were last told of; the dataset reports changes after making them.
    int m_rowCount = 0;
    QStringList m_columns;
    QVector<int> m_resultIndex;
};
