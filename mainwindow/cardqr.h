#pragma once

#include <QObject>
#include <QPointer>

class QAction;
class QMenu;
class QrDialog;
class QTableWidget;
class TADOConnection;
class TADOQuery;

/// A card as a QR code for the window: "二维码..." on the grid's popup menu (the current card)
/// and on the detail pane's (the card the pane shows), opening the code's dialog.
class CardQr : public QObject {
    Q_OBJECT
public:
    /// Appends its item to `gridPopup` and gives `detailPane` a popup menu of its own.
    CardQr(QWidget* window, QMenu* gridPopup, QTableWidget* detailPane, TADOConnection* connection,
           TADOQuery* cards);

    /// The dialog last opened, while it lives.
    QrDialog* dialog() const;

public slots:
    /// Shows card `id`'s code; `where` names what the user picked it from, for the message
    /// when there is no such card.
    void showCard(qint64 id, const QString& where);

private:
    QWidget* m_window;
    TADOConnection* m_connection;
    TADOQuery* m_cards;
    QTableWidget* m_pane;
    // The card the detail pane was filled from: the grid's cursor may move on without it.
    qint64 m_paneCard = 0;
    QPointer<QrDialog> m_dialog;
};
