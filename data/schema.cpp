#include "schema.h"

#include "cardpicture.h"
#include "carduid.h"
#include "dberror.h"
#include "dbkey.h"
#include "fieldmap.h"
#include "history.h"
#include "password.h"
#include "sqlite.h"
#include "synctables.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QStringList>
#include <QUuid>
#include <QVector>

namespace {

// Lets the list read every card's "ID" from a few pages instead of the whole table.
const char kIdIndex[] = "CREATE INDEX IF NOT EXISTS \"zl_ID\" ON \"zl\" (\"ID\")";

Sqlite::Failure createFailure(const QString& path) {
    return [path](sqlite3* db, int rc) {
        return QStringLiteral("无法新建数据库：\n%1\n%2")
            .arg(QDir::toNativeSeparators(path),
                 Sqlite::errorText(db, rc).section(QLatin1Char('\n'), -1));
    };
}

void check(sqlite3* db, int rc, const QString& path) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw EDatabaseError(createFailure(path)(db, rc));
}

void insert(sqlite3* db, const char* sql, const QVariantList& values, const QString& path) {
    Sqlite::Statement st;
    check(db, st.prepare(db, sql), path);
    for (int i = 0; i < values.size(); ++i)
        check(db, st.bind(i + 1, values.at(i)), path);
    check(db, st.step(), path);
}

// A random number in the header's user version tells this file from every other one, so
// that a journal left by another database, however alike, is not played into it.
QByteArray identityStatement() {
    const quint32 identity = 1 + QRandomGenerator::system()->bounded(0x7ffffffe);
    return "PRAGMA user_version=" + QByteArray::number(identity);
}

void fill(sqlite3* db, const QString& databasePassword, const QString& userPassword,
          const QString& path) {
    // Large pages: a search reads the whole table, and reads it in far fewer steps.
    check(db, Sqlite::exec(db, "PRAGMA page_size=65536"), path);
    check(db, Sqlite::exec(db, "PRAGMA journal_mode=DELETE"), path);
    Sqlite::Transaction transaction(db, createFailure(path), Sqlite::Transaction::Start::Deferred);
    check(db, Sqlite::exec(db, identityStatement().constData()), path);
    for (const QString& statement : Schema::createStatements())
        check(db, Sqlite::exec(db, statement.toUtf8().constData()), path);
    // The user password is kept in its stored (hashed) form, as the password change writes it.
    insert(db, "INSERT INTO \"yh\" (\"用户密码\") VALUES (?)", {hashPassword(userPassword)}, path);

    QByteArray salt(16, Qt::Uninitialized);
    QRandomGenerator::system()->generate(salt.begin(), salt.end());
    salt = salt.toHex();
    insert(db, "INSERT INTO \"dbkey\" (\"salt\", \"hash\") VALUES (?, ?)",
           {QString::fromLatin1(salt), QString::fromLatin1(DbKey::hash(salt, databasePassword))},
           path);
    transaction.commit();
}

// One object of a schema as the schema table lists it.
struct Object {
    QString type;
    QString name;
    QString table;
    QString sql;
    bool operator==(const Object& other) const {
        return type == other.type && name == other.name && table == other.table && sql == other.sql;
    }
};

size_t qHash(const Object& object, size_t seed = 0) {
    return ::qHash(object.sql, seed) ^ ::qHash(object.name, seed);
}

// The schema table's entries longer than this are not ours (ours are a few hundred bytes);
// they are refused before SQLite reads them.
const int kLongestEntry = 64 * 1024;

// The objects a set of statements makes, exactly as SQLite records them: made in memory,
// so that the comparison follows SQLite's own way of storing the text.
QVector<Object> objectsMadeBy(const QStringList& statements) {
    Sqlite::Database db;
    QVector<Object> objects;
    if (db.open(QString(), Sqlite::OpenMode::Memory) != SQLITE_OK)
        return objects;
    for (const QString& statement : statements)
        db.exec(statement.toUtf8().constData());
    Sqlite::Statement st;
    if (st.prepare(db.get(),
                   "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY rowid") !=
        SQLITE_OK)
        return objects;
    while (st.step() == SQLITE_ROW)
        objects.append({st.text(0).toString(), st.text(1).toString(), st.text(2).toString(),
                        st.text(3).toString()});
    return objects;
}

struct Known {
    QVector<Object> required; // the tables every database of ours has
    QSet<Object> all;         // everything a database of ours may hold
    QSet<QString> ownTables;  // lower case
};

const Known& known() {
    static const Known k = [] {
        Known result;
        const QVector<Object> made = objectsMadeBy(Schema::createStatements());
        for (const Object& object : made) {
            // Indexes come and go between versions; a table is there from the start.
            if (object.type == QLatin1String("table"))
                result.required.append(object);
            result.all.insert(object);
            result.ownTables.insert(object.table.toLower());
        }
        const QVector<Object> optional =
            objectsMadeBy(Schema::createStatements() + Schema::optionalStatements());
        for (const Object& object : optional)
            result.all.insert(object);
        return result;
    }();
    return k;
}

QString describe(const Object& object, const Known& k) {
    const bool own = k.ownTables.contains(object.name.toLower());
    if (object.type == QLatin1String("table"))
        return own ? QStringLiteral("表“%1”的定义与本程序建立的不同").arg(object.name)
                   : QStringLiteral("有本程序不建立的表“%1”").arg(object.name);
    if (object.type == QLatin1String("index"))
        return QStringLiteral("表“%1”上有本程序不建立的索引“%2”").arg(object.table, object.name);
    if (object.type == QLatin1String("trigger"))
        return QStringLiteral("表“%1”上有本程序不建立的触发器“%2”").arg(object.table, object.name);
    if (object.type == QLatin1String("view"))
        return own ? QStringLiteral("“%1”是一个视图，不是本程序建立的表").arg(object.name)
                   : QStringLiteral("有本程序不建立的视图“%1”").arg(object.name);
    return QStringLiteral("有本程序不建立的对象“%1”").arg(object.name);
}

// Keeps an oversized schema entry from being read while the schema is checked.
class EntryLimit {
public:
    explicit EntryLimit(sqlite3* db)
        : m_db(db)
        , m_length(sqlite3_limit(db, SQLITE_LIMIT_LENGTH, kLongestEntry))
        , m_sql(sqlite3_limit(db, SQLITE_LIMIT_SQL_LENGTH, kLongestEntry)) {}
    ~EntryLimit() {
        sqlite3_limit(m_db, SQLITE_LIMIT_LENGTH, m_length);
        sqlite3_limit(m_db, SQLITE_LIMIT_SQL_LENGTH, m_sql);
    }
    EntryLimit(const EntryLimit&) = delete;
    EntryLimit& operator=(const EntryLimit&) = delete;

private:
    sqlite3* m_db;
    int m_length;
    int m_sql;
};

} // namespace

namespace Schema {

QStringList createStatements() {
    QStringList columns;
    columns << QStringLiteral("\"ID\" INTEGER PRIMARY KEY AUTOINCREMENT");
    // Plain TEXT with no constraints: the tables must take any text, the empty one included.
    for (const FieldMapEntry& entry : kFieldMap)
        columns << Sqlite::quoted(QString::fromUtf8(entry.column)) + QStringLiteral(" TEXT");
    columns << QStringLiteral("\"添加日期\" TEXT NOT NULL DEFAULT (date('now','localtime'))");
    return {
        QStringLiteral("CREATE TABLE \"zl\" (") + columns.join(QStringLiteral(", ")) +
            QLatin1Char(')'),
        QStringLiteral("CREATE TABLE \"yh\" (\"ID\" INTEGER PRIMARY KEY AUTOINCREMENT, "
                       "\"用户密码\" TEXT)"),
        QStringLiteral("CREATE TABLE \"dbkey\" (\"salt\" TEXT NOT NULL, \"hash\" TEXT NOT NULL)"),
        // Older files lack it until they are first opened: an index here is optional.
        QStringLiteral("CREATE INDEX \"zl_ID\" ON \"zl\" (\"ID\")"),
    };
}

QStringList optionalStatements() {
    // What later versions add to existing databases, from the code that makes it.
    return quickFindStatements() + CardUid::schemaStatements() + duplicateKeyStatements() +
           SyncTables::schemaStatements() + History::schemaStatements() +
           CardPicture::schemaStatements();
}

QStringList quickFindStatements() {
    return {
        QStringLiteral("CREATE TABLE \"quickfind_meta\" (\"name\" TEXT PRIMARY KEY NOT NULL, "
                       "\"value\" TEXT NOT NULL) WITHOUT ROWID"),
        QStringLiteral("CREATE TABLE \"quickfind_chunk\" (\"chunk\" INTEGER PRIMARY KEY, "
                       "\"ids\" BLOB NOT NULL)"),
        QStringLiteral("CREATE TABLE \"quickfind_block\" (\"chunk\" INTEGER NOT NULL, "
                       "\"first\" BLOB NOT NULL, \"data\" BLOB NOT NULL, "
                       "PRIMARY KEY (\"chunk\", \"first\")) WITHOUT ROWID"),
        QStringLiteral("CREATE TABLE \"quickfind_part\" (\"chunk\" INTEGER NOT NULL, "
                       "\"key\" BLOB NOT NULL, \"part\" INTEGER NOT NULL, \"data\" BLOB NOT NULL, "
                       "PRIMARY KEY (\"chunk\", \"key\", \"part\")) WITHOUT ROWID"),
        QStringLiteral("CREATE TABLE \"quickfind_dirty\" (\"ID\" INTEGER PRIMARY KEY)"),
        // Added with format 2: a file of format 1 is built again once.
        QStringLiteral("CREATE TABLE \"quickfind_sum\" (\"chunk\" INTEGER PRIMARY KEY, "
                       "\"sums\" BLOB NOT NULL)"),
    };
}

QStringList duplicateKeyStatements() {
    // One row per identifying key of a card, its kind as the key's first letter ("p" a phone,
    // "m" a mobile, "e" an e-mail, "n" a name with its company), so one index finds them all.
    return {
        QStringLiteral("CREATE TABLE \"dup_keys\" (\"ID\" INTEGER NOT NULL, \"key\" TEXT NOT "
                       "NULL)"),
        QStringLiteral("CREATE INDEX \"dup_keys_key\" ON \"dup_keys\" (\"key\", \"ID\")"),
        QStringLiteral("CREATE INDEX \"dup_keys_ID\" ON \"dup_keys\" (\"ID\")"),
        // A checksum of each card as its keys were made from it: tells cards another program
        // wrote since.
        QStringLiteral("CREATE TABLE \"dup_sums\" (\"ID\" INTEGER PRIMARY KEY, \"sum\" INTEGER NOT "
                       "NULL)"),
    };
}

QString schemaProblem(sqlite3* db, Strictness strictness, int* rc, bool* missing) {
    if (missing)
        *missing = false;
    const Known& k = known();
    EntryLimit limit(db);
    Sqlite::Statement st;
    *rc = st.prepare(db, "SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY rowid");
    if (*rc != SQLITE_OK)
        return QString();
    QSet<QString> present;
    QString problem;
    while (problem.isEmpty() && (*rc = st.step()) == SQLITE_ROW) {
        const Object object{st.text(0).toString(), st.text(1).toString(), st.text(2).toString(),
                            st.text(3).toString()};
        present.insert(object.type + QLatin1Char('/') + object.name.toLower());
        if (k.all.contains(object))
            continue;
        // Another program's tables may stand beside ours in the database in use, as long as
        // nothing of theirs acts on ours.
        if (strictness == Strictness::OwnTables && !k.ownTables.contains(object.table.toLower()) &&
            !k.ownTables.contains(object.name.toLower()))
            continue;
        problem = describe(object, k);
    }
    if (*rc != SQLITE_ROW && *rc != SQLITE_DONE)
        return QString();
    *rc = SQLITE_OK;
    if (!problem.isEmpty())
        return problem;
    for (const Object& object : k.required) {
        if (!present.contains(object.type + QLatin1Char('/') + object.name.toLower())) {
            if (missing)
                *missing = true;
            return QStringLiteral("缺少表“%1”").arg(object.name);
        }
    }
    return QString();
}

int addMissingParts(sqlite3* db) {
    int rc = SQLITE_OK;
    const QStringList found = Sqlite::firstColumn(
        db, "SELECT name FROM sqlite_master WHERE name IN ('zl', 'zl_ID')", &rc);
    if (rc != SQLITE_OK || !found.contains(QStringLiteral("zl")))
        return rc;
    const QStringList version = Sqlite::firstColumn(db, "PRAGMA user_version", &rc);
    if (rc != SQLITE_OK)
        return rc;
    const bool hasIdentity = version.value(0) != QLatin1String("0");
    const QStringList uids = Sqlite::firstColumn(
        db, "SELECT name FROM sqlite_master WHERE type='table' AND name='card_uid'", &rc);
    if (rc != SQLITE_OK)
        return rc;
    if (found.contains(QStringLiteral("zl_ID")) && hasIdentity && !uids.isEmpty())
        return SQLITE_OK;
    // Not worth waiting for: while another program holds the file, it is done another time.
    sqlite3_busy_timeout(db, 0);
    rc = Sqlite::exec(db, kIdIndex);
    if (rc == SQLITE_OK && !hasIdentity)
        rc = Sqlite::exec(db, identityStatement().constData());
    if (rc == SQLITE_OK)
        rc = CardUid::addTable(db);
    sqlite3_busy_timeout(db, Sqlite::kBusyTimeoutMs);
    return rc;
}

void createDatabase(const QString& path, const QString& databasePassword,
                    const QString& userPassword) {
    if (QFileInfo::exists(path))
        throw EDatabaseError(QStringLiteral("无法新建数据库：文件已经存在，没有覆盖它。\n%1")
                                 .arg(QDir::toNativeSeparators(path)));

    // Built under a temporary name beside the target, then renamed: a half-made file never
    // carries the real name.
    const QFileInfo target(path);
    const QString temp = target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                         QLatin1Char('.') + QUuid::createUuid().toString(QUuid::Id128) +
                         QStringLiteral(".tmp");
    Sqlite::Database db;
    const int rc = db.open(temp, Sqlite::OpenMode::Create);
    try {
        check(db.get(), rc, path);
        fill(db.get(), databasePassword, userPassword, path);
        // A new file starts with the quick find's tables, so it never needs building: with
        // no cards, the index is the empty tables and its format.
        for (const QString& statement : quickFindStatements())
            check(db.get(), Sqlite::exec(db.get(), statement.toUtf8().constData()), path);
        insert(db.get(),
               "INSERT INTO \"quickfind_meta\" (\"name\", \"value\") VALUES ('format', ?)",
               {QString::number(kQuickFindFormat)}, path);
        check(db.get(), CardUid::addTable(db.get()), path);
        // And with the duplicate keys, in step with no cards.
        for (const QString& statement : duplicateKeyStatements())
            check(db.get(), Sqlite::exec(db.get(), statement.toUtf8().constData()), path);
    } catch (...) {
        db.close();
        QFile::remove(temp);
        QFile::remove(temp + QStringLiteral("-journal"));
        throw;
    }
    db.close();
    if (!QFile::rename(temp, path)) {
        QFile::remove(temp);
        throw EDatabaseError(QStringLiteral("无法新建数据库：新文件不能放到目标位置。"
                                            "请检查文件夹的写入权限。\n%1")
                                 .arg(QDir::toNativeSeparators(path)));
    }
}

} // namespace Schema
