// What an import or export must never do to the cards, and what it owes the user: no export
// over the database, no endless read, one UID per card, no card twice, a closed progress
// dialog before the notice. Through the window and through quembe-cards.
#include "testsupport.h"

#include "data/adoquery.h"
#include "data/backup.h"
#include "data/connectionstring.h"
#include "mainwindow/VELMORA.h"
#include "platform/filedialog.h"
#include "platform/progress.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

int cardCount(const QString& database) {
    return query(database, "select count(*) from zl").value(0).toInt();
}

// quembe-cards on the folder's database; the exit status, and what it printed in `out`.
int tool(const ProgramFolder& folder, const QStringList& args, QString* out = nullptr,
         bool databaseFirst = true) {
    QProcess p;
    const QStringList database{"--database", folder.database()};
    p.start(QStringLiteral(QUEMBE_CARDS_TOOL), databaseFirst ? database + args : args + database);
    // Thousands of cards under the sanitizers on a busy machine take minutes.
    if (!p.waitForFinished(300000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (out)
        *out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    return p.exitCode();
}

const QByteArray kTwoCards =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:urn:uuid:1111\r\nFN:张三\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:李四\r\nTEL;TYPE=CELL:139\r\n"
    "END:VCARD\r\n";

} // namespace

class TestExchangeSafety : public QObject {
    Q_OBJECT

private slots:
    // The database, its journal, its backup, and links to them are never export targets.
    void exportOntoTheDatabaseIsRefused() {
        ProgramFolder folder;
        writeFile(folder.path() + "in.vcf", kTwoCards);
        QCOMPARE(tool(folder, {"import", folder.path() + "in.vcf"}), 0);
        QVERIFY(QFile::link(folder.database(), folder.path() + "link.mdb"));
        QCOMPARE(::link(QFile::encodeName(folder.database()).constData(),
                        QFile::encodeName(folder.path() + "hard.mdb").constData()),
                 0);
        const QByteArray before = readFile(folder.database());
        for (const QString& target : {folder.database(), folder.path() + "link.mdb",
                                      folder.path() + "hard.mdb", folder.database() + "-journal",
                                      folder.backup(), folder.path() + "sub/../velmora.mdb"}) {
            QString out;
            QCOMPARE(tool(folder, {"export", "--format", "csv", target}, &out), 1);
            QVERIFY2(out.contains(QStringLiteral("不能导出到这个文件")), qPrintable(out));
        }
        QCOMPARE(readFile(folder.database()), before);
        QVERIFY(!QFile::exists(folder.backup()));
        QVERIFY(!QFile::exists(folder.database() + "-journal"));

        Program program;
        addCard({col("姓名"), "王五"});
        FrmMain->ADOQuery1->Close();
        FrmMain->ADOQuery1->Open();
        Platform::FileDialogRecorder dialogs;
        dialogs.setNextAnswer(program.folder.database(), "CSV UTF-8, Excel (*.csv)");
        FrmMain->N22->trigger();
        QCOMPARE(program.boxes.boxes().size(), 1);
        QVERIFY(opensInChinese(program.boxes.boxes().first().text));
        QVERIFY(program.boxes.boxes().first().text.contains(QStringLiteral("覆盖全部名片")));
        QCOMPARE(query(program.folder.database(), "select 姓名 from zl"), QStringList{"王五"});
    }

    // A device, a pipe without a writer, a line that never ends, a zero byte: refused at
    // once, with the reason, and nothing added.
    void endlessInputIsRefused() {
        ProgramFolder folder;
        QString out;
        QCOMPARE(tool(folder, {"import", "/dev/zero"}, &out), 1);
        QVERIFY2(out.contains(QStringLiteral("不是普通文件")), qPrintable(out));

        const QString fifo = folder.path() + "pipe.vcf";
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QCOMPARE(tool(folder, {"import", fifo}, &out), 1);
        QVERIFY2(out.contains(QStringLiteral("不是普通文件")), qPrintable(out));

        const QString longLine = folder.path() + "long.csv";
        {
            QFile f(longLine);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("姓名,备注\n张三,");
            const QByteArray block(1024 * 1024, 'a');
            for (int i = 0; i < 65; ++i)
                f.write(block);
        }
        QCOMPARE(tool(folder, {"import", longLine}, &out), 1);
        QVERIFY2(out.contains(QStringLiteral("第 2 行")) && out.contains("64 MB"), qPrintable(out));

        // Folded on and on, or a quote that never closes: the same limit, line by line.
        for (const char* start : {"BEGIN:VCARD\nVERSION:3.0\nFN:A\nNOTE:a\n", "姓名\n\"张"}) {
            const QString endless = folder.path() + (start[0] == 'B' ? "fold.vcf" : "quote.csv");
            QFile f(endless);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(start);
            const QByteArray block = " " + QByteArray(1024 * 1024, 'b') + "\n";
            for (int i = 0; i < 65; ++i)
                f.write(block);
            f.close();
            QCOMPARE(tool(folder, {"import", endless}, &out), 1);
            QVERIFY2(out.contains("64 MB"), qPrintable(out));
        }

        const QString zero = folder.path() + "zero.vcf";
        writeFile(zero, "BEGIN:VCARD\nFN:A\nEND:VCARD\nBEGIN:VCARD\nFN:B\0\nEND:VCARD\n"_qba);
        QCOMPARE(tool(folder, {"import", zero}, &out), 1);
        QVERIFY2(out.contains(QStringLiteral("第 5 行：这里有零字节")), qPrintable(out));
        QCOMPARE(cardCount(folder.database()), 0);

        Program program;
        Platform::FileDialogRecorder dialogs;
        dialogs.setNextAnswer(QStringLiteral("/dev/zero"));
        FrmMain->N21->trigger();
        QCOMPARE(program.boxes.boxes().size(), 1);
        QVERIFY(program.boxes.boxes().first().text.contains(QStringLiteral("不是普通文件")));
    }

    // A card keeps the UID its vCard brought; another gets one, the same in every export
    // and every version; a delete takes it along; a backup with UIDs restores.
    void everyCardHasAStableUid() {
        Program program;
        writeFile(program.folder.path() + "in.vcf", kTwoCards);
        Platform::FileDialogRecorder dialogs;
        dialogs.setNextAnswer(program.folder.path() + "in.vcf");
        FrmMain->N21->trigger();
        const QStringList rows =
            query(program.folder.database(), "select zl.姓名, card_uid.uid from zl join card_uid "
                                             "using (ID) order by ID");
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0], QStringLiteral("张三|urn:uuid:1111"));
        QVERIFY2(rows[1].startsWith(QStringLiteral("李四|urn:uuid:")), qPrintable(rows[1]));
        const QString made = rows[1].section('|', 1);

        addCard({col("姓名"), "新加"}); // through the editor: no UID until it leaves
        FrmMain->ADOQuery1->Close();
        FrmMain->ADOQuery1->Open();
        QString newUid;
        for (const char* format : {"vCard 3.0 (*.vcf)", "vCard 2.1, 旧手机/Outlook (*.vcf)",
                                   "vCard 4.0 (*.vcf)", "vCard 3.0 (*.vcf)"}) {
            const QString out = program.folder.path() + "out.vcf";
            QFile::remove(out);
            dialogs.setNextAnswer(out, QString::fromUtf8(format));
            FrmMain->N22->trigger();
            const QByteArray vcf = readFile(out);
            QCOMPARE(vcf.count("\r\nUID:"), 3);
            QVERIFY(vcf.contains("UID:urn:uuid:1111\r\n"));
            QVERIFY(vcf.contains("UID:" + made.toUtf8() + "\r\n"));
            const QStringList all =
                query(program.folder.database(), "select uid from card_uid join zl using (ID) "
                                                 "where 姓名='新加'");
            QCOMPARE(all.size(), 1);
            QVERIFY(newUid.isEmpty() || newUid == all.first());
            newUid = all.first();
        }

        QString reason;
        QVERIFY2(backupDatabase(program.folder.database(), program.folder.backup(), &reason),
                 qPrintable(reason));
        QVERIFY2(isRestorableBackup(program.folder.backup(),
                                    QString::fromUtf8(kStoredConnectionString), &reason),
                 qPrintable(reason));

        QVERIFY(FrmMain->ADOQuery1->Locate(
            query(program.folder.database(), "select ID from zl where 姓名='李四'")
                .value(0)
                .toLongLong()));
        QVERIFY(FrmMain->ADOQuery1->Delete());
        QCOMPARE(query(program.folder.database(), "select count(*) from card_uid"),
                 QStringList{"2"});
    }

    // An older file gets the UID table once, when it is first opened.
    void olderFileGetsTheUidTable() {
        ProgramFolder folder;
        auto tables = [&] {
            return query(folder.database(),
                         "select count(*) from sqlite_master where name = 'card_uid'");
        };
        QCOMPARE(tables(), QStringList{"1"}); // a new file has it from the start
        exec(folder.database(), "drop table card_uid");
        QCOMPARE(tables(), QStringList{"0"});
        QCOMPARE(tool(folder, {"export", "--format", "csv", folder.path() + "out.csv"}), 0);
        QCOMPARE(tables(), QStringList{"1"});
    }

    // The same cards again, by UID or by all their fields, are passed over and counted.
    void cardsAlreadyHereAreSkipped() {
        Program program;
        const QString file = program.folder.path() + "in.vcf";
        writeFile(file, kTwoCards);
        for (int round = 0; round < 2; ++round) {
            Platform::FileDialogRecorder dialogs;
            dialogs.setNextAnswer(file);
            FrmMain->N21->trigger();
        }
        QCOMPARE(cardCount(program.folder.database()), 2);
        QCOMPARE(program.boxes.texts().last(),
                 QStringLiteral("已添加 0 张名片。\n已跳过 2 张已有的名片。"));

        // A CSV carries no UID: all 24 fields equal is the same card; one field more is not.
        ProgramFolder folder;
        const QString csv = folder.path() + "in.csv";
        writeFile(csv, "姓名,手机\r\n王五,138\r\n王五,138\r\n王五,139\r\n");
        QString out;
        QCOMPARE(tool(folder, {"import", csv}, &out), 0);
        QCOMPARE(out.trimmed(), QStringLiteral("已添加 2 张名片。\n已跳过 1 张已有的名片。"));
        QCOMPARE(tool(folder, {"import", csv}, &out), 0);
        QCOMPARE(out.trimmed(), QStringLiteral("已添加 0 张名片。\n已跳过 3 张已有的名片。"));
        QCOMPARE(cardCount(folder.database()), 2);
    }

    // An import makes a UID for each new card, except that a UID another program left behind
    // for an ID stays with the card that gets that ID.
    void importedCardsGetTheirOwnUids() {
        ProgramFolder folder;
        exec(folder.database(), "insert into card_uid (ID, uid) values (3, 'urn:uuid:left')");
        const QString csv = folder.path() + "in.csv";
        writeFile(csv, "姓名\r\n甲\r\n乙\r\n丙\r\n丁\r\n戊\r\n");
        QCOMPARE(tool(folder, {"import", csv}), 0);
        const QStringList rows = query(
            folder.database(), "select zl.ID, uid from zl join card_uid using (ID) order by ID");
        QCOMPARE(rows.size(), 5);
        QCOMPARE(rows[2], QStringLiteral("3|urn:uuid:left"));
        QSet<QString> uids;
        for (const QString& row : rows) {
            QVERIFY2(row.section('|', 1).startsWith(QStringLiteral("urn:uuid:")), qPrintable(row));
            uids << row.section('|', 1);
        }
        QCOMPARE(uids.size(), 5);
    }

    // Within one file too: a UID given again, or a card repeated, is taken once, and each
    // card taken keeps the UID it brought or gets one of its own.
    void repeatsWithinOneFileAreSkipped() {
        ProgramFolder folder;
        const QString file = folder.path() + "in.vcf";
        writeFile(file,
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:urn:uuid:2222\r\nFN:张三\r\nEND:VCARD\r\n"
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:urn:uuid:2222\r\nFN:张三丰\r\n"
                  "END:VCARD\r\n"
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:李四\r\nEND:VCARD\r\n"
                  "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:李四\r\nEND:VCARD\r\n");
        QString out;
        QCOMPARE(tool(folder, {"import", file}, &out), 0);
        QCOMPARE(out.trimmed(), QStringLiteral("已添加 2 张名片。\n已跳过 2 张已有的名片。"));
        const QStringList rows =
            query(folder.database(), "select zl.姓名, card_uid.uid from zl join card_uid "
                                     "using (ID) order by ID");
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0], QStringLiteral("张三|urn:uuid:2222"));
        QVERIFY2(rows[1].startsWith(QStringLiteral("李四|urn:uuid:")), qPrintable(rows[1]));
    }

    // Over many cards the UIDs are written in batches: a UID given again is still caught
    // whether its first card is written already or still waits, every other card keeps its
    // own, and an export gives each card the UID stored for it.
    void manyCardsKeepTheirUids() {
        ProgramFolder folder;
        const int cards = 12500; // over 8,192 UIDs given: more than one batch of them
        QByteArray vcf;
        for (int i = 0; i < cards; ++i) {
            vcf += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:名" + QByteArray::number(i) + "\r\n";
            if (i % 3 != 0) // every third brings none
                vcf += "UID:urn:uuid:u" + QByteArray::number(i) + "\r\n";
            vcf += "END:VCARD\r\n";
        }
        for (int i : {1, cards - 1}) // written long ago, and still waiting
            vcf += "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:urn:uuid:u" + QByteArray::number(i) +
                   "\r\nFN:又一张\r\nEND:VCARD\r\n";
        writeFile(folder.path() + "in.vcf", vcf);
        QString out;
        QCOMPARE(tool(folder, {"import", folder.path() + "in.vcf"}, &out), 0);
        QCOMPARE(out.trimmed(),
                 QStringLiteral("已添加 %1 张名片。\n已跳过 2 张已有的名片。").arg(cards));
        const QStringList rows =
            query(folder.database(),
                  "select zl.姓名, uid from zl left join card_uid using (ID) order by ID");
        QCOMPARE(rows.size(), cards);
        QSet<QString> uids;
        for (int i = 0; i < cards; ++i) {
            const QString uid = rows[i].section('|', 1);
            QCOMPARE(rows[i].section('|', 0, 0), QStringLiteral("名%1").arg(i));
            if (i % 3 != 0)
                QCOMPARE(uid, QStringLiteral("urn:uuid:u%1").arg(i));
            else
                QVERIFY2(uid.startsWith(QStringLiteral("urn:uuid:")) && uid.size() == 45,
                         qPrintable(rows[i]));
            uids << uid;
        }
        QCOMPARE(uids.size(), cards);

        QCOMPARE(tool(folder, {"export", "--format", "vcard3", folder.path() + "out.vcf"}), 0);
        const QByteArray exported = readFile(folder.path() + "out.vcf");
        for (const int i : {0, 3, cards - 2, cards - 1})
            QVERIFY(exported.contains("UID:" + rows[i].section('|', 1).toUtf8() + "\r\n"));
        QCOMPARE(query(folder.database(), "select count(*) from card_uid"),
                 QStringList{QString::number(cards)});

        // Made again by an export, a few thousand cards at a time, they are the same.
        exec(folder.database(), "delete from card_uid where uid not like 'urn:uuid:u%'");
        QCOMPARE(tool(folder, {"export", "--format", "vcard3", folder.path() + "again.vcf"}), 0);
        QCOMPARE(readFile(folder.path() + "again.vcf"), exported);
        QCOMPARE(query(folder.database(), "select zl.姓名, uid from zl left join card_uid using "
                                          "(ID) order by ID"),
                 rows);
    }

    // Files are read ahead of the cards written: one that fails after thousands of cards were
    // read, or cannot be opened, still leaves no card, UID, key or history behind, and says
    // which file it was.
    void aFailingFileLeavesNothing() {
        ProgramFolder folder;
        QByteArray good, bad;
        for (int i = 0; i < 3000; ++i) {
            good += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:好" + QByteArray::number(i) +
                    "\r\nTEL;TYPE=CELL:1380000" + QByteArray::number(1000 + i) +
                    "\r\nEND:VCARD\r\n";
            bad += "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:坏" + QByteArray::number(i) + "\r\n" +
                   (i == 2000 ? QByteArray("NOTE:a\0b\r\n", 10) : QByteArray()) + "END:VCARD\r\n";
        }
        writeFile(folder.path() + "good.vcf", good);
        writeFile(folder.path() + "bad.vcf", bad);
        // The history's tables come with the first operation kept.
        const QStringList tables = {"zl", "card_uid", "dup_keys", "dup_sums"};
        const QStringList runs[] = {{folder.path() + "good.vcf", folder.path() + "bad.vcf"},
                                    {folder.path() + "bad.vcf", folder.path() + "good.vcf"},
                                    {folder.path() + "good.vcf", folder.path() + "none.vcf"}};
        for (const QStringList& files : runs) {
            QString out;
            QCOMPARE(tool(folder, QStringList{"import"} + files, &out), 1);
            QVERIFY2(out.contains(QStringLiteral("文件无法导入，没有添加任何名片")),
                     qPrintable(out));
            const QString failing =
                files.last().endsWith("none.vcf") ? files.last() : folder.path() + "bad.vcf";
            QVERIFY2(out.contains(failing) && !out.contains(QLatin1String("%1")), qPrintable(out));
            for (const QString& table : tables)
                QCOMPARE(query(folder.database(), "select count(*) from " + table),
                         QStringList{"0"});
            QCOMPARE(query(folder.database(),
                           "select count(*) from sqlite_master where name = 'card_history'"),
                     QStringList{"0"});
        }
        QString out;
        QCOMPARE(tool(folder, {"import", folder.path() + "good.vcf"}, &out), 0);
        QCOMPARE(out.trimmed(), QStringLiteral("已添加 3000 张名片。"));
    }

    // The progress dialog is gone before the notice, and names the filing phase.
    void progressClosesBeforeTheNotice() {
        Program program;
        const QString file = program.folder.path() + "in.vcf";
        writeFile(file, kTwoCards);
        Platform::FileDialogRecorder dialogs;
        dialogs.setNextAnswer(file);
        Platform::ProgressRecorder progress;
        int boxesAtClose = -1;
        progress.onClose = [&] { boxesAtClose = program.boxes.boxes().size(); };
        FrmMain->N21->trigger();
        QCOMPARE(boxesAtClose, 0);
        QCOMPARE(program.boxes.boxes().size(), 1);
        QVERIFY2(progress.labels.contains(QStringLiteral("正在建立快速查找索引…")),
                 qPrintable(progress.labels.join('|')));

        boxesAtClose = -1;
        dialogs.setNextAnswer(program.folder.path() + "out.vcf");
        FrmMain->N22->trigger();
        QCOMPARE(boxesAtClose, 1);
        QCOMPARE(program.boxes.boxes().size(), 2);
    }

    // The dialogs offer every card file first, start where the last one ended, and propose
    // a file name.
    void dialogsRememberTheFolder() {
        Program program;
        addCard({col("姓名"), "甲"});
        FrmMain->ADOQuery1->Close();
        FrmMain->ADOQuery1->Open();
        Platform::FileDialogRecorder dialogs;
        const QString file = program.folder.path() + "in.vcf";
        writeFile(file, kTwoCards);
        dialogs.setNextAnswer(file);
        FrmMain->N21->trigger();
        QCOMPARE(dialogs.dialogs().last().filters.first(),
                 QStringLiteral("所有名片文件 (*.vcf *.csv)"));
        dialogs.setNextAnswer(QString());
        FrmMain->N22->trigger();
        QCOMPARE(QDir::cleanPath(dialogs.dialogs().last().start),
                 QDir::cleanPath(program.folder.path() + QStringLiteral("名片.vcf")));

        QCOMPARE(dialogs.dialogs().last().filters.first(),
                 QStringLiteral("所有名片文件 (*.vcf *.csv *.xlsx)"));
        QCOMPARE(dialogs.dialogs().last().selectedFilter, QStringLiteral("vCard 3.0 (*.vcf)"));
        // Every card file picked: the suffix names the format.
        dialogs.setNextAnswer(program.folder.path() + "any.csv",
                              QStringLiteral("所有名片文件 (*.vcf *.csv *.xlsx)"));
        FrmMain->N22->trigger();
        QVERIFY(readFile(program.folder.path() + "any.csv").startsWith("\xEF\xBB\xBF姓名,"));

        // The proposed name follows the format picked.
        dialogs.setNextAnswer(program.folder.path() + QStringLiteral("名片.vcf"),
                              QStringLiteral("CSV UTF-8, Excel (*.csv)"));
        FrmMain->N22->trigger();
        QVERIFY(QFile::exists(program.folder.path() + QStringLiteral("名片.csv")));
        QVERIFY(!QFile::exists(program.folder.path() + QStringLiteral("名片.vcf")));
    }

    // Spreadsheets: a CSV cell that would be a formula gets an apostrophe, which our own
    // import takes off again; a workbook holds every value as text, zeros and all.
    void spreadsheetExports() {
        ProgramFolder folder;
        const QString csv = folder.path() + "in.csv";
        writeFile(csv, "姓名,工作邮编,备注,主页\r\n"
                       "=HYPERLINK(\"http://x\"),0755,\"=cmd|' /C calc'!A0\",'=x\r\n"
                       "@张三,,-3,+86\r\n");
        QCOMPARE(tool(folder, {"import", csv}), 0);
        const QStringList stored =
            query(folder.database(), "select 姓名, 工作邮编, 备注, 主页 from zl order by ID");

        const QString out = folder.path() + "out.csv";
        QCOMPARE(tool(folder, {"export", "--format", "csv", out}), 0);
        const QByteArray bytes = readFile(out);
        QVERIFY(bytes.contains("\r\n\"'=HYPERLINK(\"\"http://x\"\")\","));
        QVERIFY2(bytes.contains(",0755,") && bytes.contains(",'=cmd|' /C calc'!A0\r\n"),
                 bytes.constData());
        QVERIFY(bytes.contains("''=x")); // an apostrophe already there gets one more
        QVERIFY(bytes.contains("'@张三,") && bytes.contains(",'-3"));

        ProgramFolder again;
        QCOMPARE(tool(again, {"import", out}), 0);
        QCOMPARE(query(again.database(), "select 姓名, 工作邮编, 备注, 主页 from zl order by ID"),
                 stored);

        const QString book = folder.path() + "out.xlsx";
        QString text;
        QCOMPARE(tool(folder, {"export", "--format", "xlsx", book}, &text), 0);
        QVERIFY2(text.contains(QStringLiteral("已导出 2 张名片")), qPrintable(text));
        // Read by Python's own zip and XML readers: every cell an inline text, and the
        // columns formatted as text.
        QProcess py;
        py.start(
            "python3",
            {"-c",
             "import sys, zipfile, re\n"
             "z = zipfile.ZipFile(sys.argv[1])\n"
             "sheet = z.read('xl/worksheets/sheet1.xml').decode()\n"
             "styles = z.read('xl/styles.xml').decode()\n"
             "cells = re.findall(r'<c ([^>]*)>(.*?)</c>', sheet)\n"
             "kinds = [re.findall(r't=\"(\\w+)\"', a) for a, _ in cells]\n"
             "print('types', sorted(set(k[0] if k else '' for k in kinds)))\n"
             "print('texts', '|'.join(re.sub('<[^>]+>', '', v) for _, v in cells))\n"
             "print('text format', 'formatCode=\"@\"' in styles or 'numFmtId=\"49\"' in styles)\n",
             book});
        QVERIFY(py.waitForFinished(60000));
        const QString read = QString::fromUtf8(py.readAllStandardOutput());
        QVERIFY2(read.contains("types ['inlineStr']"), qPrintable(read));
        // No apostrophe in a workbook: a text cell is never a formula.
        QVERIFY2(read.contains(QStringLiteral("|=HYPERLINK(\"http://x\")|'=x|0755|")),
                 qPrintable(read));
        QVERIFY2(read.contains("text format True"), qPrintable(read));

        Program program;
        addCard({col("姓名"), "甲", col("工作邮编"), "010020"});
        FrmMain->ADOQuery1->Close();
        FrmMain->ADOQuery1->Open();
        Platform::FileDialogRecorder dialogs;
        dialogs.setNextAnswer(program.folder.path() + "book", "Excel 工作簿 (*.xlsx)");
        FrmMain->N22->trigger();
        QVERIFY(readFile(program.folder.path() + "book.xlsx").startsWith("PK\x03\x04"));
        QCOMPARE(QDir(program.folder.path()).entryList(QDir::Hidden | QDir::Files).filter("part"),
                 QStringList());
    }

    // What the tool and the window say is what happened: cards read in another encoding,
    // named from their phone, a file that is no vCard, a disk that fills.
    void noticesSayWhatHappened() {
        ProgramFolder folder;
        const QString mixed = folder.path() + "mixed.vcf";
        writeFile(mixed, "BEGIN:VCARD\nVERSION:3.0\nFN:\xE7\x8E\x8B\xE5\xB0\x8F\xE6\x98\x8E\n"
                         "END:VCARD\nBEGIN:VCARD\nVERSION:3.0\nFN:\xCD\xF5\xB4\xF3\nEND:VCARD\n"
                         "BEGIN:VCARD\nVERSION:2.1\nTEL;CELL:13900000000\nEND:VCARD\n");
        QString out;
        QCOMPARE(tool(folder, {"import", mixed}, &out), 0);
        QCOMPARE(query(folder.database(), "select 姓名 from zl order by ID"),
                 (QStringList{"王小明", "王大", "13900000000"}));
        QVERIFY2(out.contains(QStringLiteral("有 2 处请核对")) &&
                     out.contains(QStringLiteral("已用手机“13900000000”作姓名导入")),
                 qPrintable(out));

        const QString junk = folder.path() + "junk.vcf";
        writeFile(junk, "hello\nworld\n");
        QCOMPARE(tool(folder, {"import", junk}, &out), 1);
        QVERIFY2(out.contains("BEGIN:VCARD") && !out.contains(QStringLiteral("表头")),
                 qPrintable(out));

        const QString text = QStringLiteral("姓名,手机\r\n韩梅梅,138\r\n");
        writeFile(folder.path() + "utf16.csv",
                  QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2));
        QCOMPARE(tool(folder, {"import", folder.path() + "utf16.csv"}, &out), 0);
        QCOMPARE(query(folder.database(), "select 手机 from zl where 姓名='韩梅梅'"),
                 QStringList{"138"});

        Program program;
        addCard({col("姓名"), "甲"});
        FrmMain->ADOQuery1->Close();
        FrmMain->ADOQuery1->Open();
        Platform::FileDialogRecorder dialogs;
        dialogs.setNextAnswer(program.folder.path() + "full.csv", "CSV UTF-8, Excel (*.csv)");
        {
            FullDisk full;
            FrmMain->N22->trigger();
        }
        const QString error = program.boxes.texts().value(0);
        QVERIFY2(error.startsWith(QStringLiteral("写入文件失败：磁盘已满")), qPrintable(error));
        QVERIFY2(!technical(error).isEmpty(), qPrintable(error));
        QVERIFY(!QFile::exists(program.folder.path() + "full.csv"));
    }

    // --database after the command; a script waits out another program's write.
    void toolTakesTheDatabaseAnywhereAndWaits() {
        ProgramFolder folder;
        const QString file = folder.path() + "in.vcf";
        writeFile(file, kTwoCards);
        QString out;
        QCOMPARE(tool(folder, {"import", file}, &out, false), 0);
        QVERIFY2(out.startsWith(QStringLiteral("已添加 2 张名片。")), qPrintable(out));

        // Another program holds the file for three seconds; the tool waits for it.
        QProcess holder;
        holder.start("sh", {"-c", "(echo 'BEGIN IMMEDIATE;'; echo 'DELETE FROM yh WHERE 0;'; "
                                  "sleep 3; echo 'COMMIT;') | sqlite3 '" +
                                      folder.database() + "'"});
        QVERIFY(holder.waitForStarted());
        QTest::qWait(500);
        const QString other = folder.path() + "other.csv";
        writeFile(other, "姓名\r\n赵六\r\n");
        QCOMPARE(tool(folder, {"import", other}, &out), 0);
        QVERIFY(holder.waitForFinished(30000));
        QCOMPARE(cardCount(folder.database()), 3);
    }
};

QTEST_MAIN(TestExchangeSafety)
#include "tst_exchange_safety.moc"
