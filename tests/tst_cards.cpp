// Cards in the main window: the grid and navigator, the detail pane and the card editor's
// pages, keys and postcode boxes.
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

const QString kSix = QStringLiteral("      ");
const QString kInvalidPostcode =
    QStringLiteral("Invalid input value.  Use escape key to abandon changes.");

int cardCount(const Program& program) {
    return query(program.folder.database(), QStringLiteral("select count(*) from zl"))
        .first()
        .toInt();
}

/// Clicks into the work postcode box on page 2 and types three digits: "123___".
TMaskEdit* halfFilledPostcode() {
    TMaskEdit* box = FrmMain->MaskEdit4;
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::keyClick(box, Qt::Key_Home);
    QTest::keyClicks(box, QStringLiteral("123"));
    return box;
}

} // namespace

class TestCards : public QObject {
    Q_OBJECT

private slots:
    // ---- The grid and the navigator ----

    void gridColumns() {
        Program program;
        program.showMain();
        TDBGrid* grid = FrmMain->DBGrid1;
        QCOMPARE(grid->model()->columnCount(), 26);
        for (int i = 0; i < 26; ++i)
            QCOMPARE(grid->model()->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString(),
                     col(kCardColumns[i]));
        QVERIFY(grid->isColumnHidden(0));
        const QList<QPair<QString, int>> widths = {{col("姓名"), 60}, {col("单位"), 150},
                                                   {col("学历"), 40}, {col("传真"), 100},
                                                   {col("MSN"), 120}, {col("添加日期"), 70}};
        for (const auto& w : widths)
            QCOMPARE(grid->columnWidth(grid->columnByName(w.first)), w.second);
        QCOMPARE(grid->columnColor(grid->columnByName(col("姓名"))), QColor(0xC0, 0xDC, 0xC0));
        QCOMPARE(grid->columnColor(grid->columnByName(col("单位"))), QColor(0xD6, 0xE6, 0xC4));
        QCOMPARE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
        QCOMPARE(grid->palette().color(QPalette::Base), QColor(0xF4, 0xFC, 0xEF));
    }

    void gridFollowsTheDatasetAndDeleteKeyDoesNothing() {
        Program program;
        program.showMain();
        addCard({col("姓名"), QStringLiteral("甲")});
        addCard({col("姓名"), QStringLiteral("乙"), col("添加日期"), QStringLiteral("2001-01-01")});
        TDBGrid* grid = FrmMain->DBGrid1;
        QCOMPARE(grid->model()->rowCount(), 2);
        // The database fills in the date of adding.
        QVERIFY(!FrmMain->ADOQuery1
                     ->CellText(0, FrmMain->ADOQuery1->FieldNames().indexOf(col("添加日期")))
                     .isEmpty());
        clickCell(0, 1);
        QCOMPARE(FrmMain->ADOQuery1->RecNo(), 0);
        QTest::keyClick(grid, Qt::Key_Down);
        QCOMPARE(FrmMain->ADOQuery1->RecNo(), 1);
        QTest::keyClick(grid, Qt::Key_Delete);
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(cardCount(program), 2);
    }

    void rightPressMakesTheRowCurrentWithoutFillingThePane() {
        Program program;
        program.showMain();
        addCard({col("姓名"), QStringLiteral("甲")});
        addCard({col("姓名"), QStringLiteral("乙")});
        clickCell(0, 1);
        TDBGrid* grid = FrmMain->DBGrid1;
        const QRect r = grid->visualRect(grid->model()->index(1, 3));
        QTest::mousePress(grid->viewport(), Qt::RightButton, {}, r.center());
        QTest::mouseRelease(grid->viewport(), Qt::RightButton, {}, r.center());
        QCOMPARE(FrmMain->ADOQuery1->RecNo(), 1);
        QCOMPARE(FrmMain->ValueListEditor1->value(col("姓名")), QStringLiteral("甲"));
        QCOMPARE(grid->contextMenuPolicy(), Qt::CustomContextMenu);
    }

    void navigatorEnabling() {
        Program program;
        program.showMain();
        TDBNavigator* nav = FrmMain->DBNavigator1;
        auto enabled = [nav] {
            QString s;
            for (auto b : {TDBNavigator::nbFirst, TDBNavigator::nbPrior, TDBNavigator::nbNext,
                           TDBNavigator::nbLast})
                s += nav->button(b)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
            return s;
        };
        QCOMPARE(enabled(), QStringLiteral("0000"));
        for (const char* name : {"一", "二", "三"})
            addCard({col("姓名"), col(name)});
        FrmMain->ADOQuery1->First();
        QCOMPARE(enabled(), QStringLiteral("0011"));
        QTest::mouseClick(nav->button(TDBNavigator::nbNext), Qt::LeftButton);
        QCOMPARE(FrmMain->ADOQuery1->RecNo(), 1);
        QCOMPARE(enabled(), QStringLiteral("1111"));
        QTest::mouseClick(nav->button(TDBNavigator::nbLast), Qt::LeftButton);
        QCOMPARE(FrmMain->ADOQuery1->RecNo(), 2);
        QCOMPARE(enabled(), QStringLiteral("1100"));
        QCOMPARE(FrmMain->DBGrid1->currentIndex().row(), 2);
        QTest::mouseClick(nav->button(TDBNavigator::nbFirst), Qt::LeftButton);
        QCOMPARE(FrmMain->ADOQuery1->RecNo(), 0);
        FrmMain->ADOQuery1->Close();
        QCOMPARE(enabled(), QStringLiteral("0000"));
    }

    // ---- The detail pane ----

    void detailPaneRows() {
        Program program;
        program.showMain();
        QStringList pairs;
        for (const FieldMapEntry& f : kFieldMap)
            pairs << col(f.column) << QStringLiteral("v-") + col(f.column);
        addCard(pairs);
        clickCell(0, 5);
        const QStringList lines = FrmMain->ValueListEditor1->lines();
        QCOMPARE(lines.size(), 23);
        for (int i = 0; i < 23; ++i)
            QCOMPARE(lines.at(i),
                     col(kDetailColumns[i]) + QStringLiteral("=v-") + col(kDetailColumns[i]));
        QCOMPARE(lines.at(12), QStringLiteral("传真=v-传真"));
        for (const QString& line : lines)
            QVERIFY(!line.startsWith(col("生日")) && !line.startsWith(col("添加日期")) &&
                    !line.startsWith("ID"));
        // Any cell of the row gives the same rows.
        clickCell(0, 20);
        QCOMPARE(FrmMain->ValueListEditor1->lines(), lines);
    }

    void detailPaneFilledOnlyByACellClick() {
        Program program;
        program.showMain();
        addCard({col("姓名"), QStringLiteral("甲")});
        addCard({col("姓名"), QStringLiteral("乙")});
        TValueListEditor* list = FrmMain->ValueListEditor1;
        // Opened before any click: only the title row.
        FrmMain->SpeedButtonFClick();
        QCOMPARE(list->rowCount(), 0);
        QCOMPARE(list->horizontalHeaderItem(0)->text(), QStringLiteral("Key"));
        QCOMPARE(list->horizontalHeaderItem(1)->text(), QStringLiteral("Value"));
        clickCell(0, 1);
        QCOMPARE(list->value(col("姓名")), QStringLiteral("甲"));
        // Moving by navigator, keyboard, title row or row marker does not refill it.
        QTest::mouseClick(FrmMain->DBNavigator1->button(TDBNavigator::nbNext), Qt::LeftButton);
        QTest::keyClick(FrmMain->DBGrid1, Qt::Key_Up);
        QTest::mouseClick(FrmMain->DBGrid1->horizontalHeader()->viewport(), Qt::LeftButton, {},
                          QPoint(30, 5));
        QTest::mouseClick(FrmMain->DBGrid1->verticalHeader()->viewport(), Qt::LeftButton, {},
                          QPoint(5, 25));
        QCOMPARE(list->value(col("姓名")), QStringLiteral("甲"));
        clickCell(1, 1);
        QCOMPARE(list->value(col("姓名")), QStringLiteral("乙"));
        // Adding, searching and deleting leave the rows as they were.
        FrmMain->SpeedButton3Click();
        FrmSC->Button1Click();
        QCOMPARE(list->value(col("姓名")), QStringLiteral("乙"));
    }

    void detailPaneOpensAndCloses() {
        Program program;
        program.showMain();
        addCard({col("姓名"), QStringLiteral("甲")});
        clickCell(0, 1);
        FrmMain->SpeedButtonFClick();
        QVERIFY(FrmMain->ValueListEditor1->isVisible());
        QVERIFY(!FrmMain->SpeedButtonF->isVisible());
        QVERIFY(FrmMain->SpeedButtonS->isVisible());
        QCOMPARE(FrmMain->ValueListEditor1->width(), 219);
        QCOMPARE(FrmMain->PanelCK->width(), 221);
        QCOMPARE(FrmMain->SpeedButtonF->toolTip(), QStringLiteral("察看详情"));
        QCOMPARE(FrmMain->SpeedButtonS->toolTip(), QStringLiteral("关闭察看窗口"));
        const QStringList rows = FrmMain->ValueListEditor1->lines();
        FrmMain->SpeedButtonSClick();
        QVERIFY(!FrmMain->ValueListEditor1->isVisible());
        QVERIFY(FrmMain->SpeedButtonF->isVisible());
        QVERIFY(!FrmMain->SpeedButtonS->isVisible());
        QCOMPARE(FrmMain->PanelCK->width(), 0);
        QTest::mouseClick(FrmMain->SpeedButtonF, Qt::LeftButton);
        QCOMPARE(FrmMain->ValueListEditor1->lines(), rows);
    }

    void detailPaneWithNoCards() {
        Program program;
        program.showMain();
        FrmMain->DBGrid1CellClick();
        QCOMPARE(FrmMain->ValueListEditor1->rowCount(), 23);
        QCOMPARE(FrmMain->ValueListEditor1->value(col("姓名")), QString());
    }

    // ---- The editor: pages, keys, postcodes ----

    void editorLayout() {
        Program program;
        TFrmMain* m = FrmMain;
        QCOMPARE(m->Edit1->geometry(), QRect(40, 8, 73, 19));
        QCOMPARE(m->Edit20->geometry(), QRect(64, 104, 121, 19));
        QCOMPARE(m->MaskEdit4->geometry(), QRect(368, 32, 49, 19));
        QCOMPARE(m->ComboBox1->geometry(), QRect(360, 32, 129, 21));
        QCOMPARE(m->Memo1->geometry(), QRect(8, 8, 489, 89));
        QCOMPARE(m->ButtonTJQD->geometry(), QRect(360, 104, 60, 21));
        QStringList items;
        for (int i = 0; i < m->ComboBox1->count(); ++i)
            items << m->ComboBox1->itemText(i);
        QCOMPARE(items.join(' '),
                 QStringLiteral("博士 硕士 本科 大专 高职 电大 中专 技校 职高 高中 其它"));
        QVERIFY(m->ComboBox1->isEditable());
        // Tab order within each page.
        auto chain = [m](QWidget* from, int steps) {
            QStringList names;
            QWidget* w = from;
            for (int i = 0; i < steps; ++i) {
                names << w->objectName();
                w = w->nextInFocusChain();
                while (w && (w->focusPolicy() == Qt::NoFocus || !w->objectName().size() ||
                             w->objectName().startsWith("qt_")))
                    w = w->nextInFocusChain();
            }
            return names;
        };
        QCOMPARE(chain(m->Edit1, 12).join(' '),
                 QStringLiteral("Edit1 Edit16 Edit2 Edit3 Edit4 Edit5 Edit6 ComboBox1 Edit7 Edit18 "
                                "Button6 Button7"));
        QCOMPARE(
            chain(m->Edit8, 16).join(' '),
            QStringLiteral(
                "Edit8 Edit9 Edit19 Edit10 Edit20 Edit11 Edit12 Edit13 Edit14 Edit15 MaskEdit4 "
                "Edit17 MaskEdit5 Button9 Button8 Button10"));
    }

    void editorInputsFoundByNameOnce() {
        // A form with every input of the field map, one of them of the wrong kind.
        QWidget form;
        for (const EditorInput& f : kEditorInputs) {
            const QString control = QString::fromLatin1(f.control);
            QWidget* input = control == QLatin1String("Edit7")
                                 ? static_cast<QWidget*>(new QLabel(&form))
                             : control == QLatin1String("MaskEdit4")
                                 ? static_cast<QWidget*>(new TMaskEdit(&form))
                                 : static_cast<QWidget*>(new QLineEdit(&form));
            input->setObjectName(control);
        }
        try {
            CardEditor editor(&form);
            QFAIL("an input of the wrong kind was taken");
        } catch (const EError& e) {
            QVERIFY(e.message().contains(QStringLiteral("Edit7")));
        }
        delete form.findChild<QLabel*>(QStringLiteral("Edit7"));
        QVERIFY_THROWS_EXCEPTION(EError, CardEditor{&form});
        (new QLineEdit(&form))->setObjectName(QStringLiteral("Edit7"));

        // Loaded texts come back in field-map order, the changed one as it is shown.
        CardEditor editor(&form);
        editor.load([](const QString& column) {
            return column == col("工作邮编") ? QStringLiteral("12345678") : column + "=v";
        });
        form.findChild<QLineEdit*>(QStringLiteral("Edit3"))->setText(QStringLiteral("new"));
        QStringList stored;
        editor.store([&stored](const QString& column, const QString& text) {
            stored << column + QLatin1Char(':') + text;
        });
        QCOMPARE(stored.size(), 24);
        QCOMPARE(stored.at(0), col("姓名:姓名=v"));
        QCOMPARE(stored.at(2), col("部门:new"));
        QCOMPARE(stored.at(20), col("工作邮编:12345678"));
        QCOMPARE(editor.text(QStringLiteral("MaskEdit4")), QStringLiteral("12345678"));
        editor.clear();
        QCOMPARE(editor.text(QStringLiteral("MaskEdit4")), kSix);
        QCOMPARE(editor.text(QStringLiteral("Edit1")), QString());
    }

    void pageMovesByButtonAndEnter() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        m->SpeedButton1Click();
        m->Edit5->setFocus();
        QTest::keyClick(m->Edit5, Qt::Key_Return);
        QCOMPARE(m->PageControlZL->currentWidget(), m->TabSheet2);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m->Edit8));
        QTest::keyClick(m->Edit20, Qt::Key_Enter);
        QCOMPARE(m->PageControlZL->currentWidget(), m->TabSheet3);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m->Memo1));
        m->Button11Click();
        QCOMPARE(m->PageControlZL->currentWidget(), m->TabSheet2);
        m->Button8Click();
        QCOMPARE(m->PageControlZL->currentWidget(), m->TabSheet1);
        // Enter in the education list turns the page like the text boxes.
        m->ComboBox1->setFocus();
        QTest::keyClick(m->ComboBox1, Qt::Key_Return);
        QCOMPARE(m->PageControlZL->currentWidget(), m->TabSheet2);
        // A page move with the focus elsewhere leaves the focus where it was.
        m->EditGJZ->setFocus();
        m->Button9Click();
        QCOMPARE(m->PageControlZL->currentWidget(), m->TabSheet3);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m->EditGJZ));
        // Enter on page 2 never saves.
        m->Edit1->setText(QStringLiteral("x"));
        m->showEditorPage(m->TabSheet2);
        QTest::keyClick(m->Edit8, Qt::Key_Return);
        QCOMPARE(cardCount(program), 0);
    }

    void postcodeBox() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        m->SpeedButton1Click();
        m->showEditorPage(m->TabSheet2);
        TMaskEdit* box = m->MaskEdit4;
        QCOMPARE(box->value(), kSix);
        QCOMPARE(box->displayText(), QStringLiteral("______"));
        box->setFocus();
        box->home(false);
        QTest::keyClicks(box, QStringLiteral("1a2-3"));
        QCOMPARE(box->value(), QStringLiteral("123   "));
        // Leaving the box with an empty position is refused; the page does not move.
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(m->PageControlZL->currentWidget(), m->TabSheet2);
        QCOMPARE(program.boxes.texts(),
                 QStringList{
                     QStringLiteral("Invalid input value.  Use escape key to abandon changes.")});
        QCOMPARE(program.boxes.boxes().first().flags,
                 unsigned(Platform::MB_OK | Platform::MB_ICONSTOP));
        QVERIFY(box->hasFocus());
        // Esc puts back the text it had when it got the focus.
        QTest::keyClick(box, Qt::Key_Escape);
        QCOMPARE(box->value(), kSix);
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(m->PageControlZL->currentWidget(), m->TabSheet3);
        // Six digits pass.
        m->showEditorPage(m->TabSheet2);
        box->setFocus();
        box->home(false);
        QTest::keyClicks(box, QStringLiteral("654321"));
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(m->PageControlZL->currentWidget(), m->TabSheet3);
        QCOMPARE(box->value(), QStringLiteral("654321"));
        QCOMPARE(program.boxes.boxes().size(), 1);
    }

    void postcodeEscapeAfterARefusedTab() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        m->SpeedButton1Click();
        m->Button6Click();
        TMaskEdit* box = halfFilledPostcode();
        QTest::keyClick(box, Qt::Key_Tab);
        QApplication::processEvents();
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(box));
        QCOMPARE(program.boxes.texts(), QStringList{kInvalidPostcode});
        // Esc gives back the text of the moment the box got the focus, and lets it go.
        QTest::keyClick(box, Qt::Key_Escape);
        QCOMPARE(box->displayText(), QStringLiteral("______"));
        QCOMPARE(box->value(), kSix);
        QTest::keyClick(box, Qt::Key_Tab);
        QApplication::processEvents();
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m->Edit17));
        // Emptied again by hand, it may be left as well.
        box = halfFilledPostcode();
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(box, Qt::Key_Backspace);
        QCOMPARE(box->displayText(), QStringLiteral("______"));
        QTest::keyClick(box, Qt::Key_Tab);
        QApplication::processEvents();
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m->Edit17));
        QCOMPARE(program.boxes.boxes().size(), 1);

        // A loaded postcode: Esc after the refusal puts it back, and the save keeps it.
        addCard({col("姓名"), QStringLiteral("甲"), col("工作邮编"), QStringLiteral("100080")});
        m->SpeedButton2Click();
        m->Button6Click();
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::keyClick(box, Qt::Key_End);
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::mouseClick(m->Edit17, Qt::LeftButton);
        QApplication::processEvents();
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(box));
        QCOMPARE(program.boxes.boxes().size(), 2);
        QTest::keyClick(box, Qt::Key_Escape);
        QCOMPARE(box->displayText(), QStringLiteral("100080"));
        QTest::mouseClick(m->Button9, Qt::LeftButton);
        QCOMPARE(m->PageControlZL->currentWidget(), m->TabSheet3);
        m->ButtonXGQDClick();
        QCOMPARE(storedCard(program, QStringLiteral("1=1")).at(20), QStringLiteral("100080"));
        QCOMPARE(program.boxes.boxes().size(), 2);
    }

    void postcodeRefusesPageMoves() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        m->SpeedButton1Click();
        m->Button6Click();
        TMaskEdit* box = halfFilledPostcode();
        QTabBar* tabs = m->PageControlZL->tabBar();
        auto stays = [&](int boxes) {
            QApplication::processEvents();
            QCOMPARE(m->PageControlZL->currentWidget(), m->TabSheet2);
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(box));
            QCOMPARE(box->displayText(), QStringLiteral("123___"));
            QCOMPARE(program.boxes.boxes().size(), boxes);
        };
        QTest::mouseClick(m->Button9, Qt::LeftButton);
        stays(1);
        QTest::mouseClick(m->Button8, Qt::LeftButton);
        stays(2);
        QTest::keyClick(box, Qt::Key_Return);
        stays(3);
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(0).center());
        stays(4);
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(2).center());
        stays(5);
        QTest::keyClick(box, Qt::Key_Tab, Qt::ControlModifier);
        stays(5);
        if (QTest::currentTestFailed())
            return;
        for (const auto& shown : program.boxes.boxes())
            QCOMPARE(shown.text, kInvalidPostcode);
        // Six digits let the page turn.
        QTest::keyClicks(box, QStringLiteral("456"));
        QTest::mouseClick(m->Button9, Qt::LeftButton);
        QCOMPARE(m->PageControlZL->currentWidget(), m->TabSheet3);
        QCOMPARE(box->value(), QStringLiteral("123456"));
    }

    void postcodeCancelAfterEscape() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        m->SpeedButton1Click();
        m->Button6Click();
        TMaskEdit* box = halfFilledPostcode();
        QTest::mouseClick(m->Button10, Qt::LeftButton);
        QApplication::processEvents();
        QVERIFY(m->PageControlZL->isVisible());
        QCOMPARE(m->modeMarker(), QStringLiteral("添加"));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(box));
        QCOMPARE(program.boxes.texts(), QStringList{kInvalidPostcode});
        QTest::keyClick(box, Qt::Key_Escape);
        QTest::mouseClick(m->Button10, Qt::LeftButton);
        QApplication::processEvents();
        QVERIFY(!m->PageControlZL->isVisible());
        QCOMPARE(m->modeMarker(), QString());
        QCOMPARE(program.boxes.boxes().size(), 1);
    }

    void postcodeRefusesCommandsThatTakeTheFocus() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        addCard({col("姓名"), QStringLiteral("张三")});
        m->SpeedButton1Click();
        m->Button6Click();
        TMaskEdit* box = halfFilledPostcode();
        int refusals = 0;
        auto refused = [&] {
            QApplication::processEvents();
            ++refusals;
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(box));
            QVERIFY(box->isVisible());
            QCOMPARE(m->PageControlZL->currentWidget(), m->TabSheet2);
            QCOMPARE(box->displayText(), QStringLiteral("123___"));
            QCOMPARE(m->modeMarker(), QStringLiteral("添加"));
            QCOMPARE(program.boxes.boxes().size(), refusals);
        };
        for (Qt::Key key : {Qt::Key_A, Qt::Key_E, Qt::Key_D}) {
            QTest::keyClick(box, key, Qt::ControlModifier | Qt::AltModifier);
            refused();
        }
        if (QTest::currentTestFailed())
            return;
        QTest::keyClick(box, Qt::Key_F1);
        refused();
        for (QAction* item : {m->N4, m->N7, m->N8, m->N9, m->N17, m->N19}) {
            item->trigger();
            refused();
        }
        QTest::mouseClick(m->SpeedButton1, Qt::LeftButton, {}, QPoint(60, 10));
        refused();
        m->EditGJZ->setText(QStringLiteral("张"));
        m->ComboBoxGXZD->setEditText(col("姓名"));
        QTest::mouseClick(m->SpeedButton4, Qt::LeftButton, {}, QPoint(60, 10));
        refused();
        QTest::mouseClick(m->Edit17, Qt::LeftButton);
        refused();
        clickCell(0, 1);
        refused();
        if (QTest::currentTestFailed())
            return;
        QVERIFY(!program.modal.shown.contains(FrmSC));
        QVERIFY(!m->PageControlSYS->isVisible());
        // What leaves the box where it is still runs.
        m->N16->trigger();
        QCOMPARE(program.shell.calls().size(), 1);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(box));
        QCOMPARE(program.boxes.boxes().size(), refusals);
        // Closing the window always works.
        QVERIFY(m->close());
        QCOMPARE(program.modal.terminations, 1);
        QCOMPARE(program.boxes.boxes().size(), refusals);
    }

    void tabInTheNotesMovesTheFocus() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        m->SpeedButton1Click();
        m->Edit1->setText(QStringLiteral("甲"));
        m->Button6Click();
        m->Button9Click();
        m->Memo1->setFocus();
        QTest::keyClicks(m->Memo1, QStringLiteral("ab"));
        QTest::keyClick(m->Memo1, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m->ButtonTJQD));
        QTest::keyClick(m->ButtonTJQD, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m->Memo1));
        QTest::keyClick(m->Memo1, Qt::Key_Backtab, Qt::ShiftModifier);
        QVERIFY(QApplication::focusWidget() != m->Memo1);
        QCOMPARE(m->Memo1->toPlainText(), QStringLiteral("ab"));
        QCOMPARE(cardCount(program), 0);
    }

    void cancelButtons() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        for (QPushButton* cancel : {m->Button7, m->Button10, m->Button13}) {
            m->SpeedButton1Click();
            m->Edit1->setText(QStringLiteral("kept"));
            m->showEditorPage(static_cast<QWidget*>(cancel->parent()));
            QTest::mouseClick(cancel, Qt::LeftButton);
            QVERIFY(!m->PageControlZL->isVisible());
            QCOMPARE(m->modeMarker(), QString());
            QCOMPARE(m->Edit1->text(), QStringLiteral("kept"));
            QVERIFY(m->ButtonTJQD->isVisibleTo(m->TabSheet3));
        }
        QCOMPARE(cardCount(program), 0);
    }
};

QTEST_MAIN(TestCards)
#include "tst_cards.moc"
