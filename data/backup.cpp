#include "backup.h"

#include "adoconnection.h"
#include "adoquery.h"
#include "connectionstring.h"
#include "dberror.h"
#include "dbkey.h"
#include "schema.h"
#include "sqlite.h"

#include "platform/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

namespace {

using Sqlite::native;

bool fail(QString* reason, const QString& why) {
    if (reason)
        *reason = why;
    return false;
}

// The file's own kind, a symbolic link not followed.
QString notAFileProblem(const QString& file) {
    if (Platform::isSymLink(file))
        return QStringLiteral("它是一个符号链接，本程序不通过链接读取备份");
    const QFileInfo info(file);
    if (!info.exists())
        return QStringLiteral("文件不存在");
    if (!info.isFile())
        return QStringLiteral("它不是一个文件");
    return QString();
}

} // namespace

bool isRestorableBackup(const QString& file, const QString& connectionString, QString* reason) {
    auto notRestorable = [&](const QString& why) {
        return fail(reason, QStringLiteral("备份文件不能用来还原：\n%1\n%2。数据库没有改动。"
                                           "请换用本程序做的备份。")
                                .arg(native(file), why));
    };
    const QString kind = notAFileProblem(file);
    if (!kind.isEmpty())
        return notRestorable(kind);
    // A copy made by this program ends where its header says; more is not ours and would
    // only be copied along, so it is refused before anything past the header is read.
    const QString header = Sqlite::headerProblem(file, nullptr, true);
    if (!header.isEmpty())
        return notRestorable(header);

    // Immutable: no lock, no journal looked for or rolled back, so the check reads exactly
    // the bytes a restore would copy, and leaves the file as it was.
    Sqlite::Database db;
    int rc = db.open(file, Sqlite::OpenMode::Immutable);
    if (rc != SQLITE_OK)
        return notRestorable(Sqlite::technicalText(db.get(), rc));

    // First what the objects are, read from the schema table alone: only then is anything
    // of the file's read through them.
    const QString schema = Schema::schemaProblem(db.get(), Schema::Strictness::Exact, &rc);
    if (rc != SQLITE_OK)
        return notRestorable(Sqlite::technicalText(db.get(), rc));
    if (!schema.isEmpty())
        return notRestorable(schema);

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

    const QStringList problems = Sqlite::firstColumn(db.get(), "PRAGMA integrity_check", &rc);
    if (rc != SQLITE_OK)
        return notRestorable(Sqlite::technicalText(db.get(), rc));
    if (problems != QStringList{QStringLiteral("ok")})
        return notRestorable(QStringLiteral("文件已损坏（%1）")
                                 .arg(problems.value(0, QStringLiteral("integrity check failed"))));
    return true;
}

bool backupDatabase(const QString& database, const QString& backup, QString* reason,
                    const std::function<void()>& beforeCopy) {
    if (!QFileInfo(database).isFile())
        return fail(reason, QStringLiteral("找不到数据库文件：\n%1\n请确认它还在本程序的文件夹里。")
                                .arg(native(database)));
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
        return fail(reason, QStringLiteral("数据库文件读不出来，没有备份，原来的备份没有改动。\n") +
                                Sqlite::errorText(db.get(), rc, database));
    // Closing any handle on the file drops the process's locks on it, so this one stays
    // open until the connection has let go.
    QFile in(database);
    if (!in.open(QIODevice::ReadOnly))
        return fail(reason, Platform::fileErrorText(errno ? errno : EIO, database, false));
    if (beforeCopy)
        beforeCopy();
    const bool copied = Platform::copyFileReplacing(in, backup, reason);
    db.close();
    return copied;
}

bool restoreDatabase(const QString& backup, const QString& database, QString* reason,
                     const std::function<void()>& beforeCopy) {
    const QString kind = notAFileProblem(backup);
    if (!kind.isEmpty())
        return fail(reason,
                    QStringLiteral("备份文件不能用来还原：\n%1\n%2。").arg(native(backup), kind));
    // Only what the checks saw is copied: a copy grown since is refused.
    const QString header = Sqlite::headerProblem(backup, nullptr, true);
    if (!header.isEmpty())
        return fail(reason,
                    QStringLiteral("备份文件不能用来还原：\n%1\n%2。").arg(native(backup), header));
    QFile in;
    if (!Platform::openWithoutLinks(in, backup, reason))
        return false;
    // The file the database name leads to is the one replaced, wherever a link puts it:
    // that is the file the connection opens.
    const QString resolved = QFileInfo(database).canonicalFilePath();
    const QString target = resolved.isEmpty() ? database : resolved;
    // Held across the rename, so that no other program is in the middle of a write to the
    // file being replaced. A database SQLite cannot open is simply replaced: that is what a
    // restore is for.
    Sqlite::Database db;
    if (QFileInfo(target).isFile()) {
        int rc = db.open(target, Sqlite::OpenMode::ReadWrite);
        if (rc == SQLITE_OK)
            rc = db.exec("BEGIN EXCLUSIVE");
        if (Sqlite::isBusy(rc))
            return fail(reason, Sqlite::errorText(db.get(), rc, database));
    }
    if (beforeCopy)
        beforeCopy();
    // SQLite would play a journal found beside the database into the restored file.
    const QString journal = target + QStringLiteral("-journal");
    if ((QFileInfo::exists(journal) || Platform::isSymLink(journal)) && !QFile::remove(journal))
        return fail(reason, QStringLiteral("数据库旁边的旧日志文件删不掉，没有还原：\n%1\n"
                                           "请检查这个文件和它所在文件夹的写入权限后重试。")
                                .arg(native(journal)));
    const bool copied = Platform::copyFileReplacing(in, target, reason);
    db.close();
    return copied;
}

void reopenCardList(TADOConnection* connection, TADOQuery* cards) {
    try {
        connection->Open();
        cards->Open();
    } catch (const EDatabaseError& e) {
        throw EDatabaseError(
            QStringLiteral("名片列表没能重新打开，现在是空的。排除下面的问题后，"
                           "点“修        改”或重新启动本程序，列表就会重新打开。\n") +
            e.message());
    }
}
