#pragma once

// The database side of a sync: the synced copies in sync_card and the card writes that go
// with them, each in its own transaction with the quick-find index and the UIDs kept in step.

#include "data/card.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

struct sqlite3;

namespace Sqlite {
class Database;
}

namespace Sync {

/// A card as last synced: where it is on the server and what both sides held then.
struct SyncedCard {
    qint64 id = 0;
    QString href;
    QByteArray etag;
    QByteArray vcard; ///< the server's copy
    Card fields;      ///< its 24 columns
};

/// Where a synced card is on the server and its version there; id 0 when there is none.
struct SyncedRef {
    qint64 id = 0;
    QString href;
    QByteArray etag;
};

/// What changed here since the last sync, by card ID.
struct LocalChanges {
    QSet<qint64> changed; ///< synced, and changed here since
    QSet<qint64> fresh;   ///< never synced
    QSet<qint64> deleted; ///< synced, and deleted here since

    bool isEmpty() const { return changed.isEmpty() && fresh.isEmpty() && deleted.isEmpty(); }
};

class SyncStore {
public:
    explicit SyncStore(const Sqlite::Database& db);

    /// Every synced card, by card ID; without the server's texts unless asked (they are the
    /// bulk).
    QHash<qint64, SyncedCard> syncedCards(bool withText = true);
    /// The cards changed, added and deleted here since they were last synced. Only those
    /// are read into memory: a book where little changed costs little.
    LocalChanges localChanges();
    /// The synced card at an address, and a card's synced address.
    SyncedRef syncedAt(const QString& href);
    SyncedRef syncedRef(qint64 id);
    int syncedCount();
    bool hasCard(qint64 id);
    /// One synced card, the server's text included; id 0 when it has none.
    SyncedCard syncedCard(qint64 id);
    /// The server's last copy of one card; empty when it has none.
    QByteArray syncedText(qint64 id);
    /// Every card here, by ID.
    QHash<qint64, Card> cards();
    /// Each card here in turn, read as it goes.
    void forEachCard(const std::function<void(qint64 id, const Card& card)>& visit);
    /// One card here; nothing when it is gone.
    std::optional<Card> card(qint64 id);

    /// Runs `work` in one transaction: all of it or, when it throws, none.
    void transaction(const std::function<void()>& work);

    // Within transaction():
    void storeSynced(const SyncedCard& synced);
    void dropSynced(qint64 id);
    void dropAllSynced();
    /// A card this sync made on the server, noted with its synced copy.
    void noteCreated(qint64 id);
    /// The cards made on the server since the kept sync token replaced by `ids`.
    void keepCreated(const QSet<qint64>& ids);
    void writeCard(qint64 id, const Card& card);
    void deleteCard(qint64 id);
    /// A new card with its UID (when not taken) and its synced copy, in one transaction of
    /// its own; `before` runs in it first. The new ID.
    qint64 addCard(const Card& card, const QString& uid, SyncedCard synced,
                   const std::function<void()>& before = {});

    /// The cards made on the server since the kept sync token, noted as each was sent.
    QList<qint64> created();

    QString value(const QString& key);
    void setValue(const QString& key, const QString& value);

    [[noreturn]] void fail(int rc);

private:
    void run(const char* sql, const QVariantList& values);

    const Sqlite::Database& m_database;
    sqlite3* m_db;
};

} // namespace Sync
