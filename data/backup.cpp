#include "backup.h"

#include "connectionstring.h"
#include "dbkey.h"
#include "fieldmap.h"
#include "sqlitestatement.h"

#include "platform/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUrl>

namespace {

// As long as the connection itself waits for another program's short write.
const int kBusyTimeoutMs = 1500;

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

bool fail(QString* reason, const QString& why) {
    if (reason)
        *reason = why;
    return false;
}

bool isBusy(int rc) {
    return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
}

QString lockedText(const QString& file) {
    return QStringLiteral("The database file \"%1\" is in use by another program; close it and "
                          "try again")
        .arg(native(file));
}

/// A raw connection, closed when it goes out of scope.
class Connection {
public:
    Connection() = default;
    ~Connection() { close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    /// Opens by URI, so that `query` can say how; never creates the file.
    int open(const QString& file, const char* query, int flags) {
        const QString uri =
            QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()).toString(QUrl::FullyEncoded) +
            QLatin1String(query);
        const int rc =
            sqlite3_open_v2(uri.toUtf8().constData(), &m_db, flags | SQLITE_OPEN_URI, nullptr);
        if (rc == SQLITE_OK)
            sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
        return rc;
    }
    void close() {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
    sqlite3* get() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
};

/// The first column of each row `sql` gives; `rc` receives SQLite's last result code.
QStringList firstColumn(sqlite3* db, const QByteArray& sql, int* rc) {
    QStringList values;
    SqliteStatement st;
    *rc = st.prepare(db, sql);
    if (*rc != SQLITE_OK)
        return values;
    while ((*rc = st.step()) == SQLITE_ROW)
        values << st.text(0).toString();
    if (*rc == SQLITE_DONE)
        *rc = SQLITE_OK;
    return values;
}

QString missingColumn(sqlite3* db, const char* table, const QStringList& columns, int* rc) {
    const QByteArray sql = QByteArrayLiteral("SELECT \"name\" FROM pragma_table_info('") + table +
                           QByteArrayLiteral("')");
    QSet<QString> present;
    for (const QString& name : firstColumn(db, sql, rc))
        present.insert(name.toLower());
    if (*rc != SQLITE_OK)
        return QString();
    if (present.isEmpty())
        return QStringLiteral("it has no table %1").arg(QLatin1String(table));
    for (const QString& column : columns) {
        if (!present.contains(column.toLower()))
            return QStringLiteral("table %1 has no column %2").arg(QLatin1String(table), column);
    }
    return QString();
}

} // namespace

bool isRestorableBackup(const QString& file, const QString& connectionString, QString* reason) {
    auto notRestorable = [&](const QString& why) {
        return fail(reason, QStringLiteral("\"%1\": %2").arg(native(file), why));
    };
    const QFileInfo info(file);
    if (!info.exists())
        return notRestorable(QStringLiteral("the file does not exist"));
    if (!info.isFile())
        return notRestorable(QStringLiteral("not a file"));
    const QString header = Sqlite::headerProblem(file);
    if (!header.isEmpty())
        return notRestorable(header);

    // Immutable: no lock, no journal looked for or rolled back, so the check reads exactly
    // the bytes a restore would copy, and leaves the file as it was.
    Connection db;
    int rc = db.open(file, "?mode=ro&immutable=1", SQLITE_OPEN_READONLY);
    if (rc != SQLITE_OK)
        return notRestorable(Sqlite::errorText(db.get(), rc));

    SqliteStatement key;
    rc = key.prepare(db.get(), "SELECT \"salt\", \"hash\" FROM \"dbkey\"");
    if (rc == SQLITE_OK)
        rc = key.step();
    if (rc == SQLITE_DONE || (rc & 0xff) == SQLITE_ERROR)
        return notRestorable(QStringLiteral("it carries no database password record"));
    if (rc != SQLITE_ROW)
        return notRestorable(Sqlite::errorText(db.get(), rc));
    const QString password = ConnectionString::parse(connectionString)
                                 .value(QStringLiteral("Jet OLEDB:Database Password"));
    if (DbKey::hash(key.text(0).toString().toUtf8(), password) != key.text(1).toString().toUtf8())
        return notRestorable(QStringLiteral("the database password does not match"));

    QStringList cardColumns;
    for (const char* column : kCardColumns)
        cardColumns << QString::fromUtf8(column);
    QString missing = missingColumn(db.get(), "zl", cardColumns, &rc);
    if (missing.isEmpty() && rc == SQLITE_OK)
        missing = missingColumn(db.get(), "yh", {QStringLiteral("用户密码")}, &rc);
    if (!missing.isEmpty())
        return notRestorable(missing);
    if (rc != SQLITE_OK)
        return notRestorable(Sqlite::errorText(db.get(), rc));

    const QStringList problems = firstColumn(db.get(), "PRAGMA integrity_check", &rc);
    if (rc != SQLITE_OK)
        return notRestorable(Sqlite::errorText(db.get(), rc));
    if (problems != QStringList{QStringLiteral("ok")})
        return notRestorable(problems.value(0, QStringLiteral("the integrity check failed")));
    return true;
}

bool backupDatabase(const QString& database, const QString& backup, QString* reason) {
    if (!QFileInfo(database).isFile())
        return fail(
            reason,
            QStringLiteral("Could not find the database file \"%1\"").arg(native(database)));
    // A read transaction keeps writers out until the copy is done. Read-write, so that a
    // journal left by a crash is rolled back before the bytes are copied.
    Connection db;
    int rc = db.open(database, "?mode=rw", SQLITE_OPEN_READWRITE);
    if (rc == SQLITE_OK)
        rc = Sqlite::exec(db.get(), "BEGIN");
    if (rc == SQLITE_OK)
        firstColumn(db.get(), "SELECT count(*) FROM sqlite_master", &rc);
    if (isBusy(rc))
        return fail(reason, lockedText(database));
    // A backup of a file SQLite cannot read would only replace a good one.
    if (rc != SQLITE_OK)
        return fail(reason, QStringLiteral("The database file \"%1\" cannot be read: %2")
                                .arg(native(database), Sqlite::errorText(db.get(), rc)));
    // Closing any handle on the file drops the process's locks on it, so this one stays
    // open until the connection has let go.
    QFile in(database);
    if (!in.open(QIODevice::ReadOnly))
        return fail(reason, QStringLiteral("%1: %2").arg(native(database), in.errorString()));
    const bool copied = Platform::copyFileReplacing(in, backup, reason);
    db.close();
    return copied;
}

bool restoreDatabase(const QString& backup, const QString& database, QString* reason) {
    if (!QFileInfo(backup).isFile())
        return fail(reason,
                    QStringLiteral("Could not find the backup file \"%1\"").arg(native(backup)));
    // Held across the rename, so that no other program is in the middle of a write to the
    // file being replaced. A database SQLite cannot open is simply replaced: that is what a
    // restore is for.
    Connection db;
    if (QFileInfo(database).isFile()) {
        int rc = db.open(database, "?mode=rw", SQLITE_OPEN_READWRITE);
        if (rc == SQLITE_OK)
            rc = Sqlite::exec(db.get(), "BEGIN EXCLUSIVE");
        if (isBusy(rc))
            return fail(reason, lockedText(database));
    }
    // SQLite would play a journal found beside the database into the restored file.
    const QString journal = database + QStringLiteral("-journal");
    if (QFileInfo::exists(journal) && !QFile::remove(journal))
        return fail(
            reason,
            QStringLiteral("The old journal \"%1\" cannot be removed").arg(native(journal)));
    const bool copied = Platform::copyFileReplacing(backup, database, reason);
    db.close();
    return copied;
}
