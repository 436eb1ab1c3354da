#pragma once

// Keeps the cards of one database in step with one address book on a CardDAV server, both
// ways. Widget-free: the window runs it on a worker thread, the tool on its own.
//
// Each card is committed here in its own transaction together with its server version, so
// a sync that stops half-way (a cut connection, a cancel) leaves both sides consistent and
// the next one resumes without sending or taking any card twice.

#include "carddavclient.h"
#include "cardmerge.h"

#include "core/progress.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVector>

#include <atomic>
#include <functional>

struct sqlite3;

namespace Sqlite {
class Database;
}

namespace Sync {

/// The account, kept in the database file's sync_account table. Never the password.
struct SyncAccount {
    QString server;         ///< what the user typed
    QString user;           ///< empty for a server without authentication
    QUrl book;              ///< the address book
    QByteArray fingerprint; ///< a certificate trusted by the user, "AB:CD:.."
    bool allowInsecure = false;
    QByteArray syncToken; ///< the server's sync token after the last sync
    QByteArray ctag;      ///< the book's ctag after the last sync

    bool isSet() const { return book.isValid() && !book.isEmpty(); }
};

/// Reads the stored account (empty when none); makes the sync tables when they are missing.
SyncAccount loadAccount(const Sqlite::Database& db);
/// Stores the account in one transaction.
void saveAccount(const Sqlite::Database& db, const SyncAccount& account);

/// What a sync did.
struct SyncReport {
    int sent = 0;        ///< cards written to the server (new or changed)
    int received = 0;    ///< cards taken here (new or changed)
    int deletedHere = 0; ///< deleted here because the server no longer has them
    int deletedThere = 0;
    struct Conflict {
        qint64 id;
        QString name;
        FieldConflict field;
    };
    QVector<Conflict> conflicts; ///< both sides changed a field: the server's values, set aside
    QStringList notes;           ///< cards the server refused or that could not be read

    /// The report in Chinese, one line per item.
    QString text() const;
};

class SyncEngine {
public:
    /// Works on `db` (the caller's connection, used only by this thread meanwhile) through
    /// `client`, which has its credentials and trust set.
    SyncEngine(const Sqlite::Database& db, CardDavClient& client);

    /// Asked before a sync deletes many cards here or there (more than 10, and more than a
    /// quarter of them): true goes on. Without it the sync stops instead.
    std::function<bool(int here, int there, int total)> confirmMassDelete;
    /// Moved through the sync's phases, for a progress dialog; cancelling it stops the sync
    /// as cancel() does.
    Core::Progress* progress = nullptr;

    /// One sync. Throws ECardDav for a failed exchange and the data layer's error for the
    /// database; what was done until then stays done.
    SyncReport run();
    /// Stops after the card in flight, with ECardDav Cancelled. Any thread.
    void cancel();

private:
    struct State;
    void checkCancel() const;
    void sendChanges(State& s);
    void resend(State& s, Upload upload, qint64 id);
    void written(State& s, const Upload& upload, qint64 id, const Card& sent,
                 const WriteResult& result);

    const Sqlite::Database& m_database;
    sqlite3* m_db;
    CardDavClient& m_client;
    std::atomic<bool> m_cancelled{false};
};

/// The question before a mass delete.
QString massDeleteQuestion(int here, int there, int total);

} // namespace Sync
