#include "schema.h"

#include "dberror.h"
#include "dbkey.h"
#include "fieldmap.h"
#include "password.h"
#include "sqlite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringList>
#include <QUuid>

namespace {

// Lets the list read every card's "ID" from a few pages instead of the whole table.
const char kIdIndex[] = "CREATE INDEX IF NOT EXISTS \"zl_ID\" ON \"zl\" (\"ID\")";

QString createStatements() {
    QStringList columns;
    columns << QStringLiteral("\"ID\" INTEGER PRIMARY KEY AUTOINCREMENT");
    // Plain TEXT with no constraints: the tables must take any text, the empty one included.
    for (const FieldMapEntry& entry : kFieldMap)
        columns << Sqlite::quoted(QString::fromUtf8(entry.column)) + QStringLiteral(" TEXT");
    columns << QStringLiteral("\"添加日期\" TEXT NOT NULL DEFAULT (date('now','localtime'))");
    return QStringLiteral("CREATE TABLE \"zl\" (") + columns.join(QStringLiteral(", ")) +
           QStringLiteral(
               ");"
               "CREATE TABLE \"yh\" (\"ID\" INTEGER PRIMARY KEY AUTOINCREMENT, "
               "\"用户密码\" TEXT);"
               "CREATE TABLE \"dbkey\" (\"salt\" TEXT NOT NULL, \"hash\" TEXT NOT NULL);") +
           QString::fromLatin1(kIdIndex) + QLatin1Char(';');
}

void check(sqlite3* db, int rc, const QString& path) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw EDatabaseError(QStringLiteral("无法新建数据库：\n%1\n%2")
                                 .arg(QDir::toNativeSeparators(path),
                                      Sqlite::errorText(db, rc).section(QLatin1Char('\n'), -1)));
}

void insert(sqlite3* db, const char* sql, const QVariantList& values, const QString& path) {
    Sqlite::Statement st;
    check(db, st.prepare(db, sql), path);
    for (int i = 0; i < values.size(); ++i)
        check(db, st.bind(i + 1, values.at(i)), path);
    check(db, st.step(), path);
}

void fill(sqlite3* db, const QString& databasePassword, const QString& userPassword,
          const QString& path) {
    // Large pages: a search reads the whole table, and reads it in far fewer steps.
    check(db, Sqlite::exec(db, "PRAGMA page_size=65536"), path);
    check(db, Sqlite::exec(db, "PRAGMA journal_mode=DELETE"), path);
    check(db, Sqlite::exec(db, "BEGIN"), path);
    check(db, Sqlite::exec(db, createStatements().toUtf8().constData()), path);
    // The user password is kept in its stored (hashed) form, as the password change writes it.
    insert(db, "INSERT INTO \"yh\" (\"用户密码\") VALUES (?)", {hashPassword(userPassword)}, path);

    QByteArray salt(16, Qt::Uninitialized);
    QRandomGenerator::system()->generate(salt.begin(), salt.end());
    salt = salt.toHex();
    insert(db, "INSERT INTO \"dbkey\" (\"salt\", \"hash\") VALUES (?, ?)",
           {QString::fromLatin1(salt), QString::fromLatin1(DbKey::hash(salt, databasePassword))},
           path);
    check(db, Sqlite::exec(db, "COMMIT"), path);
}

} // namespace

namespace Schema {

int addMissingIndexes(sqlite3* db) {
    int rc = SQLITE_OK;
    const QStringList found = Sqlite::firstColumn(
        db, "SELECT name FROM sqlite_master WHERE name IN ('zl', 'zl_ID')", &rc);
    if (rc != SQLITE_OK || !found.contains(QStringLiteral("zl")) ||
        found.contains(QStringLiteral("zl_ID")))
        return rc;
    // Not worth waiting for: while another program holds the file, it is done another time.
    sqlite3_busy_timeout(db, 0);
    rc = Sqlite::exec(db, kIdIndex);
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
