// Cards in the main window: adding, modifying and deleting them through the card editor.
#include "testsupport.h"

#include "data/adoquery.h"
#include "data/datasource.h"
#include "data/dberror.h"
#include "data/fieldmap.h"
#include "dialogs/Tjts.h"
#include "dialogs/sc.h"
#include "mainwindow/VELMORA.h"
#include "mainwindow/cardeditor.h"
#include "mainwindow/controls.h"
#include "mainwindow/dbcontrols.h"

#include <QHeaderView>
#include <QTabBar>
#include <QTest>
#include <QToolButton>

using namespace TestSupport;

namespace {

const QString kAddNameMessage = QStringLiteral("“姓名为必添字段”，请再重新输入！");
const QString kModifyNameMessage = QStringLiteral("“姓名”为必填字段，请再重新输入！");
const QString kGone = QStringLiteral("这条记录已不存在，无法保存修改！");
const QString kSix = QStringLiteral("      ");

int cardCount(const Program& program) {
    return query(program.folder.database(), QStringLiteral("select count(*) from zl"))
        .first()
        .toInt();
}

/// Fills the 24 inputs with distinct texts, as a user would see them.
QStringList fillEditor(const QString& prefix) {
    QStringList values;
    for (const EditorInput& f : kEditorInputs) {
        const QString control = QString::fromLatin1(f.control);
        QString value =
            control.startsWith(QLatin1String("MaskEdit"))
                ? (control.endsWith('4') ? QStringLiteral("100080") : QStringLiteral("200030"))
                : prefix + QLatin1Char('-') + col(f.column);
        if (auto* mask = FrmMain->findChild<TMaskEdit*>(control)) {
            mask->setFocus();
            mask->selectAll();
            QTest::keyClicks(mask, value);
        } else if (auto* edit = FrmMain->findChild<QLineEdit*>(control)) {
            edit->setText(value);
            edit->setModified(true);
        } else if (auto* combo = FrmMain->findChild<QComboBox*>(control)) {
            combo->setEditText(value);
            combo->lineEdit()->setModified(true);
        } else if (auto* memo = FrmMain->findChild<QPlainTextEdit*>(control)) {
            memo->setPlainText(value);
            memo->document()->setModified(true);
        }
        values << value;
    }
    return values;
}

// 甲 and 乙 listed, the editor open on 甲 with 甲改 typed over its name.
void typeOverFirstOfTwo() {
    addCard({col("姓名"), QStringLiteral("甲")});
    addCard({col("姓名"), QStringLiteral("乙")});
    FrmMain->ADOQuery1->First();
    FrmMain->SpeedButton2Click();
    FrmMain->Edit1->setText(QStringLiteral("甲改"));
}

} // namespace

class TestCardsEdit : public WindowTest {
    Q_OBJECT

public:
    TestCardsEdit()
        : WindowTest(true) {}

private slots:
    // ---- Adding ----

    void addEntersAddMode() {
        TFrmMain* m = FrmMain;
        addCard({col("姓名"), QStringLiteral("甲"), col("工作邮编"), QStringLiteral("100080")});
        m->SpeedButton2Click();
        m->N9Click();
        m->SpeedButton1Click();
        QCOMPARE(m->modeMarker(), QStringLiteral("添加"));
        QVERIFY(m->PageControlZL->isVisible());
        QVERIFY(!m->PageControlSYS->isVisible());
        QCOMPARE(m->PageControlZL->currentWidget(), m->TabSheet1);
        QVERIFY(m->ButtonTJQD->isVisibleTo(m->TabSheet3));
        QVERIFY(!m->ButtonXGQD->isVisibleTo(m->TabSheet3));
        for (const EditorInput& f : kEditorInputs) {
            const QString control = QString::fromLatin1(f.control);
            QCOMPARE(m->inputText(control), control.startsWith("MaskEdit") ? kSix : QString());
        }
        // Entering add mode touches neither the cursor nor the database.
        QCOMPARE(m->ADOQuery1->RecNo(), 0);
        QCOMPARE(cardCount(program()), 1);
    }

    void addSavesEveryColumnInOrder() {
        TFrmMain* m = FrmMain;
        m->SpeedButton1Click();
        const QStringList values = fillEditor(QStringLiteral("a"));
        m->showEditorPage(m->TabSheet3);
        QTest::mouseClick(m->ButtonTJQD, Qt::LeftButton);
        QCOMPARE(storedCard(program(), QStringLiteral("1=1")), values);
        QVERIFY(program().modal.shown.contains(FrmTJTS));
        QVERIFY(program().boxes.boxes().isEmpty());
        QCOMPARE(m->Edit1->text(), QString());
        QCOMPARE(m->inputText(QStringLiteral("MaskEdit5")), kSix);
        QCOMPARE(m->modeMarker(), QStringLiteral("添加"));
        QCOMPARE(m->DBGrid1->model()->rowCount(), 1);
    }

    void addWithOnlyAName() {
        FrmMain->SpeedButton1Click();
        FrmMain->Edit1->setText(QStringLiteral("   "));
        FrmMain->ButtonTJQDClick();
        QStringList expected;
        for (const EditorInput& f : kEditorInputs)
            expected << (QString::fromLatin1(f.control).startsWith("MaskEdit") ? kSix : QString());
        expected[0] = QStringLiteral("   ");
        QCOMPARE(storedCard(program(), QStringLiteral("1=1")), expected);
        // Empty texts are stored as empty texts, not as missing values.
        QCOMPARE(query(program().folder.database(),
                       QStringLiteral("select count(*) from zl where 单位 is null")),
                 QStringList{QStringLiteral("0")});
    }

    void addRefusesAnEmptyName() {
        TFrmMain* m = FrmMain;
        m->SpeedButton1Click();
        m->Edit2->setText(QStringLiteral("公司"));
        m->showEditorPage(m->TabSheet3);
        m->ButtonTJQD->setFocus();
        QTest::mouseClick(m->ButtonTJQD, Qt::LeftButton);
        QCOMPARE(program().boxes.texts(), QStringList{kAddNameMessage});
        QCOMPARE(m->PageControlZL->currentWidget(), m->TabSheet1);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m->Edit1));
        QCOMPARE(m->Edit2->text(), QStringLiteral("公司"));
        QCOMPARE(m->modeMarker(), QStringLiteral("添加"));
        QCOMPARE(cardCount(program()), 0);
        QVERIFY(!program().modal.shown.contains(FrmTJTS));
    }

    void continueAddingPrompt() {
        TFrmMain* m = FrmMain;
        QCOMPARE(FrmTJTS->size(), QSize(182, 129));
        QCOMPARE(FrmTJTS->Label1->text(), QStringLiteral("您是否继续添加?"));
        QCOMPARE(FrmTJTS->Button1->text(), QStringLiteral("是"));
        QCOMPARE(FrmTJTS->Button2->text(), QStringLiteral("否"));
        QCOMPARE(FrmTJTS->windowTitle(), QString());
        QVERIFY(!FrmTJTS->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!FrmTJTS->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));

        // "是": back to page 1 for the next card.
        m->SpeedButton1Click();
        m->Edit1->setText(QStringLiteral("甲"));
        m->showEditorPage(m->TabSheet3);
        m->ButtonTJQD->setFocus();
        m->ButtonTJQDClick();
        QTest::mouseClick(FrmTJTS->Button1, Qt::LeftButton);
        QVERIFY(!FrmTJTS->isVisible());
        QCOMPARE(m->PageControlZL->currentWidget(), m->TabSheet1);
        QVERIFY(m->PageControlZL->isVisible());
        QCOMPARE(m->modeMarker(), QStringLiteral("添加"));
        QCOMPARE(m->focusWidget(), static_cast<QWidget*>(m->Edit1));

        // The close box runs neither answer.
        m->Edit1->setText(QStringLiteral("乙"));
        m->ButtonTJQDClick();
        QVERIFY(FrmTJTS->close());
        QVERIFY(m->PageControlZL->isVisible());
        QCOMPARE(m->modeMarker(), QStringLiteral("添加"));

        // "否": the editor closes and the marker empties.
        m->Edit1->setText(QStringLiteral("丙"));
        m->ButtonTJQDClick();
        QTest::mouseClick(FrmTJTS->Button2, Qt::LeftButton);
        QVERIFY(!FrmTJTS->isVisible());
        QVERIFY(!m->PageControlZL->isVisible());
        QCOMPARE(m->modeMarker(), QString());
        QCOMPARE(cardCount(program()), 3);
    }

    void enterInNotesSavesWithoutAStrayLineBreak() {
        TFrmMain* m = FrmMain;
        m->SpeedButton1Click();
        m->Edit1->setText(QStringLiteral("甲"));
        m->showEditorPage(m->TabSheet3);
        m->Memo1->setFocus();
        QTest::keyClicks(m->Memo1, QStringLiteral("line one"));
        // Ctrl+Enter is a line break and saves nothing.
        QTest::keyClick(m->Memo1, Qt::Key_Return, Qt::ControlModifier);
        QTest::keyClicks(m->Memo1, QStringLiteral("line two"));
        QCOMPARE(cardCount(program()), 0);
        QTest::keyClick(m->Memo1, Qt::Key_Return);
        QCOMPARE(cardCount(program()), 1);
        QCOMPARE(query(program().folder.database(), QStringLiteral("select 备注 from zl")).first(),
                 QStringLiteral("line one\nline two"));
        QCOMPARE(m->Memo1->toPlainText(), QString());
        // The next card starts with empty notes.
        FrmTJTS->Button1Click();
        m->Edit1->setText(QStringLiteral("乙"));
        m->showEditorPage(m->TabSheet3);
        m->Memo1->setFocus();
        QTest::keyClick(m->Memo1, Qt::Key_Return);
        QCOMPARE(query(program().folder.database(),
                       QStringLiteral("select 备注 from zl where 姓名 = '乙'")),
                 QStringList{QString()});
        // A refused save uses the Enter up too.
        FrmTJTS->Button1Click();
        m->showEditorPage(m->TabSheet3);
        m->Memo1->setFocus();
        QTest::keyClicks(m->Memo1, QStringLiteral("note"));
        QTest::keyClick(m->Memo1, Qt::Key_Return);
        QCOMPARE(program().boxes.texts(), QStringList{kAddNameMessage});
        QCOMPARE(m->Memo1->toPlainText(), QStringLiteral("note"));
    }

    void enterInNotesDoesNothingOutsideAddAndModify() {
        TFrmMain* m = FrmMain;
        m->SpeedButton1Click();
        m->Edit1->setText(QStringLiteral("甲"));
        m->setModeMarker(QStringLiteral("查询"));
        m->showEditorPage(m->TabSheet3);
        m->Memo1->setFocus();
        QTest::keyClick(m->Memo1, Qt::Key_Return);
        QCOMPARE(cardCount(program()), 0);
        QCOMPARE(m->Memo1->toPlainText(), QStringLiteral("\n"));
    }

    // ---- Modifying ----

    void modifyLoadsAndSaves() {
        TFrmMain* m = FrmMain;
        QStringList pairs;
        for (const FieldMapEntry& f : kFieldMap)
            pairs << col(f.column) << (QStringLiteral("old-") + col(f.column));
        pairs[pairs.indexOf(col("工作邮编")) + 1] = QStringLiteral("100080");
        pairs[pairs.indexOf(col("家庭邮编")) + 1] = QString();
        addCard(pairs);
        m->N7Click();
        m->SpeedButton2Click();
        QCOMPARE(m->modeMarker(), QStringLiteral("修改"));
        QVERIFY(m->PageControlZL->isVisible());
        QVERIFY(!m->PageControlSYS->isVisible());
        QVERIFY(!m->ButtonTJQD->isVisibleTo(m->TabSheet3));
        QVERIFY(m->ButtonXGQD->isVisibleTo(m->TabSheet3));
        QCOMPARE(m->Edit20->text(), QStringLiteral("old-传真"));
        QCOMPARE(m->ComboBox1->currentText(), QStringLiteral("old-学历"));
        QCOMPARE(m->inputText(QStringLiteral("MaskEdit4")), QStringLiteral("100080"));
        QCOMPARE(m->inputText(QStringLiteral("MaskEdit5")), kSix);

        const QStringList values = fillEditor(QStringLiteral("new"));
        m->ButtonXGQDClick();
        QCOMPARE(storedCard(program(), QStringLiteral("1=1")), values);
        QCOMPARE(cardCount(program()), 1);
        QCOMPARE(m->modeMarker(), QStringLiteral("修改"));
        QVERIFY(!m->PageControlZL->isVisible());
        QVERIFY(!m->ButtonXGQD->isVisibleTo(m->TabSheet3));
        QVERIFY(!m->ButtonTJQD->isVisibleTo(m->TabSheet3));
        QCOMPARE(m->Edit1->text(), QString());
        QVERIFY(!program().modal.shown.contains(FrmTJTS));
    }

    void modifyWithoutChangesKeepsTheCard() {
        TFrmMain* m = FrmMain;
        addCard({col("姓名"), QStringLiteral("甲"), col("传真"), QStringLiteral("010-1234"),
                 col("工作邮编"), QStringLiteral("12345678"), col("家庭邮编"),
                 QStringLiteral("ab")});
        const QString id =
            query(program().folder.database(), QStringLiteral("select ID, 添加日期 from zl"))
                .first();
        m->DBGrid1DblClick();
        m->ButtonXGQDClick();
        const QStringList card = storedCard(program(), QStringLiteral("1=1"));
        QCOMPARE(card.at(0), QStringLiteral("甲"));
        QCOMPARE(card.at(14), QStringLiteral("010-1234"));
        // Postcodes the mask cannot show come back as they were; an empty one as six blanks.
        QCOMPARE(card.at(20), QStringLiteral("12345678"));
        QCOMPARE(card.at(22), QStringLiteral("ab"));
        QCOMPARE(query(program().folder.database(), QStringLiteral("select ID, 添加日期 from zl"))
                     .first(),
                 id);
    }

    void modifyRefusesAnEmptyName() {
        TFrmMain* m = FrmMain;
        addCard({col("姓名"), QStringLiteral("甲")});
        m->SpeedButton2Click();
        m->Edit1->clear();
        m->showEditorPage(m->TabSheet3);
        m->Memo1->setFocus();
        QTest::keyClick(m->Memo1, Qt::Key_Return);
        QCOMPARE(program().boxes.texts(), QStringList{kModifyNameMessage});
        QCOMPARE(m->PageControlZL->currentWidget(), m->TabSheet1);
        QCOMPARE(m->modeMarker(), QStringLiteral("修改"));
        QVERIFY(m->PageControlZL->isVisible());
        QCOMPARE(query(program().folder.database(), QStringLiteral("select 姓名 from zl")).first(),
                 QStringLiteral("甲"));
        QCOMPARE(m->Memo1->toPlainText(), QString());
    }

    void doubleClickLoadsTheClickedRow() {
        TFrmMain* m = FrmMain;
        addCard({col("姓名"), QStringLiteral("甲")});
        addCard({col("姓名"), QStringLiteral("乙")});
        const QRect r = m->DBGrid1->visualRect(m->DBGrid1->model()->index(1, 2));
        // A double click is a click and then a second press.
        QTest::mouseClick(m->DBGrid1->viewport(), Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(m->DBGrid1->viewport(), Qt::LeftButton, {}, r.center());
        QCOMPARE(m->modeMarker(), QStringLiteral("修改"));
        QCOMPARE(m->Edit1->text(), QStringLiteral("乙"));
        // The click of the double click filled the pane too.
        QCOMPARE(m->ValueListEditor1->value(col("姓名")), QStringLiteral("乙"));
        // A double click on the title row opens the current card.
        m->Button7Click();
        QTest::mouseDClick(m->DBGrid1->horizontalHeader()->viewport(), Qt::LeftButton, {},
                           QPoint(30, 5));
        QCOMPARE(m->modeMarker(), QStringLiteral("修改"));
        QCOMPARE(m->Edit1->text(), QStringLiteral("乙"));
    }

    void modifySaveIsBoundToTheLoadedCard() {
        TFrmMain* m = FrmMain;
        typeOverFirstOfTwo();
        m->Edit1->setModified(true);
        // The cursor moves while the editor is open.
        m->ADOQuery1->Last();
        m->ButtonXGQDClick();
        QCOMPARE(
            query(program().folder.database(), QStringLiteral("select 姓名 from zl order by ID")),
            QStringList({QStringLiteral("甲改"), QStringLiteral("乙")}));
        QCOMPARE(m->ADOQuery1->FieldAsString(col("姓名")), QStringLiteral("甲改"));
    }

    void modifySaveOfADeletedCardWritesNothing() {
        TFrmMain* m = FrmMain;
        typeOverFirstOfTwo();
        m->ADOQuery1->Delete();
        m->ButtonXGQDClick();
        QCOMPARE(program().boxes.texts(), QStringList{kGone});
        QCOMPARE(query(program().folder.database(), QStringLiteral("select 姓名 from zl")),
                 QStringList{QStringLiteral("乙")});
        QCOMPARE(m->Edit1->text(), QStringLiteral("甲改"));
        QVERIFY(m->PageControlZL->isVisible());
    }

    void modifyWithAnEmptyListAddsACard() {
        TFrmMain* m = FrmMain;
        m->SpeedButton2Click();
        QCOMPARE(m->Edit1->text(), QString());
        QCOMPARE(m->inputText(QStringLiteral("MaskEdit4")), kSix);
        m->Edit1->setText(QStringLiteral("新"));
        m->ButtonXGQDClick();
        QCOMPARE(
            query(program().folder.database(), QStringLiteral("select 姓名, 工作邮编 from zl")),
            QStringList{QStringLiteral("新|      ")});
    }

    void unusualTextsGoThroughUnchanged() {
        TFrmMain* m = FrmMain;
        const QString quotes = QStringLiteral("O'Brien \"Bob\" `x` [y]");
        const QString breaks = QStringLiteral("line1\r\nline2\nline3\ttab");
        const QString emoji = QStringLiteral("名片 😀 𠀀");
        const QString longNotes = QString(100000, QChar(0x6587));
        addCard({col("姓名"), quotes, col("单位"), breaks, col("部门"), emoji, col("备注"),
                 longNotes + breaks});
        clickCell(0, 1);
        QCOMPARE(m->ValueListEditor1->value(col("姓名")), quotes);
        QCOMPARE(m->ValueListEditor1->value(col("单位")), breaks);
        // A long value shows its beginning; what is stored stays whole.
        QCOMPARE(m->ValueListEditor1->value(col("备注")),
                 longNotes.left(TDataSource::kLongestShown - 1) + QChar(0x2026));
        QCOMPARE(m->ValueListEditor1->rowCount(), 23);
        m->SpeedButton2Click();
        m->ButtonXGQDClick();
        const QStringList rows =
            query(program().folder.database(), QStringLiteral("select 姓名, 单位, 部门 from zl"));
        QCOMPARE(rows, QStringList{quotes + '|' + breaks + '|' + emoji});
        QCOMPARE(query(program().folder.database(), QStringLiteral("select 备注 from zl")).first(),
                 longNotes + breaks);
        // And through the add path.
        m->SpeedButton1Click();
        m->Edit1->setText(emoji);
        m->Edit2->setText(quotes);
        m->Memo1->setPlainText(longNotes);
        m->ButtonTJQDClick();
        QCOMPARE(query(program().folder.database(),
                       QStringLiteral("select 单位, length(备注) from zl where ID = 2")),
                 QStringList{quotes + QStringLiteral("|100000")});
    }

    // ---- Deleting ----

    void deleteRefusesWithoutAName() {
        TFrmMain* m = FrmMain;
        m->N9Click();
        QTest::keyClick(m->DBGrid1, Qt::Key_D, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(program().boxes.texts(), QStringList{QStringLiteral("您不能删除这条记录！")});
        QVERIFY(m->PanelCZ->isVisible());
        QVERIFY(!m->PageControlSYS->isVisible());
        QVERIFY(!program().modal.shown.contains(FrmSC));
        addCard({col("单位"), QStringLiteral("无名")});
        m->SpeedButton3Click();
        QCOMPARE(program().boxes.boxes().size(), 2);
        QVERIFY(!program().modal.shown.contains(FrmSC));
    }

    void deleteConfirmed() {
        TFrmMain* m = FrmMain;
        for (const char* name : {"一", "二", "三"})
            addCard({col("姓名"), col(name)});
        m->ADOQuery1->MoveTo(1);
        m->SpeedButton2Click();
        m->SpeedButton3Click();
        QVERIFY(program().modal.shown.contains(FrmSC));
        QVERIFY(!m->ButtonXGQD->isVisibleTo(m->TabSheet3));
        QCOMPARE(m->modeMarker(), QStringLiteral("修改"));
        QTest::mouseClick(FrmSC->Button1, Qt::LeftButton);
        QVERIFY(!FrmSC->isVisible());
        QVERIFY(!m->PageControlZL->isVisible());
        QCOMPARE(m->modeMarker(), QStringLiteral("修改"));
        QCOMPARE(
            query(program().folder.database(), QStringLiteral("select 姓名 from zl order by ID")),
            QStringList({QStringLiteral("一"), QStringLiteral("三")}));
        // The next card became current.
        QCOMPARE(m->ADOQuery1->FieldAsString(col("姓名")), QStringLiteral("三"));
        // Deleting the last card makes the new last one current; then the only one.
        m->SpeedButton3Click();
        FrmSC->Button1Click();
        QCOMPARE(m->ADOQuery1->FieldAsString(col("姓名")), QStringLiteral("一"));
        m->SpeedButton3Click();
        FrmSC->Button1Click();
        QCOMPARE(cardCount(program()), 0);
        QCOMPARE(m->DBGrid1->model()->rowCount(), 0);
        m->SpeedButton3Click();
        QCOMPARE(program().boxes.texts(), QStringList{QStringLiteral("您不能删除这条记录！")});
    }

    void deleteCancelled() {
        addCard({col("姓名"), QStringLiteral("甲")});
        FrmMain->SpeedButton3Click();
        QTest::mouseClick(FrmSC->Button2, Qt::LeftButton);
        QVERIFY(!FrmSC->isVisible());
        QCOMPARE(cardCount(program()), 1);
    }

    void deleteDialog() {
        QCOMPARE(FrmSC->size(), QSize(250, 150));
        QVERIFY(FrmSC->windowFlags().testFlag(Qt::FramelessWindowHint));
        QCOMPARE(FrmSC->Label1->text(), QStringLiteral("您真的要删除这条记录吗?"));
        QCOMPARE(FrmSC->Button1->text(), QStringLiteral("删  除"));
        QCOMPARE(FrmSC->Button2->text(), QStringLiteral("取  消"));
        QVERIFY(!FrmSC->mask().contains(QPoint(1, 1)));
        QVERIFY(FrmSC->mask().contains(QPoint(125, 75)));
        QCOMPARE(FrmSC->WMNCHitTest(FrmSC->mapToGlobal(QPoint(20, 130))), int(Platform::HTCAPTION));
        // It reopens where it was left.
        FrmSC->show();
        QCOMPARE(FrmSC->focusWidget(), static_cast<QWidget*>(FrmSC->Button1));
        FrmSC->move(40, 30);
        FrmSC->hide();
        FrmSC->show();
        QCOMPARE(FrmSC->pos(), QPoint(40, 30));
        FrmSC->hide();
    }
};

QTEST_MAIN(TestCardsEdit)
#include "tst_cards_edit.moc"
