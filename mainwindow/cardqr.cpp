// Any card as a QR code, for a phone to scan: from the grid's popup menu or the detail pane's.
#include "cardqr.h"

#include "core/error.h"
#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "dialogs/qrdialog.h"
#include "duplicates/keys.h"
#include "platform/application.h"
#include "platform/window.h"

#include <QAction>
#include <QMenu>
#include <QTableWidget>

namespace {

const QString kItem = QStringLiteral("二维码...");

} // namespace

CardQr::CardQr(QWidget* window, QMenu* gridPopup, QTableWidget* detailPane,
               TADOConnection* connection, TADOQuery* cards)
    : QObject(window)
    , m_window(window)
    , m_connection(connection)
    , m_cards(cards)
    , m_pane(detailPane) {
    setObjectName(QStringLiteral("CardQr"));

    QAction* gridItem = gridPopup->addAction(kItem);
    gridItem->setObjectName(QStringLiteral("QrGridAction"));
    connect(gridItem, &QAction::triggered, this, Platform::guarded([this] {
                showCard(m_cards->Active() ? m_cards->CurrentId() : 0, QStringLiteral("列表"));
            }));

    // The pane's menu lists the actions given to it, so that others can add theirs.
    auto* paneItem = new QAction(kItem, detailPane);
    paneItem->setObjectName(QStringLiteral("QrPaneAction"));
    detailPane->setContextMenuPolicy(Qt::ActionsContextMenu);
    detailPane->addAction(paneItem);
    connect(paneItem, &QAction::triggered, this,
            Platform::guarded([this] { showCard(m_paneCard, QStringLiteral("详细信息")); }));

    // The pane is filled from the current card, row by row, and emptied first.
    QAbstractItemModel* rows = detailPane->model();
    connect(rows, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first) {
        if (first == 0)
            m_paneCard = m_cards->Active() ? m_cards->CurrentId() : 0;
    });
    connect(rows, &QAbstractItemModel::rowsRemoved, this, [this] {
        if (m_pane->rowCount() == 0)
            m_paneCard = 0;
    });
}

QrDialog* CardQr::dialog() const {
    return m_dialog;
}

void CardQr::showCard(qint64 id, const QString& where) {
    if (id <= 0)
        throw EError(QStringLiteral("%1中没有选中的名片，没有可以显示成二维码的。"
                                    "请先在列表中点一张名片，再选“二维码...”。")
                         .arg(where));
    m_connection->Open();
    const QVector<Card> cards = Duplicates::cardsOf(m_connection->handle(), {id});
    if (cards.isEmpty())
        throw EError(QStringLiteral("这张名片已经不在了，可能刚被另一个程序删除。"
                                    "请在列表中重新选一张名片后重试。"));
    // Made before the old one goes: a card too long for a code leaves nothing half shown.
    auto* dialog = new QrDialog(m_window, cards.first());
    delete m_dialog;
    m_dialog = dialog;
    Platform::showModal(dialog);
}
