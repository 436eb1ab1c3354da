#pragma once

#include "sync/syncengine.h"

#include <QObject>

class QAction;
class QMenu;
class QWidget;
class TADOConnection;
class TADOQuery;

/// The cards kept in step with an address book on a CardDAV server, from the window: the
/// account dialog and a sync on a thread behind a progress dialog.
class CardSync : public QObject {
    Q_OBJECT
public:
    /// Adds its items to `menu`; works through `connection` and lists the cards in `cards`.
    CardSync(QWidget* window, QMenu* menu, TADOConnection* connection, TADOQuery* cards);

    QAction* syncAction = nullptr;
    QAction* setupAction = nullptr;

public slots:
    /// One sync now; without an account, the account dialog first.
    void syncCards();
    /// The account dialog; the account is stored when the user closes it with "确定".
    void setUpAccount();

private:
    /// The password for `account`: the keychain's, the one kept in memory, or asked for.
    /// False when the user cancelled.
    bool passwordFor(const Sync::SyncAccount& account, QString* password);
    /// Runs the engine on a worker; false when the user cancelled.
    bool runSync(const Sync::SyncAccount& account, const QString& password,
                 Sync::SyncReport* report);
    bool askMassDelete(int here, int there, int total);
    /// The list read again, `current` made current when it is still there.
    void reopenCards(qint64 current);

    QWidget* m_window;
    TADOConnection* m_connection;
    TADOQuery* m_cards;
    // Where no keychain answers: the password for this run of the program only.
    QString m_password;
    QString m_passwordKey;
};
