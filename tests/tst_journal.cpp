// The journal a crash leaves beside the database: every one this file's own writes leave is
// played back at start, one from another file is refused with both files untouched.
#include "testsupport.h"

#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/connectionstring.h"
#include "data/dberror.h"
#include "data/journal.h"
#include "data/schema.h"
#include "platform/files.h"
#include "program/quembe.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <sqlite3.h>

#include <csignal>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

// ---- A file system layer that ends the process at a chosen write to the database ----

sqlite3_vfs* g_real = nullptr;
int g_killAt = 0; // 0: never
int g_writes = 0;

struct CountingFile {
    sqlite3_file base;
    sqlite3_file* real;
    bool database;
};

sqlite3_file* realOf(sqlite3_file* f) {
    return reinterpret_cast<CountingFile*>(f)->real;
}

int fileClose(sqlite3_file* f) {
    return realOf(f)->pMethods->xClose(realOf(f));
}
int fileRead(sqlite3_file* f, void* data, int n, sqlite3_int64 at) {
    return realOf(f)->pMethods->xRead(realOf(f), data, n, at);
}
int fileWrite(sqlite3_file* f, const void* data, int n, sqlite3_int64 at) {
    if (reinterpret_cast<CountingFile*>(f)->database && ++g_writes == g_killAt)
        ::raise(SIGKILL);
    return realOf(f)->pMethods->xWrite(realOf(f), data, n, at);
}
int fileTruncate(sqlite3_file* f, sqlite3_int64 size) {
    return realOf(f)->pMethods->xTruncate(realOf(f), size);
}
int fileSync(sqlite3_file* f, int flags) {
    return realOf(f)->pMethods->xSync(realOf(f), flags);
}
int fileSize(sqlite3_file* f, sqlite3_int64* size) {
    return realOf(f)->pMethods->xFileSize(realOf(f), size);
}
int fileLock(sqlite3_file* f, int lock) {
    return realOf(f)->pMethods->xLock(realOf(f), lock);
}
int fileUnlock(sqlite3_file* f, int lock) {
    return realOf(f)->pMethods->xUnlock(realOf(f), lock);
}
int fileReserved(sqlite3_file* f, int* out) {
    return realOf(f)->pMethods->xCheckReservedLock(realOf(f), out);
}
int fileControl(sqlite3_file* f, int op, void* arg) {
    return realOf(f)->pMethods->xFileControl(realOf(f), op, arg);
}
int fileSectorSize(sqlite3_file* f) {
    return realOf(f)->pMethods->xSectorSize(realOf(f));
}
int fileCharacteristics(sqlite3_file* f) {
    return realOf(f)->pMethods->xDeviceCharacteristics(realOf(f));
}

const sqlite3_io_methods kCountingMethods = {1,
                                             fileClose,
                                             fileRead,
                                             fileWrite,
                                             fileTruncate,
                                             fileSync,
                                             fileSize,
                                             fileLock,
                                             fileUnlock,
                                             fileReserved,
                                             fileControl,
                                             fileSectorSize,
                                             fileCharacteristics,
                                             nullptr,
                                             nullptr,
                                             nullptr,
                                             nullptr,
                                             nullptr,
                                             nullptr};

int vfsOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
    auto* file = reinterpret_cast<CountingFile*>(f);
    file->real = reinterpret_cast<sqlite3_file*>(file + 1);
    file->database = (flags & SQLITE_OPEN_MAIN_DB) != 0;
    const int rc = g_real->xOpen(g_real, name, file->real, flags, outFlags);
    file->base.pMethods = file->real->pMethods ? &kCountingMethods : nullptr;
    return rc;
}

sqlite3_vfs g_counting;

void installCountingFiles(int killAt) {
    g_real = sqlite3_vfs_find(nullptr);
    g_counting = *g_real;
    g_counting.iVersion = 2;
    g_counting.szOsFile = int(sizeof(CountingFile)) + g_real->szOsFile;
    g_counting.zName = "counting";
    g_counting.xOpen = vfsOpen;
    g_killAt = killAt;
    g_writes = 0;
    sqlite3_vfs_register(&g_counting, 1);
}

// ---- Writes interrupted by a crash ----

enum class Work { Update, Insert, Delete };

const char* statementOf(Work work) {
    switch (work) {
    case Work::Update:
        return "UPDATE zl SET 备注 = hex(randomblob(200)) || 备注";
    case Work::Insert:
        return "INSERT INTO zl (姓名, 备注) SELECT '新' || 姓名, 备注 FROM zl";
    case Work::Delete:
        return "DELETE FROM zl WHERE ID % 2 = 0";
    }
    return "";
}

/// A database of this program holding `cards` cards whose notes start with `tag`.
void makeDatabase(const QString& file, int cards, const QString& tag) {
    QFile::remove(file);
    Schema::createDatabase(file, storedDatabasePassword(), QString());
    exec(file, QStringLiteral("insert into zl (姓名, 备注) select 'card' || x, '%1' || "
                              "hex(randomblob(150)) from (with recursive c(x) as (select 1 union "
                              "all select x + 1 from c where x < %2) select x from c)")
                   .arg(tag)
                   .arg(cards));
}

/// Runs `work` on `file` in a child process with a small page cache (so that pages are
/// written before the commit) and ends it at write number `killAt`; returns the number of
/// writes to the database when the child ran to its end instead, 0 when it was ended.
int crash(const QString& file, Work work, int killAt) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        installCountingFiles(killAt);
        sqlite3* db = nullptr;
        sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db, "PRAGMA cache_size=4; BEGIN", nullptr, nullptr, nullptr);
        sqlite3_exec(db, statementOf(work), nullptr, nullptr, nullptr);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        ::_exit(std::min(g_writes, 255));
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? std::max(WEXITSTATUS(status), 1) : 0;
}

/// Crash points spread over a write of `writes` writes: its first and last ones and about
/// twenty between.
QVector<int> killPoints(int writes) {
    QVector<int> points;
    const int stride = qMax(1, writes / 20);
    for (int k = 1; k <= writes; ++k) {
        if (k <= 3 || k > writes - 3 || k % stride == 0)
            points << k;
    }
    return points;
}

QByteArray bytes(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString openError() {
    TADOConnection connection;
    connection.ConnectionString = QString::fromUtf8(kStoredConnectionString);
    try {
        connection.Open();
    } catch (const EDatabaseError& e) {
        return e.message();
    }
    return QString();
}

QStringList cards(const QString& file) {
    return query(file, QStringLiteral("select ID, 姓名, 备注 from zl order by ID"));
}

} // namespace

Q_DECLARE_METATYPE(Work)

class TestJournal : public QObject {
    Q_OBJECT

private:
    void kinds() {
        QTest::addColumn<Work>("work");
        QTest::newRow("update") << Work::Update;
        QTest::newRow("insert") << Work::Insert;
        QTest::newRow("delete") << Work::Delete;
    }

private slots:
    void everyCrashOfThisFileIsPlayedBack_data() { kinds(); }

    void everyCrashOfThisFileIsPlayedBack() {
        QFETCH(Work, work);
        ProgramFolder folder;
        const QString base = folder.path() + QStringLiteral("base.mdb");
        makeDatabase(base, 300, QStringLiteral("ours"));
        const QStringList before = cards(base);
        QFile::remove(folder.database());
        QVERIFY(QFile::copy(base, folder.database()));
        const int writes = crash(folder.database(), work, 0);
        QVERIFY(writes > 3 && writes < 255);

        int hot = 0;
        const QVector<int> points = killPoints(writes);
        for (int killAt : points) {
            QFile::remove(folder.database());
            QVERIFY(QFile::copy(base, folder.database()));
            QCOMPARE(crash(folder.database(), work, killAt), 0);
            if (!Journal::isHot(folder.database()))
                continue;
            ++hot;
            const QString journal = Journal::fileOf(folder.database());
            QCOMPARE(Journal::foreignProblem(folder.database(), journal), QString());
            bool noRoom = true;
            QCOMPARE(Journal::trialProblem(folder.database(), journal, storedDatabasePassword(),
                                           &noRoom),
                     QString());
            QVERIFY(!noRoom);
            // The program opens the file, which comes back as it was before the write.
            const QString error = openError();
            QVERIFY2(error.isEmpty(), qPrintable(QStringLiteral("%1: %2").arg(killAt).arg(error)));
            QVERIFY(!QFile::exists(journal));
            QCOMPARE(cards(folder.database()), before);
            QCOMPARE(query(folder.database(), QStringLiteral("pragma integrity_check")),
                     QStringList{QStringLiteral("ok")});
        }
        qInfo("%d writes, %d crashes left a journal, each played back", writes, hot);
        QVERIFY(hot > int(points.size()) / 2);
    }

    void aJournalOfAnotherFileIsRefused_data() {
        QTest::addColumn<Work>("work");
        QTest::addColumn<int>("ours");
        QTest::addColumn<int>("theirs");
        // Databases of this program too, with other cards, or made just alike (told apart by
        // the identity each file gets).
        for (const auto& sizes :
             {qMakePair(50, 4), qMakePair(300, 50), qMakePair(50, 300), qMakePair(300, 300)}) {
            const QString row = QStringLiteral("%1 beside %2, ").arg(sizes.second).arg(sizes.first);
            QTest::newRow(qPrintable(row + "update"))
                << Work::Update << sizes.first << sizes.second;
            QTest::newRow(qPrintable(row + "insert"))
                << Work::Insert << sizes.first << sizes.second;
            QTest::newRow(qPrintable(row + "delete"))
                << Work::Delete << sizes.first << sizes.second;
        }
    }

    void aJournalOfAnotherFileIsRefused() {
        QFETCH(Work, work);
        QFETCH(int, ours);
        QFETCH(int, theirs);
        ProgramFolder folder;
        makeDatabase(folder.database(), ours, QStringLiteral("ours"));
        const QByteArray database = bytes(folder.database());
        const QString other = folder.path() + QStringLiteral("other/velmora.mdb");
        QVERIFY(QDir().mkpath(QFileInfo(other).path()));
        const QString otherBase = folder.path() + QStringLiteral("other.mdb");
        makeDatabase(otherBase, theirs, QStringLiteral("theirs"));
        QVERIFY(QFile::copy(otherBase, other));
        const int writes = crash(other, work, 0);

        int refused = 0;
        int byLooking = 0;
        int undecidable = 0;
        for (int killAt : killPoints(writes)) {
            QFile::remove(other);
            QVERIFY(QFile::copy(otherBase, other));
            crash(other, work, killAt);
            if (!Journal::isHot(other))
                continue;
            const QString journal = Journal::fileOf(folder.database());
            QFile::remove(journal);
            QVERIFY(QFile::copy(Journal::fileOf(other), journal));
            const QByteArray journalBytes = bytes(journal);
            if (!Journal::foreignProblem(folder.database(), journal).isEmpty()) {
                ++byLooking;
            } else if (ours == theirs) {
                // A file made just like ours, caught before its commit set aside page 1 (and
                // with it the file's identity): nothing in the journal tells the two apart.
                ++undecidable;
                QFile::remove(journal);
                continue;
            }
            const QString error = openError();
            QVERIFY2(error.startsWith(QStringLiteral("数据库文件旁边有一个没有完成的日志文件")),
                     qPrintable(error));
            QVERIFY(error.contains(QStringLiteral("\n") + QDir::toNativeSeparators(journal) +
                                   QStringLiteral("\n")));
            // Both files as they were.
            QCOMPARE(bytes(folder.database()), database);
            QCOMPARE(bytes(journal), journalBytes);
            ++refused;
        }
        qInfo("%d journals of another file refused, %d of them without a trial; %d undecidable",
              refused, byLooking, undecidable);
        QVERIFY(refused > 0);
    }

    void aRecoveryThatDamagesTheFileIsRefused() {
        ProgramFolder folder;
        makeDatabase(folder.database(), 300, QStringLiteral("ours"));
        // Where table yh lives, read while the file can still be read without a recovery.
        const qint64 yhRoot =
            query(folder.database(), "select rootpage from sqlite_master where name = 'yh'")
                .value(0)
                .toLongLong();
        const qint64 pageSize = query(folder.database(), "pragma page_size").value(0).toLongLong();
        QVERIFY(yhRoot > 1 && pageSize >= 512);
        QCOMPARE(crash(folder.database(), Work::Update, 3), 0);
        QVERIFY(Journal::isHot(folder.database()));
        // A page the write did not touch (table yh's) is damaged as well: the journal cannot
        // mend that.
        {
            QFile f(folder.database());
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.seek((yhRoot - 1) * pageSize));
            f.write(QByteArray(16, '\x5a'));
        }
        const QByteArray database = bytes(folder.database());
        const QByteArray journal = bytes(Journal::fileOf(folder.database()));
        const QString error = openError();
        QVERIFY2(error.contains(QStringLiteral("恢复出来的数据库不完整")), qPrintable(error));
        QCOMPARE(bytes(folder.database()), database);
        QCOMPARE(bytes(Journal::fileOf(folder.database())), journal);
    }

    void aJournalOfARunningWriteIsLeftToIt_data() {
        QTest::addColumn<QByteArray>("write");
        QTest::newRow("in the cache") << QByteArray("UPDATE zl SET 备注 = '' WHERE ID = 1");
        QTest::newRow("in the file") << QByteArray(statementOf(Work::Update));
    }

    void aJournalOfARunningWriteIsLeftToIt() {
        // Another copy of the program in the middle of a write: its journal is not hot, and
        // the file is either readable or reported as held.
        QFETCH(QByteArray, write);
        ProgramFolder folder;
        makeDatabase(folder.database(), 300, QStringLiteral("ours"));
        sqlite3* other = nullptr;
        sqlite3_open_v2(folder.database().toUtf8().constData(), &other, SQLITE_OPEN_READWRITE,
                        nullptr);
        QCOMPARE(sqlite3_exec(other, "PRAGMA cache_size=4; BEGIN", nullptr, nullptr, nullptr),
                 SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, write.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        QVERIFY(QFile::exists(Journal::fileOf(folder.database())));
        QVERIFY(!Journal::isHot(folder.database()));
        const QString error = openError();
        QVERIFY2(error.isEmpty() || error.startsWith(QStringLiteral("数据库文件正被其他程序使用")),
                 qPrintable(error));
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        QCOMPARE(openError(), QString());
    }

    void theStartSaysWhichFileAndWhatToDo() {
        ProgramFolder folder;
        makeDatabase(folder.database(), 50, QStringLiteral("ours"));
        const QString other = folder.path() + QStringLiteral("other.mdb");
        makeDatabase(other, 4, QStringLiteral("theirs"));
        QCOMPARE(crash(other, Work::Insert, 2), 0);
        QVERIFY(QFile::copy(Journal::fileOf(other), Journal::fileOf(folder.database())));
        const QByteArray database = bytes(folder.database());

        Platform::MessageBoxRecorder boxes;
        Platform::ModalRecorder modal;
        QCOMPARE(Quembe::run(*qApp), 1);
        QCOMPARE(boxes.boxes().size(), 1);
        const auto box = boxes.boxes().first();
        QCOMPARE(box.caption, QStringLiteral("Application Error"));
        QVERIFY(opensInChinese(box.text));
        const QStringList lines = box.text.split(QLatin1Char('\n'));
        QVERIFY(lines.contains(QDir::toNativeSeparators(Journal::fileOf(folder.database()))));
        QVERIFY(lines.contains(QDir::toNativeSeparators(folder.database())));
        QVERIFY(box.text.contains(QStringLiteral("移到别的文件夹")));
        QCOMPARE(bytes(folder.database()), database);
        QVERIFY(QFile::exists(Journal::fileOf(folder.database())));
    }
};

QTEST_MAIN(TestJournal)
#include "tst_journal.moc"
