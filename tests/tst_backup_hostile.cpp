// Backups that are not what the program makes, links that must not be followed, and
// copies cut short by a full disk, an unwritable folder or a kill.
#include "backupsupport.h"
#include "testsupport.h"

#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/backup.h"
#include "data/connectionstring.h"
#include "data/dberror.h"
#include "data/fieldmap.h"
#include "data/password.h"
#include "data/schema.h"
#include "dialogs/sc.h"
#include "mainwindow/VELMORA.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <sqlite3.h>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace BackupSupport;
using namespace TestSupport;
using Platform::MessageBoxRecorder;

namespace {

// Runs statements on a file through a connection of its own that trusts what it is told
// (another program's), so that the schema can be written to as a crafted file would be.
void rawExec(const QString& file, const char* sql) {
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(file.toUtf8().constData(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
    QVERIFY2(rc == SQLITE_OK, error);
    sqlite3_close(db);
}

// Rows for a case that holds for the backup and the restore alike.
void backupOrRestore() {
    QTest::addColumn<bool>("restore");
    QTest::newRow("backup") << false;
    QTest::newRow("restore") << true;
}

// The folder's backup or restore, as the window runs it: "ok" or why not.
QString copied(const ProgramFolder& folder, bool restore) {
    QString reason;
    const bool ok = restore ? restoreDatabase(folder.backup(), folder.database(), &reason)
                            : backupDatabase(folder.database(), folder.backup(), &reason);
    return ok ? QStringLiteral("ok") : reason;
}

// Both files of a folder as they were, and nothing beside them, after a copy that failed.
class Untouched {
public:
    explicit Untouched(const ProgramFolder& folder)
        : m_folder(folder)
        , m_database(bytes(folder.database()))
        , m_backup(bytes(folder.backup())) {}
    void check() const {
        QCOMPARE(bytes(m_folder.database()), m_database);
        QCOMPARE(bytes(m_folder.backup()), m_backup);
        QCOMPARE(entries(m_folder.path()),
                 QStringList({QStringLiteral("velmora.bak"), QStringLiteral("velmora.mdb")}));
    }

private:
    const ProgramFolder& m_folder;
    QByteArray m_database;
    QByteArray m_backup;
};

// A folder with a backup beside its database, for copying one way or the other.
struct CopyCase {
    explicit CopyCase(bool restoring)
        : restore(restoring) {
        if (!QFile::copy(folder.database(), folder.backup()))
            qFatal("cannot copy the database");
    }
    QString source() const { return restore ? folder.backup() : folder.database(); }
    QString target() const { return restore ? folder.database() : folder.backup(); }
    ProgramFolder folder;
    bool restore;
};

// A backup turned away by the check alone, and by 恢复数据 with the same reason, leaving the
// database and the list as they were.
void refusedAtOnce(Program& program, const QString& why) {
    TFrmMain* m = FrmMain;
    const QByteArray database = bytes(program.folder.database());
    QElapsedTimer timer;
    timer.start();
    QString reason;
    const bool restorable =
        isRestorableBackup(program.folder.backup(), m->ADOConnection1->ConnectionString, &reason);
    qInfo("refused in %.2f ms", double(timer.nsecsElapsed()) / 1e6);
    QVERIFY(!restorable);
    QVERIFY2(reason.contains(why), qPrintable(reason));
    QVERIFY(reason.contains(QStringLiteral("\n") +
                            QDir::toNativeSeparators(program.folder.backup()) +
                            QStringLiteral("\n")));
    m->N11->trigger();
    QCOMPARE(program.boxes.texts(), QStringList({kQuestion, kDamaged + '\n' + reason}));
    QCOMPARE(bytes(program.folder.database()), database);
    QVERIFY(m->ADOQuery1->Active());
    QCOMPARE(listedNames(), QStringList({QStringLiteral("张三"), QStringLiteral("李四")}));
}

} // namespace

class TestBackupHostile : public QObject {
    Q_OBJECT

private slots:
    // ---- Backups that are not what the program makes ----

    void craftedBackupIsRefusedAtOnce_data() {
        QTest::addColumn<QByteArray>("craft");
        QTest::addColumn<QString>("why");
        QStringList viewColumns{QStringLiteral("x AS \"ID\"")};
        for (const char* column : kCardColumns) {
            if (QByteArray(column) != "ID")
                viewColumns << QStringLiteral("'' AS \"%1\"").arg(QString::fromUtf8(column));
        }
        QTest::newRow("zl an endless view")
            << (QStringLiteral("DROP TABLE zl; CREATE VIEW zl AS WITH RECURSIVE c(x) AS "
                               "(SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT ") +
                viewColumns.join(QStringLiteral(", ")) + QStringLiteral(" FROM c"))
                   .toUtf8()
            << QStringLiteral("“zl”是一个视图");
        QTest::newRow("trigger emptying zl")
            << QByteArray("CREATE TRIGGER t AFTER INSERT ON zl BEGIN DELETE FROM zl; END")
            << QStringLiteral("触发器“t”");
        QTest::newRow("trigger resetting the password")
            << QByteArray("CREATE TRIGGER p AFTER INSERT ON zl BEGIN "
                          "UPDATE yh SET 用户密码 = ''; END")
            << QStringLiteral("触发器“p”");
        QTest::newRow("yh a view") << QByteArray("DROP TABLE yh; CREATE VIEW yh AS "
                                                 "SELECT 1 AS ID, '' AS 用户密码")
                                   << QStringLiteral("“yh”是一个视图");
        QTest::newRow("default of 500 MB")
            << QByteArray("PRAGMA writable_schema = ON; UPDATE sqlite_master SET sql = "
                          "replace(sql, 'date(''now'',''localtime'')', 'zeroblob(500000000)') "
                          "WHERE name = 'zl'")
            << QStringLiteral("表“zl”的定义与本程序建立的不同");
        QTest::newRow("default of a 5 MB literal")
            << QByteArray("PRAGMA writable_schema = ON; UPDATE sqlite_master SET sql = "
                          "replace(sql, 'date(''now'',''localtime'')', "
                          "'x''' || hex(zeroblob(5000000)) || '''') WHERE name = 'zl'")
            << QStringLiteral("too big");
        QTest::newRow("an index of its own")
            << QByteArray("CREATE INDEX slow ON zl (length(zeroblob(100000000)))")
            << QStringLiteral("索引“slow”");
    }

    void craftedBackupIsRefusedAtOnce() {
        QFETCH(QByteArray, craft);
        QFETCH(QString, why);
        Program program;
        backedUpThenAdded(program);
        rawExec(program.folder.backup(), craft.constData());
        refusedAtOnce(program, why);
    }

    void paddedBackupIsRefusedUnread() {
        Program program;
        backedUpThenAdded(program);
        {
            // Ten gigabytes of zeros after a real backup, without taking the room.
            QFile f(program.folder.backup());
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.resize(f.size() + (qint64(10) << 30)));
        }
        refusedAtOnce(program, QStringLiteral("文件大小与文件头记载的不符"));
    }

    // ---- Symbolic links are not followed ----

    void backupReplacesALinkNotWhatItPointsTo() {
        Program program;
        TFrmMain* m = FrmMain;
        addCards({QStringLiteral("张三")});
        QTemporaryDir elsewhere;
        const QString outside = elsewhere.filePath(QStringLiteral("precious.txt"));
        write(outside, "precious");
        QVERIFY(QFile::link(outside, program.folder.backup()));
        m->N10->trigger();
        QCOMPARE(program.boxes.texts(), QStringList{kBackedUp});
        QCOMPARE(bytes(outside), QByteArray("precious"));
        QVERIFY(!QFileInfo(program.folder.backup()).isSymLink());
        QCOMPARE(bytes(program.folder.backup()), bytes(program.folder.database()));
        QVERIFY(isRestorableBackup(program.folder.backup(), m->ADOConnection1->ConnectionString));
    }

    void restoreDoesNotReadThroughALink() {
        Program program;
        TFrmMain* m = FrmMain;
        addCards({QStringLiteral("张三")});
        QTemporaryDir elsewhere;
        const QString real = elsewhere.filePath(QStringLiteral("velmora.bak"));
        QVERIFY(QFile::copy(program.folder.database(), real));
        QVERIFY(QFile::link(real, program.folder.backup()));
        addCards({QStringLiteral("李四")});
        program.boxes.clear();
        const QByteArray database = bytes(program.folder.database());
        m->N11->trigger();
        QCOMPARE(program.boxes.boxes().size(), 2);
        const QString text = program.boxes.texts().last();
        QVERIFY2(text.startsWith(kDamaged) && text.contains(QStringLiteral("符号链接")),
                 qPrintable(text));
        QCOMPARE(bytes(program.folder.database()), database);
        QCOMPARE(listedNames(), QStringList({QStringLiteral("张三"), QStringLiteral("李四")}));
        // Nor does the copy itself.
        QString reason;
        QVERIFY(!restoreDatabase(program.folder.backup(), program.folder.database(), &reason));
        QVERIFY2(reason.contains(QStringLiteral("符号链接")), qPrintable(reason));
        QCOMPARE(bytes(program.folder.database()), database);
    }

    void diskFillsDuringTheCopy_data() { backupOrRestore(); }

    void diskFillsDuringTheCopy() {
        QFETCH(bool, restore);
        const CopyCase c(restore);
        const ProgramFolder& folder = c.folder;
        makeLarge(c.source(), 2);
        const Untouched before(folder);
        const QString result = inChild([&] {
            // The file size limit stands in for the disk; its signal would end the child.
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{1 << 20, RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            return copied(folder, restore);
        });
        QVERIFY2(result.startsWith(QStringLiteral("磁盘空间不足")), qPrintable(result));
        QVERIFY2(result.contains(QString::fromLocal8Bit(strerror(EFBIG))), qPrintable(result));
        before.check();
    }

    void unwritableFolder_data() { backupOrRestore(); }

    void unwritableFolder() {
        QFETCH(bool, restore);
        const CopyCase c(restore);
        const ProgramFolder& folder = c.folder;
        exec(c.source(), QStringLiteral("insert into zl (姓名) values ('张三')"));
        const Untouched before(folder);
        const QByteArray path = QFile::encodeName(folder.path());
        // Root writes anywhere, so the copy runs as nobody; others lose the folder's write bit.
        // The files themselves stay writable: only the folder refuses.
        const bool asRoot = ::geteuid() == 0;
        QVERIFY(::chmod(path.constData(), asRoot ? 0755 : 0555) == 0);
        for (const QString& file : {folder.database(), folder.backup()})
            ::chmod(QFile::encodeName(file).constData(), 0666);
        const QString result = inChild([&] {
            if (asRoot && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                return QStringLiteral("cannot become nobody");
            return copied(folder, restore);
        });
        ::chmod(path.constData(), 0700);
        if (result == QLatin1String("cannot become nobody"))
            QSKIP("cannot run the copy as another user");
        QVERIFY2(result.contains(QString::fromLocal8Bit(strerror(EACCES)), Qt::CaseInsensitive),
                 qPrintable(result));
        before.check();
    }

    void killedHalfWay_data() { backupOrRestore(); }

    void killedHalfWay() {
        QFETCH(bool, restore);
        const CopyCase c(restore);
        const ProgramFolder& folder = c.folder;
        const QString source = c.source();
        const QString target = c.target();
        makeLarge(source, 96);
        const QByteArray before = bytes(target);
        const qint64 size = QFileInfo(source).size();

        const pid_t pid = ::fork();
        if (pid == 0) {
            QString reason;
            const bool ok = restore ? restoreDatabase(source, target, &reason)
                                    : backupDatabase(source, target, &reason);
            ::_exit(ok ? 0 : 1);
        }
        // Killed once the child's new copy is partly written.
        const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
        bool partial = false;
        QElapsedTimer timer;
        timer.start();
        while (!partial && timer.elapsed() < 20000) {
            const QStringList open =
                QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
            for (const QString& fd : open) {
                const QByteArray entry = QFile::encodeName(fds + QLatin1Char('/') + fd);
                char buffer[4096];
                const ssize_t n = ::readlink(entry.constData(), buffer, sizeof buffer);
                const QString link = QFile::decodeName(QByteArray(buffer, n > 0 ? int(n) : 0));
                struct stat info;
                if (!link.startsWith(folder.path()) || link == source || link == target ||
                    ::stat(entry.constData(), &info) != 0)
                    continue;
                if (info.st_size > 0 && info.st_size < size) {
                    partial = true;
                    break;
                }
            }
        }
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (!partial)
            QSKIP("the copy finished before it could be caught half way");
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(bytes(target), before);
        QCOMPARE(QFileInfo(source).size(), size);
        for (const QString& name : entries(folder.path()))
            QVERIFY2(name == QLatin1String("velmora.bak") || name == QLatin1String("velmora.mdb") ||
                         name.startsWith(QFileInfo(target).fileName() + QLatin1Char('.')),
                     qPrintable(name));
        QVERIFY(isRestorableBackup(folder.database(), QString::fromUtf8(kStoredConnectionString)));
    }
};

QTEST_MAIN(TestBackupHostile)
#include "tst_backup_hostile.moc"
