#include "backup.h"

#include "connectionstring.h"
#include "dbkey.h"
#include "fieldmap.h"
#include "sqlite.h"

#include "platform/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {

using Sqlite::native;

bool fail(QString* reason, const QString& why) {
    if (reason)
        *reason = why;
    return false;
}

QString missingColumn(sqlite3* db, const char* table, const QStringList& columns, int* rc) {
    const QByteArray sql = QByteArrayLiteral("SELECT \"name\" FROM pragma_table_info('") + table +
                           QByteArrayLiteral("')");
    QSet<QString> present;
    for (const QString& name : Sqlite::firstColumn(db, sql, rc))
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
    Sqlite::Database db;
    int rc = db.open(file, Sqlite::OpenMode::Immutable);
    if (rc != SQLITE_OK)
        return notRestorable(Sqlite::technicalText(db.get(), rc));

    switch (DbKey::check(db.get(), DatabaseSettings::parse(connectionString).password, &rc)) {
    case DbKey::Check::Match:
        break;
    case DbKey::Check::Mismatch:
        return notRestorable(QStringLiteral("数据库密码不符"));
    case DbKey::Check::NoRecord:
        return notRestorable(QStringLiteral("没有数据库密码记录"));
    case DbKey::Check::Failed:
        return notRestorable(Sqlite::technicalText(db.get(), rc));
    }

    QStringList cardColumns;
    for (const char* column : kCardColumns)
        cardColumns << QString::fromUtf8(column);
    QString missing = missingColumn(db.get(), "zl", cardColumns, &rc);
    if (missing.isEmpty() && rc == SQLITE_OK)
        missing = missingColumn(db.get(), "yh", {QStringLiteral("用户密码")}, &rc);
    if (!missing.isEmpty())
        return notRestorable(missing);
    if (rc != SQLITE_OK)
        return notRestorable(Sqlite::technicalText(db.get(), rc));

    const QStringList problems = Sqlite::firstColumn(db.get(), "PRAGMA integrity_check", &rc);
    if (rc != SQLITE_OK)
        return notRestorable(Sqlite::technicalText(db.get(), rc));
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
    Sqlite::Database db;
    int rc = db.open(database, Sqlite::OpenMode::ReadWrite);
    if (rc == SQLITE_OK)
        rc = db.exec("BEGIN");
    if (rc == SQLITE_OK)
        Sqlite::firstColumn(db.get(), "SELECT count(*) FROM sqlite_master", &rc);
    if (Sqlite::isBusy(rc))
        return fail(reason, Sqlite::errorText(db.get(), rc, database));
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
    Sqlite::Database db;
    if (QFileInfo(database).isFile()) {
        int rc = db.open(database, Sqlite::OpenMode::ReadWrite);
        if (rc == SQLITE_OK)
            rc = db.exec("BEGIN EXCLUSIVE");
        if (Sqlite::isBusy(rc))
            return fail(reason, Sqlite::errorText(db.get(), rc, database));
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
