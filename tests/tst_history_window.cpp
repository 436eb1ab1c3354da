// Undoing through the real window: Ctrl+Z in the list, and the 撤销... list.
#include "testsupport.h"

#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "mainwindow/VELMORA.h"
#include "mainwindow/cardhistory.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

using namespace TestSupport;

namespace {

void deleteCard(const char* name) {
    TADOQuery* q = FrmMain->ADOQuery1;
    QVERIFY(q->Locate(
        query(q->connection()->databaseFile(),
              QStringLiteral("select ID from zl where 姓名='%1'").arg(QString::fromUtf8(name)))
            .value(0)
            .toLongLong()));
    q->Delete();
}

void pressCtrlZ() {
    FrmMain->DBGrid1->setFocus();
    QTest::keyClick(FrmMain->DBGrid1, Qt::Key_Z, Qt::ControlModifier);
}

// As the window opens a card read from a picture: the add editor, filled in, unsaved.
void openRecognisedCard(const char* name) {
    FrmMain->SpeedButton1Click();
    FrmMain->findChild<CardHistory*>()->addingRecognisedCard();
    FrmMain->setInputText(QStringLiteral("Edit1"), QString::fromUtf8(name));
}

QStringList recorded(const Program& program) {
    return query(program.folder.database(), "select description from card_history order by op");
}

QWidget* historyDialog(Program& program) {
    FrmMain->findChild<QAction*>("HistoryAction")->trigger();
    return program.modal.shown.isEmpty() ? nullptr : program.modal.shown.last();
}

} // namespace

class TestHistoryWindow : public QObject {
    Q_OBJECT

private slots:
    void ctrlZAsksThenUndoesStepByStep() {
        Program program;
        program.showMain();
        addCard({col("姓名"), "张三"});
        addCard({col("姓名"), "李四", col("手机"), "13812345678"});
        deleteCard("李四");
        QCOMPARE(listedNames(), QStringList{"张三"});

        program.boxes.setNextAnswer(Platform::IDNO);
        pressCtrlZ();
        QCOMPARE(program.boxes.boxes().size(), 1);
        QVERIFY2(program.boxes.texts().first().contains("删除 李四"),
                 qPrintable(program.boxes.texts().first()));
        QCOMPARE(listedNames(), QStringList{"张三"});

        program.boxes.setNextAnswer(Platform::IDYES);
        pressCtrlZ();
        QCOMPARE(listedNames(), (QStringList{"张三", "李四"}));
        QCOMPARE(query(program.folder.database(), "select 手机 from zl where 姓名='李四'"),
                 QStringList{"13812345678"});

        // The next Ctrl+Z goes one step further back, past the undo just made.
        program.boxes.clear();
        program.boxes.setNextAnswer(Platform::IDYES);
        pressCtrlZ();
        QVERIFY(program.boxes.texts().value(0).contains("添加 李四"));
        QCOMPARE(listedNames(), QStringList{"张三"});
    }

    // A recognised card the user closed or replaced unsaved leaves no "识别" on the next card.
    void anAbandonedRecognisedCardLeavesNoWord() {
        Program program;
        program.showMain();
        openRecognisedCard("图上");
        FrmMain->Button7Click(); // closed, not saved
        FrmMain->SpeedButton1Click();
        FrmMain->setInputText(QStringLiteral("Edit1"), QStringLiteral("手写"));
        FrmMain->ButtonTJQDClick();
        openRecognisedCard("又一张");
        FrmMain->SpeedButton1Click(); // 添加 again, over it
        FrmMain->setInputText(QStringLiteral("Edit1"), QStringLiteral("手写二"));
        FrmMain->ButtonTJQDClick();
        openRecognisedCard("保存的");
        FrmMain->ButtonTJQDClick();
        QCOMPARE(recorded(program), (QStringList{"添加 手写", "添加 手写二", "识别 保存的"}));
    }

    void listUndoesAndBringsBackDeletedCards() {
        Program program;
        program.showMain();
        addCard({col("姓名"), "王五"});
        addCard({col("姓名"), "李四", col("单位"), "甲公司"});
        deleteCard("李四");
        QWidget* dialog = historyDialog(program);
        QVERIFY(dialog);
        auto* operations = dialog->findChild<QTreeWidget*>("HistoryOperations");
        auto* deleted = dialog->findChild<QTreeWidget*>("HistoryDeleted");
        QCOMPARE(operations->topLevelItemCount(), 3);
        QCOMPARE(operations->topLevelItem(0)->text(2), QStringLiteral("删除 李四"));
        QCOMPARE(deleted->topLevelItemCount(), 1);
        QCOMPARE(deleted->topLevelItem(0)->text(1), QStringLiteral("甲公司"));

        deleted->setCurrentItem(deleted->topLevelItem(0));
        dialog->findChild<QPushButton*>("HistoryRestoreButton")->click();
        QCOMPARE(listedNames(), (QStringList{"王五", "李四"}));
        QCOMPARE(deleted->topLevelItemCount(), 0);
        QCOMPARE(operations->topLevelItem(0)->text(2), QStringLiteral("恢复 李四"));

        // Adding 李四 cannot be undone over the delete and the return after it: it says so.
        operations->setCurrentItem(operations->topLevelItem(2));
        QCOMPARE(operations->currentItem()->text(2), QStringLiteral("添加 李四"));
        program.boxes.clear();
        program.boxes.setNextAnswer(Platform::IDYES);
        dialog->findChild<QPushButton*>("HistoryUndoButton")->click();
        QCOMPARE(program.boxes.boxes().size(), 2);
        QVERIFY2(program.boxes.texts().at(1).contains("名片“李四”"),
                 qPrintable(program.boxes.texts().at(1)));
        QCOMPARE(listedNames(), (QStringList{"王五", "李四"}));

        // Adding 王五 can: its card goes, and the list says it was undone.
        operations->setCurrentItem(operations->topLevelItem(3));
        program.boxes.setNextAnswer(Platform::IDYES);
        dialog->findChild<QPushButton*>("HistoryUndoButton")->click();
        QCOMPARE(listedNames(), QStringList{"李四"});
        QCOMPARE(operations->topLevelItem(0)->text(2), QStringLiteral("撤销：添加 王五"));
        QCOMPARE(operations->topLevelItem(4)->text(2), QStringLiteral("添加 王五（已撤销）"));
    }
};

QTEST_MAIN(TestHistoryWindow)
#include "tst_history_window.moc"
