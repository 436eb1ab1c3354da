#pragma once

#include <QHash>
#include <QStringList>
#include <QTableView>
#include <QTableWidget>
#include <QWidget>

class QToolButton;
class TADOQuery;
class TDataSource;

/// The read-only card grid: follows its dataset's current row and moves it on selection.
class TDBGrid : public QTableView {
    Q_OBJECT
public:
    explicit TDBGrid(QWidget* parent = nullptr);

    void setDataSource(TDataSource* source);
    TDataSource* dataSource() const { return m_source; }
    /// Width of a column by name; a negative width hides it.
    void setColumnWidthByName(const QString& column, int width);
    void setColumnColor(const QString& column, const QColor& color);
    QColor columnColor(int column) const;
    int columnByName(const QString& column) const;

signals:
    /// A left double click anywhere in the grid, titles and row markers included.
    void dblClick();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;

private:
    void followDataSet(int row);
    void onCurrentChanged(const QModelIndex& current, const QModelIndex& previous);

    TDataSource* m_source = nullptr;
    QHash<int, QColor> m_colors;
    bool m_syncing = false;
};

/// First, prior, next and last buttons over a dataset, enabled from its position.
class TDBNavigator : public QWidget {
    Q_OBJECT
public:
    enum Button { nbFirst, nbPrior, nbNext, nbLast };
    explicit TDBNavigator(QWidget* parent = nullptr);

    void setDataSet(TADOQuery* dataset);
    QToolButton* button(Button which) const { return m_buttons[which]; }
    void updateButtons();

private:
    void press(Button which);

    TADOQuery* m_dataset = nullptr;
    QToolButton* m_buttons[4] = {};
};

/// A two-column list of key/value rows; keys are fixed, typed values go nowhere.
class TValueListEditor : public QTableWidget {
    Q_OBJECT
public:
    explicit TValueListEditor(QWidget* parent = nullptr);

    void clearRows();
    /// A value longer than a grid cell shows is cut as the grid cuts it.
    void addRow(const QString& key, const QString& value);
    /// The rows as "key=value" lines.
    QStringList lines() const;
    QString value(const QString& key) const;
    /// Keeps `height` pixels below the rows for `footer`, a child laid there (a card's
    /// picture); 0 gives them back to the rows.
    void setFooter(QWidget* footer, int height);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void updateGeometries() override;

private:
    void placeFooter();
    QWidget* m_footer = nullptr;
    int m_footerHeight = 0;
};
