#include "historydialog.h"

#include "platform/application.h"
#include "platform/messagebox.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const int kIdRole = Qt::UserRole;
const int kOperationRole = Qt::UserRole + 1;

QString timeText(const QDateTime& time) {
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QTreeWidget* makeList(const QString& name, const QStringList& headers) {
    auto* list = new QTreeWidget;
    list->setObjectName(name);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setHeaderLabels(headers);
    list->header()->setStretchLastSection(true);
    return list;
}

} // namespace

HistoryDialog::HistoryDialog(QWidget* parent, Source source)
    : QDialog(parent)
    , m_source(std::move(source)) {
    setObjectName(QStringLiteral("HistoryDialog"));
    setWindowTitle(QStringLiteral("撤销"));
    resize(640, 420);

    m_operations =
        makeList(QStringLiteral("HistoryOperations"),
                 {QStringLiteral("编号"), QStringLiteral("时间"), QStringLiteral("操作")});
    m_deleted =
        makeList(QStringLiteral("HistoryDeleted"),
                 {QStringLiteral("姓名"), QStringLiteral("单位"), QStringLiteral("删除时间")});
    m_undo = new QPushButton(QStringLiteral("撤销"));
    m_undo->setObjectName(QStringLiteral("HistoryUndoButton"));
    m_restore = new QPushButton(QStringLiteral("恢复"));
    m_restore->setObjectName(QStringLiteral("HistoryRestoreButton"));

    auto* operationsPage = new QWidget;
    auto* operationsLayout = new QVBoxLayout(operationsPage);
    operationsLayout->addWidget(
        new QLabel(QStringLiteral("撤销一个操作，它改动的名片都恢复原样；撤销本身也可以再撤销。")));
    operationsLayout->addWidget(m_operations);
    operationsLayout->addWidget(m_undo, 0, Qt::AlignRight);
    auto* deletedPage = new QWidget;
    auto* deletedLayout = new QVBoxLayout(deletedPage);
    deletedLayout->addWidget(
        new QLabel(QStringLiteral("选中一张删除了的名片，点“恢复”把它放回名片列表。")));
    deletedLayout->addWidget(m_deleted);
    m_deleted->setColumnWidth(0, 120);
    m_deleted->setColumnWidth(1, 240);
    deletedLayout->addWidget(m_restore, 0, Qt::AlignRight);

    m_tabs = new QTabWidget;
    m_tabs->addTab(operationsPage, QStringLiteral("最近的操作"));
    m_tabs->addTab(deletedPage, QStringLiteral("已删除的名片"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("关闭"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_undo, &QPushButton::clicked, this, Platform::guarded([this] { undoChosen(); }));
    connect(m_restore, &QPushButton::clicked, this, Platform::guarded([this] { restoreChosen(); }));
    connect(m_operations, &QTreeWidget::itemDoubleClicked, this,
            [this] { Platform::guarded([this] { undoChosen(); })(); });
    connect(m_deleted, &QTreeWidget::itemDoubleClicked, this,
            [this] { Platform::guarded([this] { restoreChosen(); })(); });
    reload();
}

void HistoryDialog::reload() {
    m_operations->clear();
    for (const History::Entry& entry : m_source.operations()) {
        QString text = entry.description;
        if (entry.undone)
            text += QStringLiteral("（已撤销）");
        auto* item = new QTreeWidgetItem(
            m_operations, {QString::number(entry.number), timeText(entry.time), text});
        item->setData(0, kIdRole, entry.number);
    }
    m_deleted->clear();
    for (const History::DeletedCard& card : m_source.deletedCards()) {
        auto* item = new QTreeWidgetItem(m_deleted, {card.name, card.company, timeText(card.time)});
        item->setData(0, kIdRole, card.id);
        item->setData(0, kOperationRole, card.operation);
    }
    for (QTreeWidget* list : {m_operations, m_deleted}) {
        if (list->topLevelItemCount() > 0)
            list->setCurrentItem(list->topLevelItem(0));
    }
    m_operations->resizeColumnToContents(0);
    m_operations->resizeColumnToContents(1);
    m_undo->setEnabled(m_operations->topLevelItemCount() > 0);
    m_restore->setEnabled(m_deleted->topLevelItemCount() > 0);
}

void HistoryDialog::undoChosen() {
    const QTreeWidgetItem* item = m_operations->currentItem();
    if (!item)
        return;
    const qint64 number = item->data(0, kIdRole).toLongLong();
    if (Platform::messageBox(
            this,
            QStringLiteral("撤销操作 %1“%2”吗？它改动的名片会恢复成操作之前的样子。")
                .arg(number)
                .arg(item->text(2)),
            QStringLiteral("撤销"),
            Platform::MB_YESNO | Platform::MB_ICONQUESTION) != Platform::IDYES)
        return;
    m_source.undo(number);
    reload();
}

void HistoryDialog::restoreChosen() {
    const QTreeWidgetItem* item = m_deleted->currentItem();
    if (!item)
        return;
    m_source.restore(item->data(0, kOperationRole).toLongLong(),
                     item->data(0, kIdRole).toLongLong());
    reload();
}
