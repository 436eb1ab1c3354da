// Duplicates through the window: the keys follow every write, the dialog merges with the
// values the user keeps, imports pass over folded doubles, saving asks about a taken number.
#include "testsupport.h"

#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "data/card.h"
#include "data/carduid.h"
#include "data/sqlite.h"
#include "dialogs/duplicatesdialog.h"
#include "duplicates/keys.h"
#include "duplicates/merge.h"
#include "mainwindow/VELMORA.h"
#include "mainwindow/cardduplicates.h"
#include "mainwindow/cardeditor.h"
#include "mainwindow/cardhistory.h"
#include "platform/filedialog.h"
#include "program/quembe.h"
#include "quickfind/quickfind.h"
#include "sync/syncstore.h"

#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include <csignal>

using namespace TestSupport;

namespace {

int field(const char* column) {
    return Card::indexOf(col(column));
}

Card card(const QStringList& columnsAndValues) {
    Card c;
    for (int i = 0; i + 1 < columnsAndValues.size(); i += 2)
        c.setValue(columnsAndValues.at(i), columnsAndValues.at(i + 1));
    return c;
}

// The IDs the keys propose for a card, as the question before a save finds them.
QVector<qint64> proposed(const Card& c) {
    QVector<qint64> ids;
    for (const auto& p : Duplicates::propose(FrmMain->ADOConnection1->handle(), c))
        ids << p.id;
    return ids;
}

TDuplicatesDialog* openDialog() {
    QAction* action = FrmMain->findChild<QAction*>(QStringLiteral("ActionFindDuplicates"));
    if (!action)
        return nullptr;
    action->trigger();
    return FrmMain->findChild<TDuplicatesDialog*>();
}

void click(TDuplicatesDialog* dialog, const char* button) {
    dialog->findChild<QPushButton*>(QString::fromLatin1(button))->click();
}

void typeNewCard(const QStringList& columnsAndValues) {
    FrmMain->SpeedButton1Click();
    for (int i = 0; i + 1 < columnsAndValues.size(); i += 2)
        FrmMain->setInputText(
            QString::fromLatin1(
                kEditorInputs[std::size_t(Card::indexOf(columnsAndValues.at(i)))].control),
            columnsAndValues.at(i + 1));
}

QString vcard(const QByteArray& name, const QByteArray& org, const QByteArray& cell) {
    return QString::fromUtf8("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + "\r\nORG:" + org +
                             "\r\nTEL;TYPE=CELL:" + cell + "\r\nEND:VCARD\r\n");
}

} // namespace

class TestDuplicatesWindow : public QObject {
    Q_OBJECT

private slots:
    void keysFollowTheWindowsWrites() {
        Program program;
        QVERIFY(Duplicates::hasKeys(FrmMain->ADOConnection1->handle()));
        const Card zhang = card({col("姓名"), "张三", col("手机"), "13812345678"});
        addCard({col("姓名"), "張三", col("手机"), "+86 138-1234-5678"});
        QCOMPARE(proposed(zhang), QVector<qint64>{1});

        // Changed to another number: the old one names nobody any more.
        TADOQuery* q = FrmMain->ADOQuery1;
        q->Locate(1);
        q->Edit();
        q->SetFieldAsString(col("手机"), "13900001111");
        q->Post();
        QVERIFY(proposed(zhang).isEmpty());
        QCOMPARE(proposed(card({col("姓名"), "张三", col("手机"), "139 0000 1111"})),
                 QVector<qint64>{1});

        // Deleted: its keys go with it.
        q->Locate(1);
        q->Delete();
        QCOMPARE(query(program.folder.database(), "select count(*) from dup_keys"),
                 QStringList{"0"});

        // Imported: filed in the import's transaction.
        const QString file = program.folder.path() + "in.vcf";
        writeFile(file, vcard("李四", "甲公司", "13700000000").toUtf8());
        Platform::FileDialogRecorder dialogs;
        dialogs.setNextAnswer(file);
        FrmMain->N21->trigger();
        QCOMPARE(proposed(card({col("姓名"), "李四", col("手机"), "13700000000"})).size(), 1);
    }

    // A sync adds, changes and deletes cards through its own store, without the list.
    void keysFollowTheSyncsWrites() {
        ProgramFolder folder;
        Sqlite::Database db;
        QCOMPARE(db.open(folder.database(), Sqlite::OpenMode::ReadWrite), SQLITE_OK);
        Sync::SyncStore store(db);
        const Card zhang = card({col("姓名"), "张三", col("手机"), "13812345678"});
        Sync::SyncedCard synced;
        synced.href = QStringLiteral("/cards/1.vcf");
        const qint64 id = store.addCard(zhang, QStringLiteral("uid-1"), synced);
        QCOMPARE(Duplicates::holdersOfMobileOrEmail(db.get(), zhang), QVector<qint64>{id});
        store.writeCard(id, card({col("姓名"), "张三", col("手机"), "13900000000"}));
        QVERIFY(Duplicates::holdersOfMobileOrEmail(db.get(), zhang).isEmpty());
        store.deleteCard(id);
        QCOMPARE(query(folder.database(), "select count(*) from dup_keys"), QStringList{"0"});
    }

    void anOlderFileGetsItsKeysWhenOpened() {
        Program program;
        addCard({col("姓名"), "王五", col("E-mail"), "ww@a.cn"});
        addCard({col("姓名"), "王五", col("E-mail"), "WW@A.CN", col("部门"), "销售部"});
        Quembe::destroyForms();
        exec(program.folder.database(), "drop table dup_keys"); // as an older file has none

        QVERIFY(Quembe::createForms());
        QCoreApplication::processEvents();
        QCOMPARE(query(program.folder.database(), "select count(distinct ID) from dup_keys"),
                 QStringList{"2"});
        QCOMPARE(proposed(card({col("姓名"), "王五", col("E-mail"), "ww@a.cn"})).size(), 2);
    }

    void mergeKeepsTheChosenValuesAndNotesTheRest() {
        Program program;
        addCard({col("姓名"), "张三", col("单位"), "甲科技有限公司", col("手机"), "13812345678",
                 col("工作地址"), "北京", col("备注"), "老同学"});
        addCard({col("姓名"), "李四", col("手机"), "13600000000"});
        addCard({col("姓名"), "張三", col("单位"), "甲科技", col("手机"), "138 1234 5678",
                 col("工作地址"), "上海市浦东新区", col("E-mail"), "zs@jia.cn"});
        for (qint64 id : {1, 2, 3}) // as an export or a sync gives them
            CardUid::ensure(FrmMain->ADOConnection1->handle(), id);
        TDuplicatesDialog* dialog = openDialog();
        QVERIFY(dialog);
        QCOMPARE(dialog->groupCount(), 1);
        QCOMPARE(dialog->group(0).ids, (QVector<qint64>{1, 3}));
        // By default the longer address; the user keeps the first card's.
        QCOMPARE(dialog->choices().at(field("工作地址")), 1);
        QVERIFY(dialog->differs(field("工作地址")));
        QVERIFY(!dialog->differs(field("手机")));
        // Ticked in the table.
        auto* table = dialog->findChild<QTableWidget*>(QStringLiteral("TableFields"));
        const auto address = table->findItems(QStringLiteral("北京"), Qt::MatchExactly);
        QCOMPARE(address.size(), 1);
        address.first()->setCheckState(Qt::Checked);
        QCoreApplication::processEvents();
        QCOMPARE(dialog->choices().at(field("工作地址")), 0);
        dialog->choose(field("E-mail"), 0); // empty on that card: not taken
        QCOMPARE(dialog->choices().at(field("E-mail")), 1);
        click(dialog, "ButtonHB");

        QCOMPARE(program.boxes.boxes().size(), 0);
        QCOMPARE(query(program.folder.database(), "select ID from zl order by ID"),
                 (QStringList{"1", "2"}));
        const QString db = program.folder.database();
        QCOMPARE(query(db, "select 工作地址, \"E-mail\", 单位 from zl where ID=1"),
                 QStringList{"北京|zs@jia.cn|甲科技有限公司"});
        // Nothing dropped: the address not kept is in the notes, beside the old notes; the same
        // name and number written another way are not repeated.
        QCOMPARE(query(db, "select 备注 from zl where ID=1"),
                 QStringList{"老同学\n工作地址: 上海市浦东新区"});
        // The quick find, the UIDs and the keys follow in the same transaction.
        QCOMPARE(query(db, "select count(*) from dup_keys where ID=3"), QStringList{"0"});
        QCOMPARE(query(db, "select ID from card_uid order by ID"), (QStringList{"1", "2"}));
        QVERIFY(QuickFind::isCurrent(FrmMain->ADOConnection1->handle()));
        QCOMPARE(dialog->groupCount(), 0);
        // The list shows the merged card, current.
        QCOMPARE(FrmMain->ADOQuery1->RecordCount(), 2);
        QCOMPARE(FrmMain->ADOQuery1->FieldAsString(col("工作地址")), QStringLiteral("北京"));
    }

    void mergeAllTakesOnlyTheCertainGroups() {
        Program program;
        addCard({col("姓名"), "李四", col("E-mail"), "ls@a.cn"});
        addCard({col("姓名"), "李 四", col("E-mail"), "LS@a.cn", col("部门"), "财务部"});
        addCard({col("姓名"), "张伟", col("手机"), "13900000000"});
        addCard({col("姓名"), "张伟明", col("手机"), "13900000000"});
        TDuplicatesDialog* dialog = openDialog();
        QVERIFY(dialog);
        QCOMPARE(dialog->groupCount(), 2);

        program.boxes.setNextAnswer(Platform::IDNO);
        click(dialog, "ButtonQBHB");
        QCOMPARE(query(program.folder.database(), "select count(*) from zl"), QStringList{"4"});

        program.boxes.clear();
        program.boxes.setNextAnswer(Platform::IDYES);
        click(dialog, "ButtonQBHB");
        QCOMPARE(program.boxes.texts().last(), QStringLiteral("已合并 1 组名片。"));
        QCOMPARE(query(program.folder.database(), "select ID, 部门 from zl order by ID"),
                 (QStringList{"1|财务部", "3|", "4|"}));
        // The near names stay for the user to decide.
        QCOMPARE(dialog->groupCount(), 1);
        QVERIFY(!dialog->group(0).certain);
    }

    void importPassesOverFoldedDoublesAndOffersTheSimilar() {
        Program program;
        addCard({col("姓名"), "张三", col("单位"), "甲公司", col("手机"), "13812345678"});
        addCard({col("姓名"), "John Smith", col("单位"), "Acme", col("手机"), "13511112222"});
        const QString file = program.folder.path() + "in.vcf";
        writeFile(file, (vcard("張 三", "甲公司", "+86 138-1234-5678") +
                         vcard("ＪＯＨＮ ＳＭＩＴＨ", "ACME", "１３５ １１１１ ２２２２") +
                         vcard("张三", "乙公司", "13812345678") + // same person, new company
                         vcard("赵六", "丙公司", "13000000000"))
                            .toUtf8());
        Platform::FileDialogRecorder dialogs;
        dialogs.setNextAnswer(file);
        program.boxes.setNextAnswer(Platform::IDYES);
        FrmMain->N21->trigger();

        QCOMPARE(query(program.folder.database(), "select 姓名, 单位 from zl where ID > 2"),
                 (QStringList{"张三|乙公司", "赵六|丙公司"}));
        QCOMPARE(program.boxes.boxes().size(), 1);
        const auto box = program.boxes.boxes().first();
        QVERIFY2(box.text.contains(QStringLiteral("已跳过 2 张已有的名片")), qPrintable(box.text));
        QVERIFY2(box.text.contains(QStringLiteral("其中 1 张名片与已有的名片相似")),
                 qPrintable(box.text));
        QCOMPARE(box.flags & Platform::MB_TYPEMASK, unsigned(Platform::MB_YESNO));
        // Said yes: the dialog shows the old card and the new one.
        TDuplicatesDialog* dialog = FrmMain->findChild<TDuplicatesDialog*>();
        QVERIFY(dialog);
        QVERIFY(program.modal.shown.contains(dialog));
        QCOMPARE(dialog->group(0).ids, (QVector<qint64>{1, 3}));
    }

    void savingATakenMobileOrEmailAsksFirst() {
        Program program;
        addCard({col("姓名"), "张三", col("手机"), "13812345678", col("E-mail"), "zs@a.cn"});

        typeNewCard({col("姓名"), "张三丰", col("手机"), "138 1234 5678"});
        program.boxes.setNextAnswer(Platform::IDNO);
        FrmMain->ButtonTJQDClick();
        QCOMPARE(program.boxes.texts(),
                 QStringList{"已有名片 张三 使用这个手机号码，仍然添加吗？"});
        QCOMPARE(query(program.folder.database(), "select count(*) from zl"), QStringList{"1"});
        QCOMPARE(FrmMain->inputText(QStringLiteral("Edit1")), QStringLiteral("张三丰"));

        program.boxes.clear();
        program.boxes.setNextAnswer(Platform::IDYES);
        FrmMain->ButtonTJQDClick();
        QCOMPARE(query(program.folder.database(), "select 姓名 from zl order by ID"),
                 (QStringList{"张三", "张三丰"}));

        // The address, in another case; a card with neither saves without a word.
        program.boxes.clear();
        typeNewCard({col("姓名"), "王五", col("E-mail"), "ZS@A.CN"});
        program.boxes.setNextAnswer(Platform::IDNO);
        FrmMain->ButtonTJQDClick();
        QCOMPARE(program.boxes.texts(),
                 QStringList{"已有名片 张三 使用这个电子邮件地址，仍然添加吗？"});
        program.boxes.clear();
        typeNewCard({col("姓名"), "赵六", col("手机"), "13000000000"});
        FrmMain->ButtonTJQDClick();
        QVERIFY(program.boxes.texts().isEmpty());
        QCOMPARE(query(program.folder.database(), "select count(*) from zl"), QStringList{"3"});
    }

    // A picture of a card already here, read with a traditional name and the number grouped.
    void aRecognisedDoubleIsNotAddedAgain() {
        Program program;
        addCard({col("姓名"), "李四", col("单位"), "乙公司", col("手机"), "13700000000"});
        addCard({col("姓名"), "张伟", col("单位"), "甲公司", col("手机"), "13900000000"});
        auto* duplicates = FrmMain->findChild<CardDuplicates*>();
        QVERIFY(duplicates);
        QVERIFY(duplicates->alreadyHere(
            card({col("姓名"), "張偉", col("单位"), "甲公司", col("手机"), "139-0000-0000"})));
        QCOMPARE(program.boxes.texts(),
                 QStringList{"这张名片已经有了：与名片 张伟 相同，没有再添加。"});
        QCOMPARE(FrmMain->ADOQuery1->FieldAsString(col("姓名")), QStringLiteral("张伟"));
        // Another post is another card.
        QVERIFY(!duplicates->alreadyHere(card({col("姓名"), "张伟", col("单位"), "甲公司",
                                               col("职务"), "经理", col("手机"), "13900000000"})));
    }

    // A recognised card that only resembles one here is saved, and then the list is offered;
    // a card typed by hand is not.
    void aSavedRecognisedCardThatResemblesOneOffersTheList() {
        Program program;
        addCard({col("姓名"), "张三", col("单位"), "甲公司", col("职务"), "经理"});
        const Card read = card({col("姓名"), "張三", col("单位"), "甲公司", col("职务"), "总监"});
        auto* duplicates = FrmMain->findChild<CardDuplicates*>();
        QVERIFY(!duplicates->alreadyHere(read));
        typeNewCard({col("姓名"), "張三", col("单位"), "甲公司", col("职务"), "总监"});
        FrmMain->findChild<CardHistory*>()->addingRecognisedCard();
        program.boxes.setNextAnswer(Platform::IDNO);
        FrmMain->ButtonTJQDClick();
        QTRY_COMPARE(program.boxes.boxes().size(), 1);
        QCOMPARE(program.boxes.boxes().first().flags & Platform::MB_TYPEMASK,
                 unsigned(Platform::MB_YESNO));
        QVERIFY(program.boxes.texts().first().contains(QStringLiteral("现在查找重复名片吗")));
        QVERIFY(!FrmMain->findChild<TDuplicatesDialog*>());
        QCOMPARE(query(program.folder.database(), "select count(*) from zl"), QStringList{"2"});

        typeNewCard({col("姓名"), "张三", col("单位"), "甲公司", col("职务"), "顾问"});
        FrmMain->ButtonTJQDClick();
        QTest::qWait(50);
        QCOMPARE(program.boxes.boxes().size(), 1);

        typeNewCard({col("姓名"), "张三", col("单位"), "甲公司有限公司"});
        FrmMain->findChild<CardHistory*>()->addingRecognisedCard();
        program.boxes.setNextAnswer(Platform::IDYES);
        FrmMain->ButtonTJQDClick();
        QTRY_VERIFY(FrmMain->findChild<TDuplicatesDialog*>());
        QCOMPARE(FrmMain->findChild<TDuplicatesDialog*>()->group(0).ids,
                 (QVector<qint64>{1, 2, 3, 4}));
    }

#ifdef Q_OS_UNIX
    void killedDuringAMergeLeavesTheFileWhole() {
        Program program;
        addCard({col("姓名"), "张三", col("手机"), "13812345678", col("工作地址"), "北京"});
        addCard({col("姓名"), "張三", col("手机"), "13812345678", col("工作地址"), "上海"});
        const QString db = program.folder.database();
        const QStringList before = query(db, "select * from zl order by ID");
        FrmMain->ADOConnection1->finishReading();
        // Another process merges with a value chosen and dies as hard as it can once the kept
        // card is written, before the other is deleted.
        inChild([&] {
            Sqlite::Database child;
            child.open(db, Sqlite::OpenMode::ReadWrite);
            sqlite3_create_function(
                child.get(), "die", 0, SQLITE_UTF8, nullptr,
                [](sqlite3_context*, int, sqlite3_value**) { ::raise(SIGKILL); }, nullptr, nullptr);
            child.exec("CREATE TEMP TRIGGER die AFTER UPDATE ON main.zl BEGIN SELECT die(); END");
            QVector<int> choices(int(kFieldMap.size()), -1);
            choices[field("姓名")] = 0;
            choices[field("手机")] = 0;
            choices[field("工作地址")] = 1;
            Duplicates::mergeCards(child.get(), {1, 2}, choices);
            return QStringLiteral("not killed");
        });
        QCOMPARE(query(db, "pragma integrity_check"), QStringList{"ok"});
        QCOMPARE(query(db, "select * from zl order by ID"), before);

        // The window goes on over the same file: the merge done there is whole.
        TDuplicatesDialog* dialog = openDialog();
        QVERIFY(dialog);
        QCOMPARE(dialog->groupCount(), 1);
        click(dialog, "ButtonHB");
        QCOMPARE(query(db, "select 工作地址, 备注 from zl"), QStringList{"上海|工作地址: 北京"});
    }
#endif
};

QTEST_MAIN(TestDuplicatesWindow)
#include "tst_duplicates_window.moc"
