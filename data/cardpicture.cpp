#include "cardpicture.h"

#include "dberror.h"
#include "sidetable.h"
#include "sqlite.h"

namespace CardPicture {

namespace {

// "deleted" is set while the card is gone and its history may bring it back.
const char kCreate[] = "CREATE TABLE \"card_picture\" (\"ID\" INTEGER NOT NULL, "
                       "\"side\" INTEGER NOT NULL, \"jpeg\" BLOB NOT NULL, "
                       "\"deleted\" INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (\"ID\", \"side\"))";

bool hasTable(sqlite3* db, const char* name = "card_picture") {
    return SideTable::exists(db, name);
}

Sqlite::Statement statement(sqlite3* db, const char* sql) {
    return Sqlite::Statement(db, sql, Sqlite::fileFailure({}));
}

} // namespace

QStringList schemaStatements() {
    return {QString::fromLatin1(kCreate)};
}

int addTable(sqlite3* db) {
    return SideTable::addMissing(db, {{"card_picture", kCreate}});
}

void store(sqlite3* db, qint64 id, Side side, const QByteArray& jpeg) {
    const int rc = addTable(db);
    if (rc != SQLITE_OK)
        throw EDatabaseError(Sqlite::errorText(db, rc));
    purge(db, id);
    Sqlite::Statement st(db,
                         "INSERT OR REPLACE INTO \"card_picture\" (\"ID\", \"side\", \"jpeg\") "
                         "VALUES (?, ?, ?)",
                         Sqlite::fileFailure({}));
    st.set(1, id).set(2, qint64(side));
    st.set(3, std::string_view(jpeg.constData(), std::size_t(jpeg.size()))).run();
}

QByteArray read(sqlite3* db, qint64 id, Side side) {
    if (!hasTable(db))
        return QByteArray();
    Sqlite::Statement st(db,
                         "SELECT \"jpeg\" FROM \"card_picture\" WHERE \"ID\"=? AND \"side\"=? "
                         "AND \"deleted\"=0",
                         Sqlite::fileFailure({}));
    st.set(1, id).set(2, qint64(side));
    if (!st.next())
        return QByteArray();
    const std::string_view bytes = st.blob(0);
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

QVector<Side> sides(sqlite3* db, qint64 id) {
    QVector<Side> found;
    if (!hasTable(db))
        return found;
    Sqlite::Statement st(db,
                         "SELECT \"side\" FROM \"card_picture\" WHERE \"ID\"=? AND "
                         "\"deleted\"=0 ORDER BY \"side\"",
                         Sqlite::fileFailure({}));
    st.set(1, id);
    while (st.next())
        found.append(st.int64(0) == 0 ? Side::Front : Side::Back);
    return found;
}

qint64 cardsWithPictures(sqlite3* db) {
    if (!hasTable(db))
        return 0;
    Sqlite::Statement st =
        statement(db, "SELECT count(DISTINCT \"ID\") FROM \"card_picture\" WHERE \"deleted\"=0");
    return st.next() ? st.int64(0) : 0;
}

void replace(const Sqlite::Database& db, qint64 id, Side side, const QByteArray& jpeg) {
    Sqlite::Transaction transaction(db.get(), db.failure());
    Sqlite::Statement card(db.get(), "SELECT 1 FROM \"zl\" WHERE \"ID\"=?", db.failure());
    card.set(1, id);
    if (!card.next())
        throw EDatabaseError(QStringLiteral("这张名片已被其他程序删除，图片没有保存。"));
    store(db.get(), id, side, jpeg);
    transaction.commit();
}

void remove(const Sqlite::Database& db, qint64 id, Side side) {
    if (!hasTable(db.get()))
        return;
    Sqlite::Transaction transaction(db.get(), db.failure());
    Sqlite::Statement st(db.get(),
                         "DELETE FROM \"card_picture\" WHERE \"ID\"=? AND \"side\">=? AND "
                         "\"deleted\"=0",
                         db.failure());
    st.set(1, id).set(2, qint64(side)).run();
    transaction.commit();
}

void cardDeleted(sqlite3* db, qint64 id) {
    if (!hasTable(db))
        return;
    statement(db, "UPDATE \"card_picture\" SET \"deleted\"=1 WHERE \"ID\"=?").set(1, id).run();
    purge(db, id);
}

void cardWritten(sqlite3* db, qint64 id) {
    if (!hasTable(db))
        return;
    statement(db, "UPDATE \"card_picture\" SET \"deleted\"=0 WHERE \"ID\"=? AND \"deleted\"<>0")
        .set(1, id)
        .run();
}

void purge(sqlite3* db, qint64 keep) {
    if (!hasTable(db))
        return;
    // The card just deleted is kept: its history is written after it.
    const char* sql =
        hasTable(db, "card_history_rows")
            ? "DELETE FROM \"card_picture\" WHERE \"deleted\"<>0 AND \"ID\"<>? AND \"ID\" NOT "
              "IN (SELECT \"ID\" FROM \"card_history_rows\")"
            : "DELETE FROM \"card_picture\" WHERE \"deleted\"<>0 AND \"ID\"<>?";
    statement(db, sql).set(1, keep).run();
}

} // namespace CardPicture
