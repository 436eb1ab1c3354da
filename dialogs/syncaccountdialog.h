#pragma once

#include "ui_syncaccountdialog.h"

#include "sync/carddavclient.h"
#include "sync/syncengine.h"

#include <QDialog>

/// The sync account: server, user, password and the address book, found on the server.
/// "测试连接" says in Chinese what worked or failed and lists the server's address books.
class SyncAccountDialog : public QDialog, public Ui::SyncAccountDialog {
    Q_OBJECT
public:
    /// Filled from `account` and `password`; `keychainNote` says where the password is kept.
    SyncAccountDialog(QWidget* parent, const Sync::SyncAccount& account, const QString& password,
                      const QString& keychainNote);
    ~SyncAccountDialog() override;

    /// The account as set here: the chosen book, the certificate and plain http as agreed.
    Sync::SyncAccount account() const;
    QString password() const;

public slots:
    /// Finds the server's address books and says what worked or failed.
    void ButtonTestClick();
    /// Closes with the account when a book is chosen; else tests the connection first.
    void ButtonOKClick();

private:
    /// Whether the user agrees to send the password and cards readable over `url`.
    bool allowPlainHttp(const QUrl& url);
    /// Discovery on a thread of its own; the window keeps painting.
    Sync::Discovery discover();
    void showBooks(const Sync::Discovery& found);

    Sync::SyncAccount m_account;
};
