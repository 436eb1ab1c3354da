// Where an installed program keeps its cards, and its first start.
#include "testsupport.h"

#include "data/connectionstring.h"
#include "data/dbkey.h"
#include "data/password.h"
#include "data/sqlite.h"
#include "login/dl.h"
#include "platform/files.h"
#include "program/quembe.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

class TestInstall : public QObject {
    Q_OBJECT

private:
    QString userFolder() const {
        return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
               QStringLiteral("/quembe/");
    }

    /// An installation tree as `cmake --install` leaves it: bin/ and our launcher.
    static QString makeInstallTree(const QString& prefix) {
        const QString applications = prefix + QStringLiteral("/share/applications");
        QDir().mkpath(prefix + QStringLiteral("/bin"));
        QDir().mkpath(applications);
        QFile launcher(applications + QStringLiteral("/example.qel.quembe.desktop"));
        launcher.open(QIODevice::WriteOnly);
        return prefix + QStringLiteral("/bin");
    }

    QTemporaryDir m_tree;

private slots:
    void initTestCase() {
        // Keeps the test's data folder apart from the real one of whoever runs it.
        QStandardPaths::setTestModeEnabled(true);
        // The program is taken to lie in an installed tree unless a case says otherwise.
        Platform::setProgramLocationForTesting(makeInstallTree(m_tree.path() + "/usr"));
    }

    void init() { QDir(userFolder()).removeRecursively(); }
    void cleanup() {
        QDir(userFolder()).removeRecursively();
        Platform::setProgramLocationForTesting(makeInstallTree(m_tree.path() + "/usr"));
    }

    void withoutADatabaseBesideItTheProgramUsesTheUserDataFolder() {
        // The installed program's folder holds no database.
        QVERIFY(Platform::programFolderIsUserData());
        QCOMPARE(Platform::programFolder(), userFolder());
        // A folder set for tests is taken as it is.
        TestSupport::ProgramFolder folder;
        QVERIFY(!Platform::programFolderIsUserData());
        QCOMPARE(Platform::programFolder(), folder.path());
    }

    void installedIsWhereTheProgramLies() {
        QVERIFY(Platform::isInstalledFolder(QStringLiteral("/usr/bin")));
        QVERIFY(Platform::isInstalledFolder(QStringLiteral("/opt/quembe/bin")));
        QVERIFY(Platform::isInstalledFolder(m_tree.path() + QStringLiteral("/usr/bin")));
        // A copy unpacked into a folder of the user's is portable, database or not.
        QTemporaryDir portable;
        QVERIFY(!Platform::isInstalledFolder(portable.path()));
        QVERIFY(QDir().mkpath(portable.path() + QStringLiteral("/bin")));
        QVERIFY(!Platform::isInstalledFolder(portable.path() + QStringLiteral("/bin")));
#ifdef Q_OS_UNIX
        // A folder the user cannot write to is an installation; root writes anywhere, so
        // the check runs as nobody.
        QVERIFY(QFile::setPermissions(portable.path(), QFile::ReadOwner | QFile::ExeOwner |
                                                           QFile::ReadOther | QFile::ExeOther));
        const QString answer = TestSupport::inChild([&] {
            if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                return QStringLiteral("cannot become nobody");
            return QString::number(Platform::isInstalledFolder(portable.path()));
        });
        QFile::setPermissions(portable.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (answer != QLatin1String("cannot become nobody"))
            QCOMPARE(answer, QStringLiteral("1"));
#endif
    }

    void aPortableCopyWithoutItsDatabaseSaysSo() {
        QTemporaryDir portable;
        Platform::setProgramLocationForTesting(portable.path());
        QVERIFY(!Platform::programFolderIsUserData());
        QCOMPARE(Platform::programFolder(), portable.path() + QLatin1Char('/'));
        {
            Platform::MessageBoxRecorder boxes;
            Platform::ModalRecorder modal;
            QCOMPARE(Quembe::run(*qApp), 1);
            QCOMPARE(boxes.boxes().size(), 1);
            const QString text = boxes.boxes().first().text;
            QVERIFY2(text.contains(QStringLiteral("找不到数据库文件")), qPrintable(text));
            QVERIFY2(text.contains(QDir::toNativeSeparators(portable.path())), qPrintable(text));
        }
        // Nothing was made, neither beside the program nor in the user's folder.
        QVERIFY(!QFile::exists(portable.path() + QStringLiteral("/velmora.mdb")));
        QVERIFY(!QFile::exists(userFolder() + QStringLiteral("velmora.mdb")));
    }

    void aPortableToolWithoutItsDatabaseSaysSo() {
        // The command-line tool copied alone into a folder of the user's.
        QTemporaryDir portable;
        const QString tool = portable.path() + QStringLiteral("/quembe-cards");
        QVERIFY(QFile::copy(QStringLiteral(QUEMBE_CARDS_TOOL), tool));
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), portable.path() + QStringLiteral("/home"));
        env.remove(QStringLiteral("XDG_DATA_HOME"));
        run.setProcessEnvironment(env);
        run.start(tool, {QStringLiteral("find"), QStringLiteral("zhang")});
        QVERIFY(run.waitForFinished(20000));
        const QString error = QString::fromUtf8(run.readAllStandardError());
        QCOMPARE(run.exitCode(), 1);
        QVERIFY2(error.contains(QStringLiteral("找不到数据库文件")), qPrintable(error));
        QVERIFY2(error.contains(portable.path() + QStringLiteral("/velmora.mdb")),
                 qPrintable(error));
    }

    void firstStartMakesTheDatabaseOnceWithTheEmptyPassword() {
        const QString file = Quembe::provideUserDatabase();
        QCOMPARE(file, userFolder() + QStringLiteral("velmora.mdb"));
        QVERIFY(QFileInfo::exists(file));
        // The stored settings open it, and the empty password logs in.
        Sqlite::Database db;
        QCOMPARE(db.open(file, Sqlite::OpenMode::ReadOnly), SQLITE_OK);
        int rc = SQLITE_OK;
        QCOMPARE(DbKey::check(db.get(), DatabaseSettings::stored().password, &rc),
                 DbKey::Check::Match);
        const QStringList stored = Sqlite::firstColumn(db.get(), "select 用户密码 from yh", &rc);
        QCOMPARE(stored.size(), 1);
        QVERIFY(passwordMatches(stored.first(), QString()));
        db.close();

        // Never again, and never over the cards already there.
        TestSupport::exec(file, "insert into zl(姓名) values ('张三')");
        QCOMPARE(Quembe::provideUserDatabase(), QString());
        QCOMPARE(TestSupport::query(file, "select 姓名 from zl"), QStringList{"张三"});
    }

    void firstStartSaysWhereTheCardsAreOnce() {
        Platform::MessageBoxRecorder boxes;
        Platform::ModalRecorder modal;
        // The loop ends as soon as the notice has been shown.
        QTimer::singleShot(50, [] { QApplication::quit(); });
        QCOMPARE(Quembe::run(*qApp), 0);
        QCOMPARE(boxes.boxes().size(), 1);
        QVERIFY2(boxes.boxes().first().text.contains(QDir::toNativeSeparators(userFolder())),
                 qPrintable(boxes.boxes().first().text));
        QVERIFY(TestSupport::opensInChinese(boxes.boxes().first().text));

        boxes.clear();
        QTimer::singleShot(50, [] { QApplication::quit(); });
        QCOMPARE(Quembe::run(*qApp), 0);
        QVERIFY(boxes.boxes().isEmpty());
    }
};

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
