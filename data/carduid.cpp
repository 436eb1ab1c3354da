#include "carduid.h"

#include "dberror.h"
#include "sidetable.h"
#include "sqlite.h"

#include <QUuid>

#include <algorithm>
#include <limits>

namespace CardUid {

namespace {

const char kCreate[] = "CREATE TABLE \"card_uid\" (\"ID\" INTEGER PRIMARY KEY, "
                       "\"uid\" TEXT NOT NULL UNIQUE)";

[[noreturn]] void fail(sqlite3* db, int rc) {
    throw EDatabaseError(Sqlite::errorText(db, rc));
}

bool hasTable(sqlite3* db) {
    return SideTable::exists(db, "card_uid");
}

// Runs a statement with bound values; the first column of its first row, if any.
QVariant run(sqlite3* db, const char* sql, const QVariantList& values) {
    Sqlite::Statement st;
    int rc = st.prepare(db, sql);
    for (int i = 0; rc == SQLITE_OK && i < values.size(); ++i)
        rc = st.bind(i + 1, values.at(i));
    if (rc != SQLITE_OK)
        fail(db, rc);
    rc = st.step();
    if (rc == SQLITE_ROW)
        return st.text(0);
    if (rc != SQLITE_DONE)
        fail(db, rc);
    return QVariant();
}

const char kSet[] = "INSERT OR REPLACE INTO \"card_uid\" (\"ID\", \"uid\") VALUES";

QString identityOf(sqlite3* db) {
    int rc = SQLITE_OK;
    const QString identity = Sqlite::firstColumn(db, "PRAGMA user_version", &rc).value(0);
    if (rc != SQLITE_OK)
        fail(db, rc);
    return identity;
}

// From the file's own identity number and the card's ID: the same whenever it is made, so a
// file that cannot be written to still gives each card the UID it will keep.
QString uidFrom(const QString& identity, qint64 id) {
    static const QUuid space(QStringLiteral("{6b1d4a52-8f0e-4c27-9a51-0d3c2e7f41b9}"));
    return QStringLiteral("urn:uuid:") +
           QUuid::createUuidV5(space, identity + QLatin1Char(':') + QString::number(id))
               .toString(QUuid::WithoutBraces);
}

} // namespace

QStringList schemaStatements() {
    return {QString::fromLatin1(kCreate)};
}

int addTable(sqlite3* db) {
    return SideTable::addMissing(db, {{"card_uid", kCreate}});
}

QString uidOf(sqlite3* db, qint64 id) {
    if (!hasTable(db))
        return QString();
    return run(db, "SELECT \"uid\" FROM \"card_uid\" WHERE \"ID\"=?", {id}).toString();
}

qint64 idOf(sqlite3* db, const QString& uid) {
    if (uid.isEmpty() || !hasTable(db))
        return 0;
    return run(db, "SELECT \"ID\" FROM \"card_uid\" WHERE \"uid\"=?", {uid}).toLongLong();
}

QString ensure(sqlite3* db, qint64 id) {
    const QString known = uidOf(db, id);
    if (!known.isEmpty())
        return known;
    const QString uid = madeUid(db, id);
    set(db, id, uid);
    return uid;
}

QString madeUid(sqlite3* db, qint64 id) {
    return uidFrom(identityOf(db), id);
}

struct Batch::Statements {
    Sqlite::Statement uidOf, idOf;
};

Batch::Batch(sqlite3* db)
    : m_db(db)
    , m_st(std::make_unique<Statements>())
    , m_identity(identityOf(db)) {
    int rc = addTable(db);
    if (rc == SQLITE_OK)
        rc = m_st->uidOf.prepare(db, "SELECT \"uid\" FROM \"card_uid\" WHERE \"ID\"=?");
    if (rc == SQLITE_OK)
        rc = m_st->idOf.prepare(db, "SELECT \"ID\" FROM \"card_uid\" WHERE \"uid\"=?");
    if (rc != SQLITE_OK)
        fail(db, rc);
    // A card of a higher ID than any here has no UID yet: new cards need not be looked up.
    const QStringList highest =
        Sqlite::firstColumn(db, "SELECT max(\"ID\") FROM \"card_uid\"", &rc);
    if (rc != SQLITE_OK)
        fail(db, rc);
    m_highest = highest.value(0).isEmpty() ? std::numeric_limits<qint64>::min()
                                           : highest.value(0).toLongLong();
    const Sqlite::Failure failure = Sqlite::fileFailure({});
    m_st->uidOf.setFailure(failure);
    m_st->idOf.setFailure(failure);
}

Batch::~Batch() = default;

qint64 Batch::idOf(const QString& uid) {
    if (uid.isEmpty())
        return 0;
    const auto queued = m_queuedIds.constFind(uid);
    if (queued != m_queuedIds.constEnd())
        return queued.value();
    Sqlite::Statement& st = m_st->idOf;
    st.set(1, uid);
    const qint64 id = st.next() ? st.int64(0) : 0;
    st.rewind();
    return id;
}

QString Batch::storedUid(qint64 id) {
    if (id > m_highest)
        return QString();
    const auto queued = m_queuedUids.constFind(id);
    if (queued != m_queuedUids.constEnd())
        return queued.value();
    Sqlite::Statement& st = m_st->uidOf;
    st.set(1, id);
    const QString known = st.next() ? st.text(0).toString() : QString();
    st.rewind();
    return known;
}

QString Batch::ensure(qint64 id) {
    const QString known = storedUid(id);
    if (!known.isEmpty())
        return known;
    const QString uid = uidFrom(m_identity, id);
    set(id, uid);
    return uid;
}

void Batch::ensureAll(const std::vector<qint64>& ids) {
    for (const qint64 id : ids) {
        if (storedUid(id).isEmpty())
            set(id, uidFrom(m_identity, id));
    }
    flush();
}

void Batch::set(qint64 id, const QString& uid) {
    m_queue.emplace_back(uid, id);
    m_queuedIds.insert(uid, id);
    m_queuedUids.insert(id, uid);
    m_highest = std::max(m_highest, id);
    // A few thousand at a time: sorted enough, and the memory stays small.
    if (m_queue.size() >= 8192)
        flush();
}

void Batch::flush() {
    std::sort(m_queue.begin(), m_queue.end());
    QVariantList rows;
    rows.reserve(qsizetype(m_queue.size()) * 2);
    for (const auto& [uid, id] : m_queue)
        rows << id << uid;
    Sqlite::insertRows(m_db, kSet, 2, rows, Sqlite::fileFailure({}));
    m_queue.clear();
    m_queuedIds.clear();
    m_queuedUids.clear();
}

void set(sqlite3* db, qint64 id, const QString& uid) {
    const int rc = addTable(db);
    if (rc != SQLITE_OK)
        fail(db, rc);
    Sqlite::insertRows(db, kSet, 2, {id, uid}, Sqlite::fileFailure({}));
}

void cardDeleted(sqlite3* db, qint64 id) {
    if (hasTable(db))
        run(db, "DELETE FROM \"card_uid\" WHERE \"ID\"=?", {id});
}

} // namespace CardUid
