// Saves when the file is not as the program left it: another program changed or deleted the
// card, holds the file, or the disk is full. Nothing is lost, nothing is stored twice, and
// the list and the editor stay as they were before a refused save.
#include "testsupport.h"

#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/connectionstring.h"
#include "data/dberror.h"
#include "dialogs/Tjts.h"
#include "dialogs/sc.h"
#include "mainwindow/VELMORA.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <sqlite3.h>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

QStringList stored(const Program& program, const QString& columns) {
    return query(program.folder.database(),
                 QStringLiteral("select %1 from zl order by ID").arg(columns));
}

enum class Obstacle { Locked, FullDisk };

/// Runs `save` while `obstacle` stands in its way.
template <class F> void hindered(Obstacle obstacle, const QString& database, F save) {
    if (obstacle == Obstacle::Locked) {
        OtherWriter other(database);
        QVERIFY(other.ok());
        save();
    } else {
        FullDisk full;
        save();
    }
}

bool saysWhatHappened(const QString& text, Obstacle obstacle) {
    const QString start = obstacle == Obstacle::Locked
                              ? QStringLiteral("数据库文件正被其他程序使用")
                              : QStringLiteral("磁盘空间不足");
    if (text.startsWith(start) && TestSupport::technical(text).startsWith("ADOQuery1: "))
        return true;
    qWarning() << "message:" << text;
    return false;
}

} // namespace

Q_DECLARE_METATYPE(Obstacle)

class TestSaves : public WindowTest {
    Q_OBJECT

private slots:
    // ---- Another program changed the card after it was loaded ----

    void modifyOfACardChangedElsewhereIsRefused_data() {
        QTest::addColumn<QString>("change");
        // One the editor shows, and one it does not.
        QTest::newRow("employer") << QStringLiteral("update zl set 单位 = 'A 公司'");
        QTest::newRow("date added") << QStringLiteral("update zl set 添加日期 = '2001-01-01'");
    }

    void modifyOfACardChangedElsewhereIsRefused() {
        QFETCH(QString, change);
        program().showMain();
        TFrmMain* m = FrmMain;
        addCard({col("姓名"), QStringLiteral("张三"), col("单位"), QStringLiteral("旧公司"),
                 col("部门"), QStringLiteral("旧部门")});
        m->SpeedButton2Click();
        exec(program().folder.database(), change);
        const QStringList before = stored(program(), QStringLiteral("单位, 部门, 添加日期"));

        m->Edit3->setText(QStringLiteral("B 部门"));
        m->ButtonXGQD->click();
        QCOMPARE(program().boxes.boxes().size(), 1);
        const QString message = program().boxes.boxes().first().text;
        QVERIFY2(message.startsWith(QStringLiteral("这张名片已被其他程序修改")),
                 qPrintable(message));
        QVERIFY(TestSupport::technical(message).startsWith("ADOQuery1: "));
        // Nothing written; the editor keeps what was typed.
        QCOMPARE(stored(program(), QStringLiteral("单位, 部门, 添加日期")), before);
        QVERIFY(m->PageControlZL->isVisible());
        QCOMPARE(m->Edit3->text(), QStringLiteral("B 部门"));
        QCOMPARE(m->modeMarker(), QStringLiteral("修改"));
        QCOMPARE(m->ADOQuery1->state(), TADOQuery::dsBrowse);

        // Loaded again, the card is what the other program() left, and the save goes through.
        m->SpeedButton2Click();
        m->Edit3->setText(QStringLiteral("B 部门"));
        m->ButtonXGQD->click();
        QCOMPARE(program().boxes.boxes().size(), 1);
        const QStringList after = stored(program(), QStringLiteral("单位, 部门, 添加日期"));
        QCOMPARE(after.first().section('|', 0, 0), before.first().section('|', 0, 0));
        QCOMPARE(after.first().section('|', 1, 1), QStringLiteral("B 部门"));
        QCOMPARE(after.first().section('|', 2, 2), before.first().section('|', 2, 2));
    }

    void twoProgramsModifyingOneCardLoseNothing() {
        program().showMain();
        TFrmMain* m = FrmMain;
        addCard({col("姓名"), QStringLiteral("张三")});
        // Another copy of the program(), with the card loaded just as this one has it.
        TADOConnection otherConnection;
        otherConnection.ConnectionString = QString::fromUtf8(kStoredConnectionString);
        TADOQuery other(QStringLiteral("ADOQuery1"));
        other.setConnection(&otherConnection);
        other.SQL.Add(QStringLiteral("select * from zl"));
        other.Open();
        const QVector<QVariant> otherLoaded = other.CurrentValues();
        m->SpeedButton2Click();

        m->Edit2->setText(QStringLiteral("A 公司"));
        m->ButtonXGQD->click();
        QVERIFY(program().boxes.boxes().isEmpty());

        other.EditChecked(otherLoaded);
        other.SetFieldAsString(col("部门"), QStringLiteral("B 部门"));
        QString error;
        try {
            other.Post();
        } catch (const EDatabaseError& e) {
            error = e.message();
        }
        QVERIFY2(error.startsWith(QStringLiteral("这张名片已被其他程序修改")), qPrintable(error));
        other.Cancel();
        // The other copy now shows what this one stored, and saves on top of it.
        QCOMPARE(other.FieldAsString(col("单位")), QStringLiteral("A 公司"));
        other.EditChecked(other.CurrentValues());
        other.SetFieldAsString(col("部门"), QStringLiteral("B 部门"));
        other.Post();
        QCOMPARE(stored(program(), QStringLiteral("单位, 部门")),
                 QStringList{QStringLiteral("A 公司|B 部门")});
    }

    void modifyOfACardDeletedElsewhereIsRefused() {
        program().showMain();
        TFrmMain* m = FrmMain;
        addCard({col("姓名"), QStringLiteral("张三")});
        addCard({col("姓名"), QStringLiteral("李四")});
        m->ADOQuery1->First();
        m->SpeedButton2Click();
        exec(program().folder.database(), QStringLiteral("delete from zl where 姓名 = '张三'"));
        m->Edit2->setText(QStringLiteral("A 公司"));
        m->ButtonXGQD->click();
        QCOMPARE(program().boxes.boxes().size(), 1);
        QVERIFY2(
            program().boxes.texts().first().startsWith(QStringLiteral("这张名片已被其他程序删除")),
            qPrintable(program().boxes.texts().first()));
        QCOMPARE(stored(program(), QStringLiteral("姓名")), QStringList{QStringLiteral("李四")});
        QCOMPARE(listedNames(), QStringList{QStringLiteral("李四")});
        QVERIFY(m->PageControlZL->isVisible());
        QCOMPARE(m->Edit2->text(), QStringLiteral("A 公司"));
    }

    void deleteOfACardChangedElsewhereIsRefused() {
        program().showMain();
        TFrmMain* m = FrmMain;
        addCard({col("姓名"), QStringLiteral("张三")});
        m->SpeedButton3Click();
        QVERIFY(program().modal.shown.contains(FrmSC));
        // What the list shows is not what the file holds any more.
        exec(program().folder.database(), QStringLiteral("update zl set 姓名 = '王五'"));
        FrmSC->Button1->click();
        QCOMPARE(program().boxes.boxes().size(), 1);
        QVERIFY2(
            program().boxes.texts().first().startsWith(QStringLiteral("这张名片已被其他程序修改")),
            qPrintable(program().boxes.texts().first()));
        QCOMPARE(stored(program(), QStringLiteral("姓名")), QStringList{QStringLiteral("王五")});
        // The list shows the card as it is now; deleting that works.
        QCOMPARE(listedNames(), QStringList{QStringLiteral("王五")});
        FrmSC->Button1->click();
        QCOMPARE(program().boxes.boxes().size(), 1);
        QCOMPARE(stored(program(), QStringLiteral("姓名")), QStringList());
    }

    void deleteOfACardDeletedElsewhereSaysSo() {
        program().showMain();
        TFrmMain* m = FrmMain;
        addCard({col("姓名"), QStringLiteral("张三")});
        addCard({col("姓名"), QStringLiteral("李四")});
        m->ADOQuery1->First();
        exec(program().folder.database(), QStringLiteral("delete from zl where 姓名 = '张三'"));
        m->SpeedButton3Click();
        FrmSC->Button1->click();
        QCOMPARE(program().boxes.texts(),
                 QStringList{QStringLiteral("这张名片已被其他程序删除了。")});
        QVERIFY(!FrmSC->isVisible());
        QCOMPARE(stored(program(), QStringLiteral("姓名")), QStringList{QStringLiteral("李四")});
        QCOMPARE(listedNames(), QStringList{QStringLiteral("李四")});
    }

    // ---- The file locked by another program, or the disk full ----

    void refusedAddStoresTheCardOnceLater_data() {
        QTest::addColumn<Obstacle>("obstacle");
        QTest::newRow("locked") << Obstacle::Locked;
        QTest::newRow("full disk") << Obstacle::FullDisk;
    }

    void refusedAddStoresTheCardOnceLater() {
        QFETCH(Obstacle, obstacle);
        program().showMain();
        TFrmMain* m = FrmMain;
        addCard({col("姓名"), QStringLiteral("张三")});
        m->SpeedButton1Click();
        m->Edit1->setText(QStringLiteral("李四"));
        m->Edit2->setText(QStringLiteral("A 公司"));
        hindered(obstacle, program().folder.database(), [&] { m->ButtonTJQD->click(); });
        QCOMPARE(program().boxes.boxes().size(), 1);
        QVERIFY(saysWhatHappened(program().boxes.texts().first(), obstacle));
        // The file, the list and the editor as before the save.
        QCOMPARE(stored(program(), QStringLiteral("姓名")), QStringList{QStringLiteral("张三")});
        QCOMPARE(listedNames(), QStringList{QStringLiteral("张三")});
        QCOMPARE(m->ADOQuery1->state(), TADOQuery::dsBrowse);
        QCOMPARE(m->Edit1->text(), QStringLiteral("李四"));
        QCOMPARE(m->Edit2->text(), QStringLiteral("A 公司"));
        QVERIFY(!program().modal.shown.contains(FrmTJTS));

        m->ButtonTJQD->click();
        QCOMPARE(program().boxes.boxes().size(), 1);
        QCOMPARE(stored(program(), QStringLiteral("姓名, 单位")),
                 QStringList({QStringLiteral("张三|"), QStringLiteral("李四|A 公司")}));
        QCOMPARE(listedNames(), QStringList({QStringLiteral("张三"), QStringLiteral("李四")}));
        // The next card is stored once too.
        m->Edit1->setText(QStringLiteral("王五"));
        m->ButtonTJQD->click();
        QCOMPARE(stored(program(), QStringLiteral("count(*)")), QStringList{QStringLiteral("3")});
    }

    void refusedModifyLeavesTheCard_data() { refusedAddStoresTheCardOnceLater_data(); }

    void refusedModifyLeavesTheCard() {
        QFETCH(Obstacle, obstacle);
        program().showMain();
        TFrmMain* m = FrmMain;
        addCard({col("姓名"), QStringLiteral("张三"), col("单位"), QStringLiteral("旧公司")});
        m->SpeedButton2Click();
        m->Edit2->setText(QStringLiteral("新公司"));
        hindered(obstacle, program().folder.database(), [&] { m->ButtonXGQD->click(); });
        QCOMPARE(program().boxes.boxes().size(), 1);
        QVERIFY(saysWhatHappened(program().boxes.texts().first(), obstacle));
        QCOMPARE(stored(program(), QStringLiteral("单位")), QStringList{QStringLiteral("旧公司")});
        QCOMPARE(m->ADOQuery1->state(), TADOQuery::dsBrowse);
        QCOMPARE(m->ADOQuery1->FieldAsString(col("单位")), QStringLiteral("旧公司"));
        QVERIFY(m->PageControlZL->isVisible());
        QCOMPARE(m->Edit2->text(), QStringLiteral("新公司"));

        m->ButtonXGQD->click();
        QCOMPARE(program().boxes.boxes().size(), 1);
        QCOMPARE(stored(program(), QStringLiteral("单位")), QStringList{QStringLiteral("新公司")});
    }

    void refusedDeleteKeepsTheCard_data() { refusedAddStoresTheCardOnceLater_data(); }

    void refusedDeleteKeepsTheCard() {
        QFETCH(Obstacle, obstacle);
        program().showMain();
        TFrmMain* m = FrmMain;
        addCard({col("姓名"), QStringLiteral("张三")});
        addCard({col("姓名"), QStringLiteral("李四")});
        m->ADOQuery1->First();
        m->SpeedButton3Click();
        hindered(obstacle, program().folder.database(), [&] { FrmSC->Button1->click(); });
        QCOMPARE(program().boxes.boxes().size(), 1);
        QVERIFY(saysWhatHappened(program().boxes.texts().first(), obstacle));
        QCOMPARE(stored(program(), QStringLiteral("姓名")),
                 QStringList({QStringLiteral("张三"), QStringLiteral("李四")}));
        QCOMPARE(listedNames(), QStringList({QStringLiteral("张三"), QStringLiteral("李四")}));
        QCOMPARE(m->ADOQuery1->FieldAsString(col("姓名")), QStringLiteral("张三"));

        FrmSC->Button1->click();
        QCOMPARE(stored(program(), QStringLiteral("姓名")), QStringList{QStringLiteral("李四")});
    }

    void searchWhileLockedSaysSo() {
        program().showMain();
        TFrmMain* m = FrmMain;
        addCard({col("姓名"), QStringLiteral("张三")});
        {
            sqlite3* db = nullptr;
            sqlite3_open_v2(program().folder.database().toUtf8().constData(), &db,
                            SQLITE_OPEN_READWRITE, nullptr);
            QCOMPARE(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
            m->ComboBoxGXZD->setEditText(col("姓名"));
            m->EditGJZ->setText(QStringLiteral("张"));
            m->SpeedButton4->click();
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            sqlite3_close(db);
        }
        QCOMPARE(program().boxes.boxes().size(), 1);
        QVERIFY2(program().boxes.texts().first().startsWith(
                     QStringLiteral("数据库文件正被其他程序使用")),
                 qPrintable(program().boxes.texts().first()));
    }

    // ---- The file deleted, replaced or made read-only under the program ----

    void writesToAFileGoneFromUnderTheProgram_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("moved away") << QStringLiteral("moved");
        QTest::newRow("deleted") << QStringLiteral("deleted");
        QTest::newRow("replaced") << QStringLiteral("replaced");
    }

    void writesToAFileGoneFromUnderTheProgram() {
        QFETCH(QString, how);
        program().showMain();
        TFrmMain* m = FrmMain;
        addCard({col("姓名"), QStringLiteral("张三")});
        const QString other = program().folder.path() + QStringLiteral("other.mdb");
        if (how == QLatin1String("moved")) {
            QVERIFY(QFile::rename(program().folder.database(), other));
        } else if (how == QLatin1String("deleted")) {
            QVERIFY(QFile::remove(program().folder.database()));
        } else {
            QVERIFY(QFile::copy(program().folder.database(), other));
            QVERIFY(::rename(QFile::encodeName(other).constData(),
                             QFile::encodeName(program().folder.database()).constData()) == 0);
        }
        m->SpeedButton1Click();
        m->Edit1->setText(QStringLiteral("李四"));
        m->ButtonTJQD->click();
        QCOMPARE(program().boxes.boxes().size(), 1);
        const QString message = program().boxes.texts().first();
        QVERIFY2(message.startsWith(QStringLiteral("数据库文件在本程序运行时被删除、移动或替换")),
                 qPrintable(message));
        QVERIFY(message.contains(QStringLiteral("请退出并重新启动本程序")));
        QCOMPARE(listedNames(), QStringList{QStringLiteral("张三")});
        QCOMPARE(m->Edit1->text(), QStringLiteral("李四"));
    }

    void writesToAReadOnlyFileOrFolder_data() {
        QTest::addColumn<bool>("folder");
        QTest::newRow("file") << false;
        QTest::newRow("folder") << true;
    }

    void writesToAReadOnlyFileOrFolder() {
        QFETCH(bool, folder);
        endProgram();
        ProgramFolder files;
        // Root writes anywhere: the save runs as nobody in a child process.
        const QByteArray path = QFile::encodeName(folder ? files.path() : files.database());
        ::chmod(QFile::encodeName(files.path()).constData(), 0777);
        ::chmod(QFile::encodeName(files.database()).constData(), 0666);
        ::chmod(path.constData(), folder ? 0555 : 0444);
        const QString message = inChild([&] {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                return QStringLiteral("cannot become nobody");
            try {
                TADOConnection connection;
                connection.ConnectionString = QString::fromUtf8(kStoredConnectionString);
                TADOQuery q(QStringLiteral("ADOQuery1"));
                q.setConnection(&connection);
                q.SQL.Add(QStringLiteral("select * from zl"));
                q.Open();
                q.Insert();
                q.SetFieldAsString(col("姓名"), QStringLiteral("张三"));
                q.Post();
            } catch (const EDatabaseError& e) {
                return e.message();
            }
            return QStringLiteral("no error");
        });
        ::chmod(QFile::encodeName(files.path()).constData(), 0700);
        if (message == QLatin1String("cannot become nobody"))
            QSKIP("cannot run the save as another user");
        QVERIFY2(message.startsWith(folder ? QStringLiteral("数据库文件所在的文件夹不允许写入")
                                           : QStringLiteral("数据库文件是只读的")),
                 qPrintable(message));
        QVERIFY(message.contains(QStringLiteral("写入权限")));
        QVERIFY(message.contains(QStringLiteral("\n") + QDir::toNativeSeparators(files.database()) +
                                 QStringLiteral("\n")));
        QCOMPARE(query(files.database(), QStringLiteral("select count(*) from zl")),
                 QStringList{QStringLiteral("0")});
    }
};

QTEST_MAIN(TestSaves)
#include "tst_saves.moc"
