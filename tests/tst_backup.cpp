// Backup and restore: the copies, the questions and notices, a search that stays in effect,
// damaged backups, and failures (locked, a folder in the way, a full disk) that must lose
// nothing.
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

const QString kRestored = QStringLiteral("数据库还原成功!");
const QString kNoBackup = QStringLiteral("没有备份数据,不能还原");
const QString kBackupFailed = QStringLiteral("数据库备份失败!\n");
const QString kRestoreFailed = QStringLiteral("数据库还原失败!\n");

void search(const QString& field, const QString& keyword) {
    FrmMain->ComboBoxGXZD->setEditText(field);
    FrmMain->EditGJZ->setText(keyword);
    FrmMain->SpeedButton4Click();
}

bool sameBox(const MessageBoxRecorder::Box& box, const QString& text, unsigned flags) {
    if (box.text == text && box.caption == kCaption && box.flags == flags)
        return true;
    qWarning() << "box:" << box.text << box.caption << Qt::hex << box.flags;
    return false;
}

QString copyOf(const QString& file, const QString& name) {
    const QString copy = QFileInfo(file).absolutePath() + QLatin1Char('/') + name;
    QFile::remove(copy);
    return QFile::copy(file, copy) ? copy : QString();
}

/// Another program holding the database: the sqlite3 shell inside a transaction.
class OtherProgram {
public:
    bool start(const QString& database, const QString& begin) {
        m_database = database;
        const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
        if (shell.isEmpty())
            return false;
        m_process.start(shell, {database});
        if (!m_process.waitForStarted())
            return false;
        // Waits, as a well-behaved program does, while ours still reads at opening.
        m_process.write(".timeout 3000\n" + begin.toUtf8() + ";\nselect count(*) from zl;\n");
        // Held once the shell has answered the count, which it does only after its own
        // transaction has begun, and a transaction of ours is refused. A refusal alone is
        // not enough: our program's own readers may cause it while the shell, slow to start
        // on a busy machine, has not begun yet.
        QElapsedTimer timer;
        timer.start();
        QByteArray answer;
        while (timer.elapsed() < 15000) {
            answer += m_process.readAllStandardOutput();
            if (answer.contains('\n') && refusesWriter())
                return true;
            QTest::qWait(20);
        }
        return false;
    }
    void stop() {
        if (m_process.state() == QProcess::Running) {
            m_process.write(".quit\n");
            m_process.closeWriteChannel();
            m_process.waitForFinished();
        }
    }
    ~OtherProgram() { stop(); }

private:
    bool refusesWriter() const {
        return TestSupport::OtherWriter(m_database, "BEGIN EXCLUSIVE").rc() == SQLITE_BUSY;
    }

    QString m_database;
    QProcess m_process;
};

} // namespace

class TestBackup : public QObject {
    Q_OBJECT

private slots:
    void backupIsAByteCopy() {
        Program program;
        TFrmMain* m = FrmMain;
        addCards({QStringLiteral("张三"), QStringLiteral("李四")});
        m->SpeedButton2Click();
        m->N10->trigger();
        QCOMPARE(program.boxes.boxes().size(), 1);
        QVERIFY(sameBox(program.boxes.boxes().at(0), kBackedUp, Platform::MB_ICONINFORMATION));
        QCOMPARE(bytes(program.folder.backup()), bytes(program.folder.database()));
        QCOMPARE(entries(program.folder.path()),
                 QStringList({QStringLiteral("velmora.bak"), QStringLiteral("velmora.mdb")}));
        // Connection and cards open again, the password dataset stays closed.
        QVERIFY(m->ADOConnection1->Connected());
        QVERIFY(m->ADOQuery1->Active());
        QVERIFY(!m->ADOQuery2->Active());
        QCOMPARE(listedNames(), QStringList({QStringLiteral("张三"), QStringLiteral("李四")}));
        // Only the system pages and the modify button change.
        QVERIFY(!m->ButtonXGQD->isVisibleTo(m->TabSheet3));
        QVERIFY(m->PageControlZL->isVisibleTo(m));
        QCOMPARE(m->modeMarker(), QStringLiteral("修改"));
        m->N9Click();
        m->N10Click();
        QVERIFY(!m->PageControlSYS->isVisibleTo(m));
    }

    void secondBackupReplacesTheFirst() {
        Program program;
        addCards({QStringLiteral("张三")});
        FrmMain->N10Click();
        const QByteArray first = bytes(program.folder.backup());
        addCards({QStringLiteral("李四")});
        FrmMain->N10Click();
        QCOMPARE(program.boxes.texts(), QStringList({kBackedUp, kBackedUp}));
        QVERIFY(bytes(program.folder.backup()) != first);
        QCOMPARE(bytes(program.folder.backup()), bytes(program.folder.database()));
        QCOMPARE(entries(program.folder.path()).size(), 2);
    }

    void aSearchStaysInEffect_data() {
        QTest::addColumn<bool>("restore");
        QTest::newRow("backup") << false;
        QTest::newRow("restore") << true;
    }

    void aSearchStaysInEffect() {
        QFETCH(bool, restore);
        Program program;
        TFrmMain* m = FrmMain;
        addCards({QStringLiteral("张三"), QStringLiteral("李四"), QStringLiteral("张五")});
        search(QStringLiteral("姓名"), QStringLiteral("张"));
        const QStringList found = listedNames();
        QCOMPARE(found.size(), 2);
        const QString statement = m->ADOQuery1->SQL.Text();
        m->N10Click();
        if (restore)
            m->N11Click();
        QCOMPARE(listedNames(), found);
        QCOMPARE(m->ADOQuery1->SQL.Text(), statement);
        QCOMPARE(m->modeMarker(), QStringLiteral("查询"));
        QCOMPARE(program.boxes.texts().last(), restore ? kRestored : kBackedUp);
    }

    void restoreBringsBackTheBackup() {
        Program program;
        TFrmMain* m = FrmMain;
        addCards({QStringLiteral("张三")});
        exec(program.folder.database(), QStringLiteral("update yh set 用户密码 = '%1'")
                                            .arg(hashPassword(QStringLiteral("then"))));
        m->N10Click();
        const QByteArray backup = bytes(program.folder.backup());
        addCards({QStringLiteral("李四"), QStringLiteral("王五")});
        exec(program.folder.database(), QStringLiteral("update yh set 用户密码 = '%1'")
                                            .arg(hashPassword(QStringLiteral("now"))));
        program.boxes.clear();
        m->N9Click();
        m->N11->trigger();
        QCOMPARE(program.boxes.boxes().size(), 2);
        QVERIFY(sameBox(program.boxes.boxes().at(0), kQuestion,
                        Platform::MB_YESNO | Platform::MB_ICONQUESTION));
        QVERIFY(sameBox(program.boxes.boxes().at(1), kRestored, Platform::MB_ICONINFORMATION));
        QCOMPARE(listedNames(), QStringList{QStringLiteral("张三")});
        QVERIFY(passwordMatches(
            query(program.folder.database(), QStringLiteral("select 用户密码 from yh")).value(0),
            QStringLiteral("then")));
        // The backup stays, the database is its copy, and no journal lies beside either.
        QCOMPARE(bytes(program.folder.backup()), backup);
        QCOMPARE(bytes(program.folder.database()), backup);
        QCOMPARE(entries(program.folder.path()),
                 QStringList({QStringLiteral("velmora.bak"), QStringLiteral("velmora.mdb")}));
        QVERIFY(!m->PageControlSYS->isVisibleTo(m));
        QVERIFY(!m->ADOQuery2->Active());
    }

    void restoreAnsweredNo() {
        Program program;
        TFrmMain* m = FrmMain;
        QVERIFY(QFile::copy(program.folder.database(), program.folder.backup()));
        addCards({QStringLiteral("张三")});
        const QByteArray database = bytes(program.folder.database());
        m->SpeedButton2Click();
        program.boxes.setNextAnswer(Platform::IDNO);
        m->N11Click();
        QCOMPARE(program.boxes.texts(), QStringList{kQuestion});
        // The connection was never closed.
        QVERIFY(m->ADOQuery1->Active());
        QVERIFY(m->ADOQuery2->Active());
        QCOMPARE(listedNames(), QStringList{QStringLiteral("张三")});
        QCOMPARE(bytes(program.folder.database()), database);
        QVERIFY(!m->ButtonXGQD->isVisibleTo(m->TabSheet3));
        QVERIFY(!m->PageControlSYS->isVisibleTo(m));
    }

    void restoreWithoutBackup() {
        Program program;
        addCards({QStringLiteral("张三")});
        FrmMain->N11Click();
        QCOMPARE(program.boxes.boxes().size(), 2);
        QVERIFY(sameBox(program.boxes.boxes().at(1), kNoBackup, Platform::MB_ICONINFORMATION));
        QCOMPARE(listedNames(), QStringList{QStringLiteral("张三")});
        QVERIFY(FrmMain->ADOQuery1->Active());
        QCOMPARE(entries(program.folder.path()), QStringList{QStringLiteral("velmora.mdb")});
    }

    void damagedBackupIsRefused_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("why");
        QTest::newRow("folder") << "folder"
                                << "不是一个文件";
        QTest::newRow("empty") << "empty"
                               << "文件是空的";
        QTest::newRow("truncated") << "truncated"
                                   << "文件不完整";
        QTest::newRow("random bytes") << "random"
                                      << "不是数据库文件";
        QTest::newRow("other program") << "other"
                                       << "本程序不建立的表“notes”";
        QTest::newRow("other password") << "password"
                                        << "数据库密码不符";
        QTest::newRow("no zl") << "nozl"
                               << "缺少表“zl”";
        QTest::newRow("no yh") << "noyh"
                               << "缺少表“yh”";
        QTest::newRow("zl column missing") << "column"
                                           << "表“zl”的定义与本程序建立的不同";
        QTest::newRow("damaged page") << "page"
                                      << "文件已损坏";
    }

    void damagedBackupIsRefused() {
        QFETCH(QString, kind);
        QFETCH(QString, why);
        Program program;
        TFrmMain* m = FrmMain;
        addCards({QStringLiteral("张三")});
        const QString bak = program.folder.backup();
        const QString dbPassword = storedDatabasePassword();
        if (kind == QLatin1String("folder")) {
            QVERIFY(QDir().mkdir(bak));
            write(bak + QStringLiteral("/inside"), "kept");
        } else if (kind == QLatin1String("empty")) {
            write(bak, QByteArray());
        } else if (kind == QLatin1String("truncated")) {
            makeLarge(program.folder.database(), 1);
            write(bak, bytes(program.folder.database()).left(300000));
        } else if (kind == QLatin1String("random")) {
            QByteArray noise(40000, Qt::Uninitialized);
            QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(noise.data()),
                                          noise.size() / 4);
            write(bak, noise);
        } else if (kind == QLatin1String("other")) {
            exec(bak, QStringLiteral("create table notes (text)"));
        } else if (kind == QLatin1String("password")) {
            Schema::createDatabase(bak, dbPassword + QStringLiteral("x"), QString());
        } else if (kind == QLatin1String("page")) {
            Schema::createDatabase(bak, dbPassword, QString());
            exec(bak, QStringLiteral("insert into zl (姓名, 备注) select 'n', "
                                     "hex(randomblob(500)) from (with recursive c(i) as "
                                     "(select 1 union all select i + 1 from c where i < 200) "
                                     "select i from c)"));
            QFile f(bak);
            QVERIFY(f.open(QIODevice::ReadWrite));
            // Scribble over a page of zl near the end; the schema pages stay readable.
            const QByteArray header = f.peek(18);
            const int size = (uchar(header.at(16)) << 8) | uchar(header.at(17));
            const int pageSize = size == 1 ? 65536 : size;
            QVERIFY(f.seek(f.size() - pageSize * 3 + 8));
            f.write(QByteArray(600, '\x5a'));
        } else {
            Schema::createDatabase(bak, dbPassword, QString());
            exec(bak, kind == QLatin1String("nozl")   ? QStringLiteral("drop table zl")
                      : kind == QLatin1String("noyh") ? QStringLiteral("drop table yh")
                                                      : QStringLiteral("alter table zl drop "
                                                                       "column 手机"));
        }
        const QByteArray database = bytes(program.folder.database());
        const QByteArray backup = bytes(bak);
        const QStringList before = entries(program.folder.path());

        QString reason;
        QVERIFY(!isRestorableBackup(bak, m->ADOConnection1->ConnectionString, &reason));
        QVERIFY2(reason.contains(why), qPrintable(reason));

        m->N11->trigger();
        QCOMPARE(program.boxes.boxes().size(), 2);
        if (kind == QLatin1String("folder"))
            QVERIFY(sameBox(program.boxes.boxes().at(1), kNoBackup, Platform::MB_ICONINFORMATION));
        else
            QVERIFY(sameBox(program.boxes.boxes().at(1), kDamaged + QLatin1Char('\n') + reason,
                            Platform::MB_ICONWARNING));
        QCOMPARE(bytes(program.folder.database()), database);
        QCOMPARE(bytes(bak), backup);
        QCOMPARE(entries(program.folder.path()), before);
        QCOMPARE(listedNames(), QStringList{QStringLiteral("张三")});
    }

    void checkingABackupChangesNothing() {
        ProgramFolder folder;
        const QString cs = QString::fromUtf8(kStoredConnectionString);
        QVERIFY(QFile::copy(folder.database(), folder.backup()));
        const QByteArray backup = bytes(folder.backup());
        const QDateTime modified = QFileInfo(folder.backup()).lastModified();
        QVERIFY(isRestorableBackup(folder.backup(), cs));
        QCOMPARE(bytes(folder.backup()), backup);
        QCOMPARE(QFileInfo(folder.backup()).lastModified(), modified);
        const QString missing = folder.path() + QStringLiteral("missing.bak");
        QString reason;
        QVERIFY(!isRestorableBackup(missing, cs, &reason));
        QVERIFY(reason.contains(QStringLiteral("文件不存在")));
        QCOMPARE(entries(folder.path()),
                 QStringList({QStringLiteral("velmora.bak"), QStringLiteral("velmora.mdb")}));
    }

    void backupOverAFolderFails() {
        Program program;
        TFrmMain* m = FrmMain;
        QVERIFY(QDir().mkdir(program.folder.backup()));
        write(program.folder.backup() + QStringLiteral("/inside"), "kept");
        m->N10->trigger();
        QCOMPARE(program.boxes.boxes().size(), 1);
        const auto box = program.boxes.boxes().at(0);
        QVERIFY(box.text.startsWith(kBackupFailed));
        QVERIFY(box.text.size() > kBackupFailed.size());
        QCOMPARE(box.caption, kCaption);
        QCOMPARE(box.flags, unsigned(Platform::MB_ICONWARNING));
        QCOMPARE(bytes(program.folder.backup() + QStringLiteral("/inside")), QByteArray("kept"));
        QCOMPARE(entries(program.folder.path()),
                 QStringList({QStringLiteral("velmora.bak"), QStringLiteral("velmora.mdb")}));
        QVERIFY(m->ADOQuery1->Active());
    }

    void anUnreadableDatabaseKeepsTheOldBackup() {
        ProgramFolder folder;
        QVERIFY(QFile::copy(folder.database(), folder.backup()));
        const QByteArray backup = bytes(folder.backup());
        write(folder.database(), QByteArray(8192, '\x01'));
        QString reason;
        QVERIFY(!backupDatabase(folder.database(), folder.backup(), &reason));
        QVERIFY2(reason.contains(QStringLiteral("数据库文件读不出来")), qPrintable(reason));
        QCOMPARE(bytes(folder.backup()), backup);
    }

    void restoreRemovesAStaleJournal() {
        Program program;
        TFrmMain* m = FrmMain;
        addCards({QStringLiteral("张三")});
        m->N10Click();
        addCards({QStringLiteral("李四"), QStringLiteral("王五")});
        m->ADOConnection1->Close();
        // A journal as a crashed writer leaves it: taken from a transaction on a copy.
        const QString copy = copyOf(program.folder.database(), QStringLiteral("copy.mdb"));
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(copy.toUtf8().constData(), &db), SQLITE_OK);
        sqlite3_exec(db, "PRAGMA cache_size=1; BEGIN; UPDATE zl SET 备注=hex(randomblob(3000));",
                     nullptr, nullptr, nullptr);
        const QString journal = program.folder.database() + QStringLiteral("-journal");
        QVERIFY(QFile::copy(copy + QStringLiteral("-journal"), journal));
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        QFile::remove(copy);
        QVERIFY(QFileInfo(journal).size() > 0);
        // With the database itself gone nothing rolls the journal back on the way.
        QVERIFY(QFile::remove(program.folder.database()));

        m->N11->trigger();
        QCOMPARE(program.boxes.texts(), QStringList({kBackedUp, kQuestion, kRestored}));
        QVERIFY(!QFileInfo::exists(journal));
        QCOMPARE(bytes(program.folder.database()), bytes(program.folder.backup()));
        QCOMPARE(listedNames(), QStringList{QStringLiteral("张三")});
        QVERIFY(isRestorableBackup(program.folder.database(), m->ADOConnection1->ConnectionString));
    }

    void lockedDatabase_data() {
        QTest::addColumn<bool>("restore");
        QTest::addColumn<QString>("begin");
        QTest::newRow("backup, exclusive") << false << "begin exclusive";
        QTest::newRow("restore, exclusive") << true << "begin exclusive";
        QTest::newRow("restore, reading") << true << "begin; select * from yh";
    }

    void lockedDatabase() {
        QFETCH(bool, restore);
        QFETCH(QString, begin);
        Program program;
        TFrmMain* m = FrmMain;
        backedUpThenAdded(program);
        const QByteArray database = bytes(program.folder.database());
        const QByteArray backup = bytes(program.folder.backup());
        {
            OtherProgram other;
            if (!other.start(program.folder.database(), begin))
                QSKIP("needs the sqlite3 shell to hold the database");
            (restore ? m->N11 : m->N10)->trigger();
            const QVector<MessageBoxRecorder::Box> boxes = program.boxes.boxes();
            QVERIFY(boxes.size() >= 1 + int(restore));
            const auto box = boxes.at(int(restore));
            QVERIFY2(box.text.startsWith(restore ? kRestoreFailed : kBackupFailed),
                     qPrintable(box.text));
            QVERIFY2(box.text.contains(QStringLiteral("正被其他程序使用")), qPrintable(box.text));
            QCOMPARE(box.flags, unsigned(Platform::MB_ICONWARNING));
            QCOMPARE(boxes.size(), 1 + int(restore));
            QCOMPARE(bytes(program.folder.database()), database);
            QCOMPARE(bytes(program.folder.backup()), backup);
            // The list is open as before the command (what it shows waits for the lock).
            QVERIFY(m->ADOQuery1->Active());
            QCOMPARE(m->ADOQuery1->RecordCount(), 2);
        }
        QCOMPARE(listedNames(), QStringList({QStringLiteral("张三"), QStringLiteral("李四")}));
        // Delete and search work at once, and the same command once the other has let go.
        program.boxes.clear();
        m->ADOQuery1->Last();
        m->SpeedButton3Click();
        FrmSC->Button1->click();
        QVERIFY(program.boxes.boxes().isEmpty());
        search(QStringLiteral("姓名"), QStringLiteral("张"));
        QCOMPARE(listedNames(), QStringList{QStringLiteral("张三")});
        m->SpeedButton5Click();
        addCards({QStringLiteral("李四")});
        (restore ? m->N11 : m->N10)->trigger();
        QCOMPARE(program.boxes.texts().last(), restore ? kRestored : kBackedUp);
        QCOMPARE(listedNames().size(), restore ? 1 : 2);
    }

    void aListThatCannotBeReopenedSaysSo() {
        Program program;
        TFrmMain* m = FrmMain;
        addCards({QStringLiteral("张三")});
        m->ADOConnection1->Close();
        QString error;
        {
            OtherProgram other;
            if (!other.start(program.folder.database(), QStringLiteral("begin exclusive")))
                QSKIP("needs the sqlite3 shell to hold the database");
            try {
                reopenCardList(m->ADOConnection1, m->ADOQuery1);
            } catch (const EDatabaseError& e) {
                error = e.message();
            }
        }
        QVERIFY2(error.startsWith(QStringLiteral("名片列表没能重新打开，现在是空的")),
                 qPrintable(error));
        QVERIFY(error.contains(QStringLiteral("正被其他程序使用")));
        // What the message says opens it again.
        m->SpeedButton2Click();
        QVERIFY(m->ADOQuery1->Active());
        QCOMPARE(listedNames(), QStringList{QStringLiteral("张三")});
    }

    void diskFullAroundTheCommands_data() {
        QTest::addColumn<bool>("restore");
        QTest::newRow("backup") << false;
        QTest::newRow("restore") << true;
    }

    void diskFullAroundTheCommands() {
        QFETCH(bool, restore);
        Program program;
        TFrmMain* m = FrmMain;
        backedUpThenAdded(program);
        const QByteArray database = bytes(program.folder.database());
        const QByteArray backup = bytes(program.folder.backup());
        {
            FullDisk full;
            (restore ? m->N11 : m->N10)->trigger();
        }
        const QVector<MessageBoxRecorder::Box> boxes = program.boxes.boxes();
        QCOMPARE(boxes.size(), 1 + int(restore));
        const QString text = boxes.last().text;
        QVERIFY2(text.startsWith((restore ? kRestoreFailed : kBackupFailed) +
                                 QStringLiteral("磁盘空间不足")),
                 qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("释放磁盘空间")));
        QCOMPARE(bytes(program.folder.database()), database);
        QCOMPARE(bytes(program.folder.backup()), backup);
        QCOMPARE(entries(program.folder.path()),
                 QStringList({QStringLiteral("velmora.bak"), QStringLiteral("velmora.mdb")}));
        QVERIFY(m->ADOQuery1->Active());
        QCOMPARE(listedNames(), QStringList({QStringLiteral("张三"), QStringLiteral("李四")}));
    }
};

QTEST_MAIN(TestBackup)
#include "tst_backup.moc"
