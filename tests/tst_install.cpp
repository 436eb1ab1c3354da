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
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

class TestInstall : public QObject {
    Q_OBJECT

private:
    QString userFolder() const {
        return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
               QStringLiteral("/quembe/");
    }

private slots:
    void initTestCase() {
        // Keeps the test's data folder apart from the real one of whoever runs it.
        QStandardPaths::setTestModeEnabled(true);
    }

    void init() { QDir(userFolder()).removeRecursively(); }
    void cleanup() { QDir(userFolder()).removeRecursively(); }

    void withoutADatabaseBesideItTheProgramUsesTheUserDataFolder() {
        // The test program's own folder holds no database, as an installed program's does not.
        QVERIFY(Platform::programFolderIsUserData());
        QCOMPARE(Platform::programFolder(), userFolder());
        // A folder set for tests is taken as it is.
        TestSupport::ProgramFolder folder;
        QVERIFY(!Platform::programFolderIsUserData());
        QCOMPARE(Platform::programFolder(), folder.path());
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
