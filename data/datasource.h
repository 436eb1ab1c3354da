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

    /// The most characters a cell shows: a longer text is cut there and ends in "…", since
    /// laying out megabytes would freeze the view. The stored value is not touched.
    static constexpr int kLongestShown = 4000;
    /// `text` as a view shows it.
    static QString shownText(const QString& text);

private:
    void remap();
    void resetFromDataSet();
    void onRowInserted(int row);
    void onRowsAppended(int first, int last);
    void onRowRemoved(int row);
    void onRowChanged(int row);

    TADOQuery* m_dataset = nullptr;
    int datasetRow(int row) const;

    // The dataset reports an insert or removal after making it, while views expect the old
    // rows until endInsertRows/endRemoveRows: keep the count they were last told of, and
    // while a change is being announced, map their rows past it onto the dataset's.
    int m_rowCount = 0;
    int m_changedRow = -1;
    int m_shift = 0;
    QStringList m_columns;
    QVector<int> m_resultIndex;
};
