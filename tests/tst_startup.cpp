// Start-up: the four windows, and every way the database can fail to open.
#include "testsupport.h"

#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/schema.h"
#include "dialogs/Tjts.h"
#include "dialogs/sc.h"
#include "login/dl.h"
#include "mainwindow/VELMORA.h"
#include "platform/files.h"
#include "program/quembe.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace TestSupport;

class TestStartup : public QObject {
    Q_OBJECT

private:
    /// Runs the program over the folder as it is, up to the message loop; the exit status.
    static int startUp() {
        Platform::ModalRecorder modal;
        return Quembe::run(*qApp);
    }

    /// The start fails with one "Application Error" box that says in Chinese what happened,
    /// names the database on a line of its own and says what to do (`advice`).
    void expectFailure(const QString& fragment, const QString& advice = QString()) {
        Platform::MessageBoxRecorder boxes;
        QCOMPARE(startUp(), 1);
        QCOMPARE(boxes.boxes().size(), 1);
        const auto box = boxes.boxes().first();
        QCOMPARE(box.caption, QStringLiteral("Application Error"));
        QCOMPARE(box.flags, unsigned(Platform::MB_OK | Platform::MB_ICONSTOP));
        QVERIFY2(box.text.contains(fragment, Qt::CaseInsensitive), qPrintable(box.text));
        QVERIFY2(opensInChinese(box.text), qPrintable(box.text));
        const QString database =
            QDir::toNativeSeparators(Platform::programFolder() + QStringLiteral("velmora.mdb"));
        QVERIFY2(box.text.split(QLatin1Char('\n')).contains(database), qPrintable(box.text));
        QVERIFY2(box.text.contains(advice), qPrintable(box.text));
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
        expectFailure(QStringLiteral("找不到数据库文件"),
                      QStringLiteral("\nmkvelmora velmora.mdb\n"));
        // The program never makes a database of its own.
        QVERIFY(!QFile::exists(folder.database()));
    }

#ifdef Q_OS_UNIX
    void aFolderWithoutPermission() {
        // The database is there, but the user may not enter its folder: it must not be
        // called missing, nor a new one proposed. Root enters anywhere, so the program and
        // the tool start as nobody, each a fresh process.
        ProgramFolder folder;
        const QByteArray path = QFile::encodeName(folder.path());
        ::chmod(path.constData(), 0700);
        auto asNobody = [](QProcess& process, const QString& program, const QStringList& args) {
            process.setChildProcessModifier([] {
                if (::geteuid() == 0 && ::setgid(65534) == 0)
                    (void)::setuid(65534);
            });
            process.start(program, args);
            return process.waitForFinished(60000);
        };
        QProcess start, tool;
        const bool started = asNobody(start, QCoreApplication::applicationFilePath(),
                                      {QStringLiteral("--start-in"), folder.path()});
        const bool found = asNobody(tool, QStringLiteral(QUEMBE_CARDS_TOOL),
                                    {QStringLiteral("--database"), folder.database(),
                                     QStringLiteral("find"), QStringLiteral("zhang")});
        ::chmod(path.constData(), 0755);
        if (::geteuid() != 0)
            QSKIP("the check needs root, to become another user");
        QVERIFY(started && found);
        QCOMPARE(start.exitCode(), 1);
        QCOMPARE(tool.exitCode(), 1);
        for (const QString& message : {QString::fromUtf8(start.readAllStandardOutput()),
                                       QString::fromUtf8(tool.readAllStandardError())}) {
            QVERIFY2(message.contains(QStringLiteral("没有权限进入数据库所在的文件夹")),
                     qPrintable(message));
            QVERIFY2(!message.contains(QStringLiteral("找不到")), qPrintable(message));
            QVERIFY2(!message.contains(QStringLiteral("mkvelmora")), qPrintable(message));
            QVERIFY(message.contains(QDir::toNativeSeparators(folder.database())));
        }
    }
#endif

    void wrongDatabasePassword() {
        ProgramFolder folder(QString(), false);
        Schema::createDatabase(folder.database(), QStringLiteral("other"), QString());
        expectFailure(QStringLiteral("数据库密码"), QStringLiteral("请换用本程序建立的数据库文件"));
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
        expectFailure(QStringLiteral("不是本程序的数据库"), QStringLiteral("velmora.bak"));
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
        expectFailure(QStringLiteral("不是本程序的数据库"), QStringLiteral("velmora.bak"));
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
        expectFailure(QStringLiteral("缺少表“%1”").arg(table), QStringLiteral("mkvelmora"));
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
        expectFailure(QStringLiteral("正被其他程序使用"),
                      QStringLiteral("请关闭它或等它完成后重试"));
        holder.write("ROLLBACK;\n.quit\n");
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(5000));
    }

    void aTriggerOnTheCardsIsRefused() {
        ProgramFolder folder;
        exec(folder.database(), QStringLiteral("create trigger t after insert on zl begin "
                                               "delete from zl; end"));
        expectFailure(QStringLiteral("触发器“t”"), QStringLiteral("velmora.bak"));
        // Tables of other programs beside ours are left to them.
        exec(folder.database(), QStringLiteral("drop trigger t"));
        exec(folder.database(), QStringLiteral("create table notes (text)"));
        Program program;
        QVERIFY(program.created());
    }

    void theBoxNeverBreaksAPath() {
        ProgramFolder folder(QString(), false);
        // A folder name long enough to make the box wrap its lines.
        const QString deep = folder.path() + QString(30, QLatin1Char('n')) +
                             QStringLiteral("-名片-") + QString(20, QLatin1Char('x'));
        QVERIFY(QDir().mkpath(deep));
        Platform::setProgramFolderForTesting(deep);
        QString text;
        {
            Platform::MessageBoxRecorder boxes;
            QCOMPARE(startUp(), 1);
            text = boxes.boxes().first().text;
        }
        Platform::setProgramFolderForTesting(folder.path());
        const QString path = QDir::toNativeSeparators(deep + QStringLiteral("/velmora.mdb"));
        QVERIFY(text.split(QLatin1Char('\n')).contains(path));

        const std::unique_ptr<QMessageBox> box =
            Platform::makeMessageBox(nullptr, text, QStringLiteral("Application Error"),
                                     Platform::MB_OK | Platform::MB_ICONSTOP);
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box.get()));
        auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        QVERIFY(label);
        QTextDocument* document = label->findChild<QTextDocument*>();
        QVERIFY(document);
        int pathLines = 0;
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            if (block.text() == path && block.layout())
                pathLines = block.layout()->lineCount();
        }
        QCOMPARE(pathLines, 1);
        QVERIFY(label->fontMetrics().horizontalAdvance(path) <= label->width());
        QVERIFY(box->frameGeometry().width() <= box->screen()->geometry().width());
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

// "--start-in FOLDER": starts the program over FOLDER and prints the text of the one box
// shown, for a case that needs a fresh process under another user.
static int startIn(int argc, char** argv) {
    QApplication app(argc, argv);
    Platform::setProgramFolderForTesting(QString::fromLocal8Bit(argv[2]));
    Platform::MessageBoxRecorder boxes;
    Platform::ModalRecorder modal;
    const int status = Quembe::run(app);
    std::fputs(boxes.texts().join(QLatin1Char('\n')).toUtf8().constData(), stdout);
    return status;
}

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], "--start-in") == 0)
        return startIn(argc, argv);
    QApplication app(argc, argv);
    TestStartup test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_startup.moc"
