// Start-up: the four windows, and every way the database can fail to open.
#include "testsupport.h"

#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/schema.h"
#include "dialogs/Tjts.h"
#include "dialogs/sc.h"
#include "login/dl.h"
#include "mainwindow/VELMORA.h"
#include "program/quembe.h"

#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

using namespace TestSupport;

class TestStartup : public QObject {
    Q_OBJECT

private:
    /// Runs the program over the folder as it is, up to the message loop; the exit status.
    static int startUp() {
        Platform::ModalRecorder modal;
        return Quembe::run(*qApp);
    }

    void expectFailure(const QString& fragment) {
        Platform::MessageBoxRecorder boxes;
        QCOMPARE(startUp(), 1);
        QCOMPARE(boxes.boxes().size(), 1);
        const auto box = boxes.boxes().first();
        QCOMPARE(box.caption, QStringLiteral("Application Error"));
        QCOMPARE(box.flags, unsigned(Platform::MB_OK | Platform::MB_ICONSTOP));
        QVERIFY2(box.text.contains(fragment, Qt::CaseInsensitive), qPrintable(box.text));
        // Nothing is left behind: no window exists, none was shown.
        QVERIFY(!FrmDL && !FrmMain && !FrmSC && !FrmTJTS);
        QVERIFY(QApplication::topLevelWidgets().isEmpty() ||
                std::none_of(QApplication::topLevelWidgets().cbegin(),
                             QApplication::topLevelWidgets().cend(),
                             [](QWidget* w) { return w->isVisible(); }));
    }

private slots:
    void createsTheFourWindowsInOrder() {
        Program program;
        QVERIFY(program.created());
        QVERIFY(FrmDL && FrmMain && FrmSC && FrmTJTS);
        // The main window opened its database and both datasets while it was created.
        QVERIFY(FrmMain->ADOConnection1->Connected());
        QVERIFY(FrmMain->ADOQuery1->Active());
        QVERIFY(FrmMain->ADOQuery2->Active());
        QVERIFY(!FrmMain->isVisible() && !FrmSC->isVisible() && !FrmTJTS->isVisible());
        QVERIFY(program.boxes.boxes().isEmpty());
    }

    void missingDatabase() {
        ProgramFolder folder(QString(), false);
        expectFailure(QStringLiteral("velmora.mdb"));
        // The program never makes a database of its own.
        QVERIFY(!QFile::exists(folder.database()));
    }

    void wrongDatabasePassword() {
        ProgramFolder folder(QString(), false);
        Schema::createDatabase(folder.database(), QStringLiteral("other"), QString());
        expectFailure(QStringLiteral("password"));
    }

    void notADatabase_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("random bytes") << QByteArray(4096, '\x5a');
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("text") << QByteArray("name,company\nzhang,acme\n");
    }

    void notADatabase() {
        QFETCH(QByteArray, content);
        ProgramFolder folder(QString(), false);
        QFile file(folder.database());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        Platform::MessageBoxRecorder boxes;
        QCOMPARE(startUp(), 1);
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes().first().caption, QStringLiteral("Application Error"));
        // The file is left as it was.
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }

    void truncatedDatabase() {
        ProgramFolder folder;
        QFile file(folder.database());
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.resize(1000));
        file.close();
        Platform::MessageBoxRecorder boxes;
        QCOMPARE(startUp(), 1);
        QCOMPARE(boxes.boxes().size(), 1);
    }

    void tableMissing_data() {
        QTest::addColumn<QString>("table");
        QTest::newRow("zl") << QStringLiteral("zl");
        QTest::newRow("yh") << QStringLiteral("yh");
    }

    void tableMissing() {
        QFETCH(QString, table);
        ProgramFolder folder;
        exec(folder.database(), QStringLiteral("drop table ") + table);
        expectFailure(table);
    }

    void lockedDatabase() {
        ProgramFolder folder;
        // Another program holds the file exclusively.
        QProcess holder;
        holder.start(QStringLiteral("sqlite3"), {folder.database()});
        QVERIFY(holder.waitForStarted());
        holder.write("BEGIN EXCLUSIVE; SELECT count(*) FROM zl; SELECT 'held';\n");
        QVERIFY(holder.waitForReadyRead(5000));
        QVERIFY(holder.readAllStandardOutput().contains("held"));
        expectFailure(QStringLiteral("lock"));
        holder.write("ROLLBACK;\n.quit\n");
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(5000));
    }

    void errorBoxText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "File not found"
                                << "File not found.";
        QTest::newRow("full stop") << "File not found."
                                   << "File not found.";
        QTest::newRow("exclamation") << "Stop!"
                                     << "Stop!";
        QTest::newRow("chinese") << QStringLiteral("错误") << QStringLiteral("错误.");
        QTest::newRow("empty") << ""
                               << "";
    }

    void errorBoxText() {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(Platform::errorBoxText(text), shown);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
