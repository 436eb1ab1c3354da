#include "serverlisting.h"

namespace Sync {

namespace {

// A listed card not synced here in the version listed; an empty version says nothing.
const char kToFetch[] = "SELECT l.\"href\" FROM temp.\"sync_listing\" l LEFT JOIN \"sync_card\" s "
                        "ON s.\"href\"=l.\"href\" WHERE (s.\"ID\" IS NULL OR s.\"etag\" IS NOT "
                        "l.\"etag\" OR l.\"etag\"='')";

QByteArray sql(const char* tail) {
    return QByteArray(kToFetch) + tail;
}

} // namespace

ServerListing::ServerListing(const Sqlite::Database& db)
    : m_database(db) {
    // Left by a sync that stopped: this one starts afresh.
    Sqlite::run(db.get(),
                "CREATE TEMP TABLE IF NOT EXISTS \"sync_listing\" (\"href\" TEXT PRIMARY KEY, "
                "\"etag\" TEXT) WITHOUT ROWID; DELETE FROM temp.\"sync_listing\"",
                db.failure());
    m_insert.setFailure(db.failure());
    m_insert.check(m_insert.prepare(db.get(), "INSERT OR REPLACE INTO temp.\"sync_listing\" "
                                              "(\"href\", \"etag\") VALUES (?, ?)"));
}

ServerListing::~ServerListing() {
    m_insert.reset();
    m_database.exec("DROP TABLE IF EXISTS temp.\"sync_listing\"");
}

void ServerListing::add(const QString& href, const QByteArray& etag) {
    m_insert.setAll({href, QString::fromUtf8(etag)}).run();
}

bool ServerListing::contains(const QString& href) {
    Sqlite::Statement st(m_database.get(), "SELECT 1 FROM temp.\"sync_listing\" WHERE \"href\"=?",
                         m_database.failure());
    return st.setAll({href}).next();
}

void ServerListing::forEachUnlisted(const std::function<void(const QString&)>& visit) {
    Sqlite::Statement st(m_database.get(),
                         "SELECT \"href\" FROM \"sync_card\" s WHERE NOT EXISTS (SELECT 1 FROM "
                         "temp.\"sync_listing\" l WHERE l.\"href\"=s.\"href\")",
                         m_database.failure());
    while (st.next())
        visit(st.text(0).toString());
}

bool ServerListing::needsFetch(const QString& href) {
    Sqlite::Statement st(m_database.get(), sql(" AND l.\"href\"=?"), m_database.failure());
    return st.setAll({href}).next();
}

int ServerListing::fetchCount() {
    Sqlite::Statement st(m_database.get(), "SELECT count(*) FROM (" + sql("") + QByteArray(")"),
                         m_database.failure());
    return st.next() ? int(st.int64(0)) : 0;
}

QStringList ServerListing::toFetch(const QString& after, int limit) {
    Sqlite::Statement st(m_database.get(), sql(" AND l.\"href\">? ORDER BY l.\"href\" LIMIT ?"),
                         m_database.failure());
    st.setAll({after, limit});
    QStringList hrefs;
    while (st.next())
        hrefs << st.text(0).toString();
    return hrefs;
}

UnsyncedNames::UnsyncedNames(const Sqlite::Database& db)
    : m_database(db) {
    Sqlite::run(db.get(),
                "CREATE TEMP TABLE IF NOT EXISTS \"sync_unsynced\" (\"name\" TEXT, \"ID\" "
                "INTEGER, PRIMARY KEY (\"name\", \"ID\")) WITHOUT ROWID; DELETE FROM "
                "temp.\"sync_unsynced\"",
                db.failure());
    m_insert.setFailure(db.failure());
    m_insert.check(m_insert.prepare(
        db.get(), "INSERT OR IGNORE INTO temp.\"sync_unsynced\" (\"name\", \"ID\") VALUES (?, ?)"));
    m_named.setFailure(db.failure());
    m_named.check(m_named.prepare(
        db.get(), "SELECT \"ID\" FROM temp.\"sync_unsynced\" WHERE \"name\"=? ORDER BY \"ID\""));
}

UnsyncedNames::~UnsyncedNames() {
    m_insert.reset();
    m_named.reset();
    m_database.exec("DROP TABLE IF EXISTS temp.\"sync_unsynced\"");
}

void UnsyncedNames::add(const QString& name, qint64 id) {
    m_insert.setAll({name, id}).run();
}

QList<qint64> UnsyncedNames::named(const QString& name) {
    QList<qint64> ids;
    m_named.setAll({name});
    while (m_named.next())
        ids << m_named.int64(0);
    m_named.rewind();
    return ids;
}

} // namespace Sync
