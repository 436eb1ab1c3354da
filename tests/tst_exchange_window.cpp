// Importing and exporting cards through the window's menu and through the command-line tool.
#include "testsupport.h"

#include "data/adoquery.h"
#include "mainwindow/VELMORA.h"
#include "platform/filedialog.h"
#include "platform/progress.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace TestSupport;

namespace {

QByteArray vcards(int count, const QByteArray& name = "导入") {
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + QByteArray::number(i) +
                "\r\nTEL;TYPE=CELL:138" + QByteArray::number(10000000 + i) + "\r\nEND:VCARD\r\n";
    return text;
}

int cardCount(const QString& database) {
    return query(database, "select count(*) from zl").value(0).toInt();
}

} // namespace

class TestExchangeWindow : public WindowTest {
    Q_OBJECT

private slots:
    void menuItemsFollowTheDial() {
        QStringList shown;
        for (QAction* action : FrmMain->N1->actions())
            shown << (action->isSeparator() ? QStringLiteral("-") : action->text());
        QCOMPARE(shown, (QStringList{"添加...  &A", "修改...  &E", "删除...  &D", "-",
                                     "拨号...  &T", "-", "导入名片...  &I", "导出名片...  &X",
                                     "识别名片图片...  &O", "同步名片  &Y", "同步设置...  &G",
                                     "查找重复名片...  &U", "撤销...  &Z"}));
        QCOMPARE(FrmMain->N21->objectName(), QStringLiteral("N21"));
        QCOMPARE(FrmMain->N4->shortcut(), QKeySequence(QStringLiteral("Ctrl+Alt+A")));
    }

    void importAddsTheFileAndListsTheCards() {
        addCard({col("姓名"), "原有"});
        const QString file = program().folder.path() + "in.vcf";
        writeFile(file, vcards(3) + "BEGIN:VCARD\r\nVERSION:3.0\r\nNOTE:x\r\nEND:VCARD\r\n");
        Platform::FileDialogRecorder dialogs;
        dialogs.setNextAnswer(file);
        FrmMain->N21->trigger();

        QCOMPARE(dialogs.dialogs().size(), 1);
        QVERIFY(dialogs.dialogs().first().filters.first().contains("*.vcf"));
        QCOMPARE(query(program().folder.database(), "select 姓名 from zl"),
                 (QStringList{"原有", "导入0", "导入1", "导入2"}));
        // The list holds them, the first new one current; the notice tells what was left out.
        QCOMPARE(FrmMain->ADOQuery1->RecordCount(), 4);
        QCOMPARE(FrmMain->ADOQuery1->FieldAsString(col("姓名")), QStringLiteral("导入0"));
        QCOMPARE(program().boxes.boxes().size(), 1);
        const QString notice = program().boxes.boxes().first().text;
        QVERIFY2(notice.startsWith(QStringLiteral("已添加 3 张名片。")), qPrintable(notice));
        QVERIFY2(notice.contains(QStringLiteral("第 16 行")), qPrintable(notice));
    }

    void cancelOrAnUnreadableFileAddsNothing() {
        const QString file = program().folder.path() + "many.vcf";
        writeFile(file, vcards(2000));
        {
            Platform::FileDialogRecorder dialogs;
            dialogs.setNextAnswer(file);
            Platform::ProgressRecorder progress;
            progress.cancelAtStep(2);
            FrmMain->N21->trigger();
            QCOMPARE(progress.labels.size(), 1);
        }
        QCOMPARE(cardCount(program().folder.database()), 0);
        QCOMPARE(program().boxes.texts(), QStringList{"导入已取消，没有添加任何名片。"});

        // A quoted CSV field that never ends: the error names the line; nothing is added.
        program().boxes.clear();
        const QString bad = program().folder.path() + "bad.csv";
        writeFile(bad, "姓名,单位\r\n张三,甲\r\n李四,\"乙\r\n王五,丙\r\n");
        Platform::FileDialogRecorder dialogs;
        dialogs.setNextAnswer(bad);
        FrmMain->N21->trigger();
        QCOMPARE(cardCount(program().folder.database()), 0);
        QCOMPARE(program().boxes.boxes().size(), 1);
        QCOMPARE(program().boxes.boxes().first().flags,
                 unsigned(Platform::MB_OK | Platform::MB_ICONSTOP));
        const QString error = program().boxes.boxes().first().text;
        QVERIFY2(error.contains(QStringLiteral("第 3 行")), qPrintable(error));
        QVERIFY2(opensInChinese(error), qPrintable(error));
    }

    // Many cards are filed for the quick find after they are read; meanwhile the progress
    // dialog still takes events, and a cancel then adds nothing.
    void cancelWhileTheCardsAreFiled() {
        const QString file = program().folder.path() + "many.vcf";
        writeFile(file, vcards(700)); // read in two steps of 256 cards and a rest
        int steps = 0;
        {
            Platform::FileDialogRecorder dialogs;
            dialogs.setNextAnswer(file);
            Platform::ProgressRecorder progress;
            FrmMain->N21->trigger();
            steps = progress.steps;
        }
        QCOMPARE(cardCount(program().folder.database()), 700);
        // Two while reading, at least one while filing, one at the end.
        QVERIFY2(steps >= 4, qPrintable(QString::number(steps)));

        program().boxes.clear();
        const QString other = program().folder.path() + "other.vcf";
        writeFile(other, vcards(700, "另一"));
        Platform::FileDialogRecorder dialogs;
        dialogs.setNextAnswer(other);
        Platform::ProgressRecorder progress;
        progress.cancelAtStep(3);
        FrmMain->N21->trigger();
        QCOMPARE(cardCount(program().folder.database()), 700);
        QCOMPARE(program().boxes.texts(), QStringList{"导入已取消，没有添加任何名片。"});
    }

    void exportWritesTheListedCardsInTheChosenFormat() {
        addCard({col("姓名"), "张三", col("单位"), "甲, \"乙\""});
        addCard({col("姓名"), "李四"});
        addCard({col("姓名"), "张五"});
        // A search result: only its cards go out.
        FrmMain->ComboBoxGXZD->setEditText(col("姓名"));
        FrmMain->EditGJZ->setText(QStringLiteral("张"));
        FrmMain->SpeedButton4Click();
        QCOMPARE(FrmMain->ADOQuery1->RecordCount(), 2);

        Platform::FileDialogRecorder dialogs;
        const QString path = program().folder.path() + "out"; // no suffix: the format's is added
        dialogs.setNextAnswer(path, QStringLiteral("CSV UTF-8, Excel (*.csv)"));
        FrmMain->N22->trigger();
        QCOMPARE(dialogs.dialogs().first().selectedFilter, QStringLiteral("vCard 3.0 (*.vcf)"));
        const QByteArray csv = readFile(path + ".csv");
        QVERIFY(csv.startsWith("\xEF\xBB\xBF姓名,单位,"));
        QCOMPARE(csv.count('\n'), 3);
        QVERIFY(csv.contains("张三,\"甲, \"\"乙\"\"\""));
        QVERIFY(!csv.contains("李四"));
        // Only some of the cards went out, and the notice says how many of how many.
        QVERIFY2(program().boxes.texts().last().startsWith(
                     QStringLiteral("已导出 2 张名片（全部 3 张中列表里的 2 张）到：")),
                 qPrintable(program().boxes.texts().last()));

        // Cancelled part-way: no file at all, not even half of one.
        Platform::ProgressRecorder progress;
        progress.cancelAtStep(1);
        dialogs.setNextAnswer(program().folder.path() + "cancelled.vcf");
        FrmMain->N22->trigger();
        QVERIFY(!QFile::exists(program().folder.path() + "cancelled.vcf"));
        QCOMPARE(program().boxes.texts().last(), QStringLiteral("导出已取消，没有生成文件。"));
    }

    void toolImportsAllOrNothingAndExportsASearch() {
        endProgram();
        ProgramFolder folder;
        const QString tool = QStringLiteral(QUEMBE_CARDS_TOOL);
        auto run = [&](const QStringList& args, QString* out = nullptr) {
            QProcess p;
            p.start(tool, QStringList{"--database", folder.database()} + args);
            p.waitForFinished(60000);
            if (out)
                *out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
            return p.exitCode();
        };
        const QString good = folder.path() + "good.vcf";
        writeFile(good, vcards(3));
        const QString bad = folder.path() + "bad.csv";
        writeFile(bad, "姓名\r\n\"未完\r\n");

        QString text;
        QCOMPARE(run({"import", good, bad}, &text), 1);
        QVERIFY2(text.contains(QStringLiteral("第 2 行")), qPrintable(text));
        QCOMPARE(cardCount(folder.database()), 0);
        QCOMPARE(run({"import", good}, &text), 0);
        QVERIFY2(text.startsWith(QStringLiteral("已添加 3 张名片。")), qPrintable(text));

        const QString out = folder.path() + "one.vcf";
        QCOMPARE(run({"export", "--format", "vcard21", "--search", col("姓名"), "导入1", out}), 0);
        const QByteArray vcf = readFile(out);
        QVERIFY(vcf.contains("VERSION:2.1"));
        QCOMPARE(vcf.count("BEGIN:VCARD"), 1);

        QCOMPARE(run({"export", "--format", "pdf", out}, &text), 2);
        QVERIFY(text.contains("vcard3"));
        QCOMPARE(run({"export", "--format", "csv", "--search", "姓名 OR 1=1", "x", out}, &text), 1);
        QCOMPARE(run({"nosuch"}), 2);
        QProcess p;
        p.start(tool, {"--database", folder.path() + "missing.mdb", "import", good});
        p.waitForFinished(60000);
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(!QFile::exists(folder.path() + "missing.mdb"));
    }
};

QTEST_MAIN(TestExchangeWindow)
#include "tst_exchange_window.moc"
