#include "dbcontrols.h"

#include "data/adoquery.h"
#include "data/datasource.h"
#include "platform/application.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>
#include <QToolButton>

namespace {

const QColor kMoneyGreen(0xC0, 0xDC, 0xC0);
const QColor kGridBackground(0xF4, 0xFC, 0xEF);
const int kRowHeight = 18;

// Title rows are drawn flat in the fixed colour, not in the style's gradient.
const QString kTitleRowStyle =
    QStringLiteral("QHeaderView::section { background-color: #C0DCC0; border: 0px;"
                   " border-right: 1px solid #808080; border-bottom: 1px solid #808080;"
                   " padding-left: 2px; }");

/// Rows `kRowHeight` high; the minimum that the font would ask for is lowered first.
void setFixedRowHeight(QHeaderView* rows) {
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(kRowHeight);
    rows->setDefaultSectionSize(kRowHeight);
}

/// Paints the per-column cell colours.
class ColumnColorDelegate : public QStyledItemDelegate {
public:
    explicit ColumnColorDelegate(TDBGrid* grid)
        : QStyledItemDelegate(grid)
        , m_grid(grid) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QColor color = m_grid->columnColor(index.column());
        if (color.isValid())
            painter->fillRect(option.rect, color);
        QStyledItemDelegate::paint(painter, option, index);
    }

private:
    TDBGrid* m_grid;
};

/// The row-marker column: a small triangle at the current row.
class IndicatorHeader : public QHeaderView {
public:
    explicit IndicatorHeader(QTableView* view)
        : QHeaderView(Qt::Vertical, view)
        , m_view(view) {}

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override {
        painter->fillRect(rect, kMoneyGreen);
        painter->setPen(QColor(0x80, 0x80, 0x80));
        painter->drawLine(rect.bottomLeft(), rect.bottomRight());
        painter->drawLine(rect.topRight(), rect.bottomRight());
        if (m_view->currentIndex().row() != logicalIndex)
            return;
        const QPointF c = QRectF(rect).center();
        QPainterPath arrow;
        arrow.moveTo(c.x() - 2, c.y() - 4);
        arrow.lineTo(c.x() + 2, c.y());
        arrow.lineTo(c.x() - 2, c.y() + 4);
        arrow.closeSubpath();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->fillPath(arrow, Qt::black);
    }
    QSize sectionSizeFromContents(int) const override { return {11, kRowHeight}; }

private:
    QTableView* m_view;
};

QIcon navigatorIcon(TDBNavigator::Button which, bool enabled) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor color = enabled ? Qt::black : QColor(0xA0, 0xA0, 0xA0);
    const bool left = which == TDBNavigator::nbFirst || which == TDBNavigator::nbPrior;
    QPainterPath triangle;
    if (left) {
        triangle.moveTo(11, 3);
        triangle.lineTo(5, 8);
        triangle.lineTo(11, 13);
    } else {
        triangle.moveTo(5, 3);
        triangle.lineTo(11, 8);
        triangle.lineTo(5, 13);
    }
    triangle.closeSubpath();
    p.fillPath(triangle, color);
    if (which == TDBNavigator::nbFirst)
        p.fillRect(QRectF(3, 3, 2, 10), color);
    if (which == TDBNavigator::nbLast)
        p.fillRect(QRectF(11, 3, 2, 10), color);
    return QIcon(pixmap);
}

} // namespace

TDBGrid::TDBGrid(QWidget* parent)
    : QTableView(parent) {
    setVerticalHeader(new IndicatorHeader(this));
    setFixedRowHeight(verticalHeader());
    verticalHeader()->setFixedWidth(11);
    // Below the last row the marker column shows the grid's own colour.
    QPalette markers = verticalHeader()->palette();
    for (QPalette::ColorRole role : {QPalette::Window, QPalette::Button, QPalette::Base})
        markers.setColor(role, kGridBackground);
    verticalHeader()->setPalette(markers);
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setFixedHeight(19);
    horizontalHeader()->setStyleSheet(kTitleRowStyle);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setTabKeyNavigation(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    // The corner over the row markers belongs to the title row.
    setStyleSheet(QStringLiteral("QTableCornerButton::section { background-color: #C0DCC0;"
                                 " border: 0px; border-right: 1px solid #808080;"
                                 " border-bottom: 1px solid #808080; }"));
    setItemDelegate(new ColumnColorDelegate(this));

    QPalette p = palette();
    p.setColor(QPalette::Base, kGridBackground);
    // The current cell stands out only while the grid has the focus.
    p.setColor(QPalette::Inactive, QPalette::Highlight, Qt::transparent);
    p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Text));
    setPalette(p);

    horizontalHeader()->viewport()->installEventFilter(this);
    verticalHeader()->viewport()->installEventFilter(this);
}

void TDBGrid::setDataSource(TDataSource* source) {
    m_source = source;
    setModel(source);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            &TDBGrid::onCurrentChanged);
    if (TADOQuery* dataset = source->dataSet()) {
        connect(dataset, &TADOQuery::currentChanged, this, &TDBGrid::followDataSet);
        // After a reset the model is new: point at the dataset's row again.
        connect(source, &QAbstractItemModel::modelReset, this,
                [this, dataset] { followDataSet(dataset->RecNo()); });
        connect(source, &QAbstractItemModel::rowsInserted, this,
                [this, dataset] { followDataSet(dataset->RecNo()); });
        connect(source, &QAbstractItemModel::rowsRemoved, this, [this, dataset] {
            m_syncing = false;
            followDataSet(dataset->RecNo());
        });
    }
}

int TDBGrid::columnByName(const QString& column) const {
    return m_source ? m_source->columns().indexOf(column) : -1;
}

void TDBGrid::setColumnWidthByName(const QString& column, int width) {
    const int index = columnByName(column);
    if (index < 0)
        return;
    if (width < 0) {
        setColumnHidden(index, true);
        return;
    }
    setColumnWidth(index, width);
}

void TDBGrid::setColumnColor(const QString& column, const QColor& color) {
    const int index = columnByName(column);
    if (index >= 0)
        m_colors.insert(index, color);
}

QColor TDBGrid::columnColor(int column) const {
    return m_colors.value(column);
}

void TDBGrid::followDataSet(int row) {
    if (m_syncing || !m_source)
        return;
    m_syncing = true;
    int column = currentIndex().column();
    if (column < 0 || isColumnHidden(column)) {
        column = 0;
        while (column < model()->columnCount() && isColumnHidden(column))
            ++column;
    }
    const QModelIndex index = m_source->index(row, column);
    if (index.isValid())
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    else
        selectionModel()->clearCurrentIndex();
    verticalHeader()->viewport()->update();
    m_syncing = false;
}

void TDBGrid::onCurrentChanged(const QModelIndex& current, const QModelIndex& previous) {
    verticalHeader()->viewport()->update();
    if (m_syncing || !current.isValid() || !m_source || !m_source->dataSet())
        return;
    if (current.row() == previous.row() && previous.isValid())
        return;
    TADOQuery* dataset = m_source->dataSet();
    if (dataset->RecNo() == current.row())
        return;
    m_syncing = true;
    Platform::guarded([dataset, &current] { dataset->MoveTo(current.row()); })();
    m_syncing = false;
    // The move may have been refused: show where the dataset really is.
    if (dataset->RecNo() != current.row())
        followDataSet(dataset->RecNo());
}

void TDBGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    QTableView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit dblClick();
}

bool TDBGrid::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
        (watched == horizontalHeader()->viewport() || watched == verticalHeader()->viewport())) {
        emit dblClick();
        return true;
    }
    return QTableView::eventFilter(watched, event);
}

void TDBGrid::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
    // The view moves its current cell off the removed row; the dataset has already chosen
    // its new current row, so that move must not reach it.
    m_syncing = true;
    QTableView::rowsAboutToBeRemoved(parent, start, end);
}

void TDBGrid::paintEvent(QPaintEvent* event) {
    QTableView::paintEvent(event);
    // On screen, not into a picture of a window not shown yet.
    if (isVisible() && m_source && m_source->dataSet())
        m_source->dataSet()->RowsShown();
}

void TDBGrid::keyPressEvent(QKeyEvent* event) {
    // Read-only: the grid never deletes a row itself.
    if (event->key() == Qt::Key_Delete) {
        event->accept();
        return;
    }
    // To the last row: the last of all, not of those known so far.
    if (event->key() == Qt::Key_End && (event->modifiers() & Qt::ControlModifier) && m_source &&
        m_source->dataSet())
        m_source->dataSet()->FetchAll();
    QTableView::keyPressEvent(event);
}

TDBNavigator::TDBNavigator(QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    const char* names[4] = {"First", "Prior", "Next", "Last"};
    for (int i = 0; i < 4; ++i) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(names[i]));
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        layout->addWidget(b);
        m_buttons[i] = b;
        connect(b, &QToolButton::clicked, this, [this, i] { press(Button(i)); });
    }
    updateButtons();
}

void TDBNavigator::setDataSet(TADOQuery* dataset) {
    m_dataset = dataset;
    for (auto signal : {&TADOQuery::reset, &TADOQuery::stateChanged})
        connect(dataset, signal, this, &TDBNavigator::updateButtons);
    for (auto signal :
         {&TADOQuery::currentChanged, &TADOQuery::rowInserted, &TADOQuery::rowRemoved})
        connect(dataset, signal, this, &TDBNavigator::updateButtons);
    connect(dataset, &TADOQuery::rowsAppended, this, &TDBNavigator::updateButtons);
    updateButtons();
}

void TDBNavigator::updateButtons() {
    const bool active = m_dataset && m_dataset->Active();
    const bool up = active && !m_dataset->Bof();
    const bool down = active && !m_dataset->Eof();
    const bool enabled[4] = {up, up, down, down};
    // Drawn once: the buttons are updated on every move.
    static const QIcon icons[4][2] = {{navigatorIcon(nbFirst, false), navigatorIcon(nbFirst, true)},
                                      {navigatorIcon(nbPrior, false), navigatorIcon(nbPrior, true)},
                                      {navigatorIcon(nbNext, false), navigatorIcon(nbNext, true)},
                                      {navigatorIcon(nbLast, false), navigatorIcon(nbLast, true)}};
    for (int i = 0; i < 4; ++i) {
        if (m_buttons[i]->isEnabled() != enabled[i] || m_buttons[i]->icon().isNull())
            m_buttons[i]->setIcon(icons[i][enabled[i]]);
        m_buttons[i]->setEnabled(enabled[i]);
    }
}

void TDBNavigator::press(Button which) {
    if (!m_dataset)
        return;
    Platform::guarded([this, which] {
        switch (which) {
        case nbFirst:
            m_dataset->First();
            break;
        case nbPrior:
            m_dataset->Prior();
            break;
        case nbNext:
            m_dataset->Next();
            break;
        case nbLast:
            m_dataset->Last();
            break;
        }
    })();
    updateButtons();
}

TValueListEditor::TValueListEditor(QWidget* parent)
    : QTableWidget(0, 2, parent) {
    setHorizontalHeaderLabels({QStringLiteral("Key"), QStringLiteral("Value")});
    verticalHeader()->hide();
    setFixedRowHeight(verticalHeader());
    horizontalHeader()->setSectionResizeMode(0, QHeaderView::Fixed);
    horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setFixedHeight(18);
    horizontalHeader()->setStyleSheet(kTitleRowStyle);
    setColumnWidth(0, 58);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setWordWrap(false);
    QPalette p = palette();
    p.setColor(QPalette::Base, kGridBackground);
    setPalette(p);
}

void TValueListEditor::clearRows() {
    setRowCount(0);
}

void TValueListEditor::addRow(const QString& key, const QString& value) {
    const int row = rowCount();
    insertRow(row);
    auto* keyItem = new QTableWidgetItem(key);
    keyItem->setFlags(Qt::ItemIsEnabled);
    keyItem->setBackground(kMoneyGreen);
    setItem(row, 0, keyItem);
    setItem(row, 1, new QTableWidgetItem(TDataSource::shownText(value)));
}

QStringList TValueListEditor::lines() const {
    QStringList result;
    for (int row = 0; row < rowCount(); ++row)
        result << item(row, 0)->text() + QLatin1Char('=') + item(row, 1)->text();
    return result;
}

QString TValueListEditor::value(const QString& key) const {
    for (int row = 0; row < rowCount(); ++row) {
        if (item(row, 0)->text() == key)
            return item(row, 1)->text();
    }
    return QString();
}

void TValueListEditor::resizeEvent(QResizeEvent* event) {
    QTableWidget::resizeEvent(event);
    setColumnWidth(0, 58);
    placeFooter();
}

void TValueListEditor::updateGeometries() {
    // The table sets the margins for its headers: the footer's is kept below them.
    QTableWidget::updateGeometries();
    placeFooter();
}

void TValueListEditor::setFooter(QWidget* footer, int height) {
    m_footer = footer;
    m_footerHeight = footer ? height : 0;
    placeFooter();
    if (m_footer)
        m_footer->setVisible(height > 0);
}

void TValueListEditor::placeFooter() {
    const QMargins margins = viewportMargins();
    if (margins.bottom() != m_footerHeight)
        setViewportMargins(margins.left(), margins.top(), margins.right(), m_footerHeight);
    if (m_footer) {
        const QRect rows = viewport()->geometry();
        m_footer->setGeometry(rows.left(), rows.bottom() + 1, rows.width(), m_footerHeight);
    }
}
