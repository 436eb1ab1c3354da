#include "syncstore.h"

#include "data/cardpicture.h"
#include "data/cardstore.h"
#include "data/carduid.h"
#include "data/dberror.h"
#include "data/fieldmap.h"
#include "data/history.h"
#include "data/sqlite.h"
#include "data/synctables.h"
#include "duplicates/keys.h"
#include "quickfind/cardindex.h"

#include "cardmerge.h"

#include <QStringList>

namespace Sync {

SyncStore::SyncStore(const Sqlite::Database& db)
    : m_database(db)
    , m_db(db.get()) {
    const int rc = SyncTables::addTables(m_db);
    if (rc != SQLITE_OK)
        fail(rc);
}

void SyncStore::fail(int rc) {
    throw EDatabaseError(Sqlite::errorText(m_db, rc, m_database.file()));
}

void SyncStore::run(const char* sql, const QVariantList& values) {
    Sqlite::Statement st;
    int rc = st.prepare(m_db, sql);
    for (int i = 0; rc == SQLITE_OK && i < values.size(); ++i)
        rc = st.bind(i + 1, values.at(i));
    if (rc != SQLITE_OK)
        fail(rc);
    rc = st.step();
    if (rc != SQLITE_DONE && rc != SQLITE_ROW)
        fail(rc);
}

QHash<qint64, SyncedCard> SyncStore::syncedCards(bool withText) {
    QHash<qint64, SyncedCard> cards;
    Sqlite::Statement st;
    int rc = st.prepare(m_db, withText ? "SELECT \"ID\", \"href\", \"etag\", \"vcard\", \"fields\" "
                                         "FROM \"sync_card\""
                                       : "SELECT \"ID\", \"href\", \"etag\", NULL, \"fields\" FROM "
                                         "\"sync_card\"");
    if (rc != SQLITE_OK)
        fail(rc);
    while ((rc = st.step()) == SQLITE_ROW) {
        SyncedCard c;
        c.id = st.int64(0);
        c.href = st.text(1).toString();
        c.etag = st.text(2).toString().toUtf8();
        c.vcard = QByteArray(static_cast<const char*>(sqlite3_column_blob(st.get(), 3)),
                             sqlite3_column_bytes(st.get(), 3));
        c.fields = cardFromFields(st.text(4).toString());
        cards.insert(c.id, c);
    }
    if (rc != SQLITE_DONE)
        fail(rc);
    return cards;
}

LocalChanges SyncStore::localChanges() {
    // SQLite compares each card with its synced columns as the stored JSON has them; only
    // the rows it cannot call equal are read and compared here.
    QStringList columns;
    for (const FieldMapEntry& f : kFieldMap)
        columns
            << QStringLiteral("ifnull(z.%1,'')").arg(Sqlite::quoted(QString::fromUtf8(f.column)));
    const QByteArray sql =
        QStringLiteral("SELECT z.\"ID\", s.\"ID\" IS NULL FROM \"zl\" z LEFT JOIN \"sync_card\" "
                       "s ON s.\"ID\"=z.\"ID\" WHERE s.\"ID\" IS NULL OR s.\"fields\" IS NOT "
                       "json_array(%1)")
            .arg(columns.join(QLatin1Char(',')))
            .toUtf8();
    LocalChanges found;
    QVector<qint64> maybe;
    for (Sqlite::Statement st(m_db, sql, m_database.failure()); st.next();) {
        if (st.int64(1))
            found.fresh.insert(st.int64(0));
        else
            maybe.append(st.int64(0));
    }
    for (const qint64 id : std::as_const(maybe)) {
        const std::optional<Card> now = card(id);
        if (now && *now != syncedCard(id).fields)
            found.changed.insert(id);
    }
    for (Sqlite::Statement gone(m_db,
                                "SELECT \"ID\" FROM \"sync_card\" s WHERE NOT EXISTS (SELECT 1 "
                                "FROM \"zl\" z WHERE z.\"ID\"=s.\"ID\")",
                                m_database.failure());
         gone.next();)
        found.deleted.insert(gone.int64(0));
    return found;
}

SyncedRef SyncStore::syncedAt(const QString& href) {
    Sqlite::Statement st(m_db, "SELECT \"ID\", \"etag\" FROM \"sync_card\" WHERE \"href\"=?",
                         m_database.failure());
    if (!st.setAll({href}).next())
        return {};
    return {st.int64(0), href, st.text(1).toString().toUtf8()};
}

SyncedRef SyncStore::syncedRef(qint64 id) {
    Sqlite::Statement st(m_db, "SELECT \"href\", \"etag\" FROM \"sync_card\" WHERE \"ID\"=?",
                         m_database.failure());
    if (!st.setAll({id}).next())
        return {};
    return {id, st.text(0).toString(), st.text(1).toString().toUtf8()};
}

int SyncStore::syncedCount() {
    Sqlite::Statement st(m_db, "SELECT count(*) FROM \"sync_card\"", m_database.failure());
    return st.next() ? int(st.int64(0)) : 0;
}

bool SyncStore::hasCard(qint64 id) {
    Sqlite::Statement st(m_db, "SELECT 1 FROM \"zl\" WHERE \"ID\"=?", m_database.failure());
    return st.setAll({id}).next();
}

SyncedCard SyncStore::syncedCard(qint64 id) {
    Sqlite::Statement st;
    int rc = st.prepare(m_db, "SELECT \"href\", \"etag\", \"vcard\", \"fields\" FROM \"sync_card\" "
                              "WHERE \"ID\"=?");
    if (rc == SQLITE_OK)
        rc = st.bind(1, id);
    if (rc != SQLITE_OK)
        fail(rc);
    SyncedCard c;
    rc = st.step();
    if (rc == SQLITE_ROW) {
        c.id = id;
        c.href = st.text(0).toString();
        c.etag = st.text(1).toString().toUtf8();
        c.vcard = QByteArray(static_cast<const char*>(sqlite3_column_blob(st.get(), 2)),
                             sqlite3_column_bytes(st.get(), 2));
        c.fields = cardFromFields(st.text(3).toString());
    } else if (rc != SQLITE_DONE) {
        fail(rc);
    }
    return c;
}

QByteArray SyncStore::syncedText(qint64 id) {
    Sqlite::Statement st;
    int rc = st.prepare(m_db, "SELECT \"vcard\" FROM \"sync_card\" WHERE \"ID\"=?");
    if (rc == SQLITE_OK)
        rc = st.bind(1, id);
    if (rc != SQLITE_OK)
        fail(rc);
    rc = st.step();
    if (rc == SQLITE_ROW)
        return QByteArray(static_cast<const char*>(sqlite3_column_blob(st.get(), 0)),
                          sqlite3_column_bytes(st.get(), 0));
    if (rc != SQLITE_DONE)
        fail(rc);
    return QByteArray();
}

QHash<qint64, Card> SyncStore::cards() {
    QHash<qint64, Card> cards;
    CardStore::forEachCard(m_db, QStringLiteral("SELECT * FROM \"zl\""), {},
                           [&](qint64 id, const Card& card) { cards.insert(id, card); });
    return cards;
}

void SyncStore::forEachCard(const std::function<void(qint64 id, const Card& card)>& visit) {
    CardStore::forEachCard(m_db, QStringLiteral("SELECT * FROM \"zl\""), {}, visit);
}

std::optional<Card> SyncStore::card(qint64 id) {
    std::optional<Card> found;
    CardStore::forEachCard(m_db, QStringLiteral("SELECT * FROM \"zl\" WHERE \"ID\"=?"), {id},
                           [&](qint64, const Card& card) { found = card; });
    return found;
}

void SyncStore::transaction(const std::function<void()>& work) {
    int rc = Sqlite::exec(m_db, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK)
        fail(rc);
    try {
        work();
        // What the cards are left as goes with them, so an undo can tell a later change.
        if (History::Operation* operation = History::Operation::current(m_db))
            operation->finish();
    } catch (...) {
        Sqlite::exec(m_db, "ROLLBACK");
        throw;
    }
    rc = Sqlite::exec(m_db, "COMMIT");
    if (rc != SQLITE_OK) {
        Sqlite::exec(m_db, "ROLLBACK");
        fail(rc);
    }
}

void SyncStore::storeSynced(const SyncedCard& synced) {
    // Another card's row at the same address is stale: the server has one card there.
    run("DELETE FROM \"sync_card\" WHERE \"href\"=? AND \"ID\"<>?", {synced.href, synced.id});
    run("INSERT OR REPLACE INTO \"sync_card\" (\"ID\", \"href\", \"etag\", \"vcard\", \"fields\") "
        "VALUES (?, ?, ?, ?, ?)",
        {synced.id, synced.href, QString::fromUtf8(synced.etag), synced.vcard,
         fieldsText(synced.fields)});
}

void SyncStore::dropSynced(qint64 id) {
    run("DELETE FROM \"sync_card\" WHERE \"ID\"=?", {id});
}

void SyncStore::dropAllSynced() {
    run("DELETE FROM \"sync_card\"", {});
    run("DELETE FROM \"sync_created\"", {});
}

void SyncStore::noteCreated(qint64 id) {
    run("INSERT OR IGNORE INTO \"sync_created\" (\"ID\") VALUES (?)", {id});
}

void SyncStore::keepCreated(const QSet<qint64>& ids) {
    run("DELETE FROM \"sync_created\"", {});
    for (const qint64 id : ids)
        noteCreated(id);
}

QList<qint64> SyncStore::created() {
    QList<qint64> ids;
    for (Sqlite::Statement st(m_db, "SELECT \"ID\" FROM \"sync_created\"", m_database.failure());
         st.next();)
        ids << st.int64(0);
    return ids;
}

void SyncStore::writeCard(qint64 id, const Card& card) {
    QStringList sets;
    QVariantList values;
    for (int i = 0; i < int(kFieldMap.size()); ++i) {
        sets << Sqlite::quoted(QString::fromUtf8(kFieldMap[i].column)) + QStringLiteral("=?");
        values << (card.values[i].isNull() ? QString(QLatin1String("")) : card.values[i]);
    }
    values << id;
    History::changing(m_db, id);
    run((QStringLiteral("UPDATE \"zl\" SET ") + sets.join(QLatin1Char(',')) +
         QStringLiteral(" WHERE \"ID\"=?"))
            .toUtf8()
            .constData(),
        values);
    CardIndex::cardWritten(m_db, id, card);
    Duplicates::updateKeys(m_db, id, card);
}

void SyncStore::deleteCard(qint64 id) {
    History::changing(m_db, id, true);
    run("DELETE FROM \"zl\" WHERE \"ID\"=?", {id});
    CardIndex::cardDeleted(m_db, id);
    CardUid::cardDeleted(m_db, id);
    CardPicture::cardDeleted(m_db, id);
    Duplicates::removeKeys(m_db, id);
    dropSynced(id);
}

qint64 SyncStore::addCard(const Card& card, const QString& uid, SyncedCard synced,
                          const std::function<void()>& before) {
    bool given = false;
    const QVector<qint64> ids = CardStore::addCards(
        m_database,
        [&](Card* next) {
            if (given)
                return false;
            given = true;
            *next = card;
            return true;
        },
        {},
        [&](qint64 id) {
            if (before)
                before();
            if (!uid.isEmpty() && CardUid::idOf(m_db, uid) == 0)
                CardUid::set(m_db, id, uid);
            synced.id = id;
            storeSynced(synced);
            Duplicates::updateKeys(m_db, id, card);
        });
    return ids.value(0);
}

QString SyncStore::value(const QString& key) {
    Sqlite::Statement st;
    int rc = st.prepare(m_db, "SELECT \"value\" FROM \"sync_account\" WHERE \"key\"=?");
    if (rc == SQLITE_OK)
        rc = st.bind(1, key);
    if (rc != SQLITE_OK)
        fail(rc);
    rc = st.step();
    if (rc == SQLITE_ROW)
        return st.text(0).toString();
    if (rc != SQLITE_DONE)
        fail(rc);
    return QString();
}

void SyncStore::setValue(const QString& key, const QString& value) {
    run("INSERT OR REPLACE INTO \"sync_account\" (\"key\", \"value\") VALUES (?, ?)", {key, value});
}

} // namespace Sync
