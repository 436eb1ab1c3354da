// The main window: its panes at start, menus, shortcuts, the pressed look and closing.
#include "testsupport.h"

#include "data/adoquery.h"
#include "dialogs/sc.h"
#include "mainwindow/VELMORA.h"
#include "mainwindow/controls.h"
#include "mainwindow/dbcontrols.h"

#include <QMenuBar>
#include <QTest>

using namespace TestSupport;

class TestMainWindow : public WindowTest {
    Q_OBJECT

private slots:
    void initialState() {
        program().showMain();
        TFrmMain* m = FrmMain;
        QCOMPARE(m->windowTitle(), QStringLiteral("Qel名片系统"));
        QCOMPARE(m->centralWidget()->size(), QSize(622, 408));
        QCOMPARE(m->PanelCZ->width(), 106);
        QCOMPARE(m->modeMarker(), QString());
        QVERIFY(m->PanelCZ->isVisible());
        QVERIFY(m->DBGrid1->isVisible());
        QVERIFY(m->DBNavigator1->isVisible());
        QVERIFY(m->SpeedButtonF->isVisible());
        QVERIFY(!m->SpeedButtonS->isVisible());
        QVERIFY(!m->ValueListEditor1->isVisible());
        QCOMPARE(m->PanelCK->width(), 0);
        QVERIFY(!m->PageControlZL->isVisible());
        QVERIFY(!m->PageControlSYS->isVisible());
        QVERIFY(!m->SpeedButton5->isVisible());
        QVERIFY(!m->Label31->isVisible());
        QVERIFY(m->ButtonTJQD->isVisibleTo(m->TabSheet3));
        QVERIFY(!m->ButtonXGQD->isVisibleTo(m->TabSheet3));
        QCOMPARE(m->ButtonTJQD->geometry(), m->ButtonXGQD->geometry());
        QCOMPARE(m->PageControlZL->currentWidget(), m->TabSheet1);
        QCOMPARE(m->PageControlSYS->currentWidget(), m->TabSheet4);
        QCOMPARE(m->PageControlZL->height(), 159);
        QCOMPARE(m->PageControlSYS->height(), 162);
        QCOMPARE(m->ComboBoxGXZD->currentText(), QString());
        QCOMPARE(m->ComboBox1->currentText(), QString());
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m->DBGrid1));
    }

    void captionsAndPlaces() {
        TFrmMain* m = FrmMain;
        const QList<QPair<TSpeedButton*, QString>> buttons = {
            {m->SpeedButton1, QStringLiteral("添        加")},
            {m->SpeedButton2, QStringLiteral("修        改")},
            {m->SpeedButton3, QStringLiteral("删        除")},
            {m->SpeedButton4, QStringLiteral("开始查询")},
            {m->SpeedButton5, QStringLiteral("返        回")}};
        for (const auto& b : buttons) {
            QCOMPARE(b.first->text(), b.second);
            QCOMPARE(b.first->width(), 123);
            QCOMPARE(b.first->x(), -8);
            QCOMPARE(b.first->fontColor(), QColor(Qt::black));
            QCOMPARE(b.first->focusPolicy(), Qt::NoFocus);
        }
        QCOMPARE(m->PageControlZL->tabText(2), QStringLiteral("备        注"));
        QCOMPARE(m->PageControlSYS->tabText(0), QStringLiteral("修改密码"));
        QCOMPARE(m->PageControlSYS->tabText(1), QStringLiteral("关  于"));
        QCOMPARE(m->PageControlSYS->tabText(2), QStringLiteral("帮  助"));
        QCOMPARE(m->PanelCZ->palette().color(QPalette::Window), QColor(0xED, 0xF9, 0xE6));
        QCOMPARE(m->GroupBoxDBG->palette().color(QPalette::Window), QColor(224, 236, 210));
        QCOMPARE(m->PanelDBG->palette().color(QPalette::Window), QColor(0xF4, 0xFC, 0xEF));
        QCOMPARE(m->PanelSBT->palette().color(QPalette::Window), QColor(0xC0, 0xDC, 0xC0));
        QCOMPARE(m->PanelSBT->height(), 19);
        QCOMPARE(m->DBNavigator1->height(), 21);
        QCOMPARE(m->SpeedButtonS->x(), 202);
        QCOMPARE(m->Label35->pos(), QPoint(223, 2));
        QCOMPARE(m->windowIcon().availableSizes().value(0), QSize(64, 64));
        QCOMPARE(m->Image1->pixmap().size(), QSize(135, 412));
        QCOMPARE(m->Image1->x(), -15);
    }

    void menus() {
        TFrmMain* m = FrmMain;
        auto texts = [](QMenu* menu) {
            QStringList list;
            for (QAction* a : menu->actions())
                list << (a->isSeparator() ? QStringLiteral("-") : a->text());
            return list;
        };
        QCOMPARE(m->N2->title(), QStringLiteral("系统(&S)"));
        QCOMPARE(texts(m->N2),
                 QStringList({QStringLiteral("修改密码...  &S"), QStringLiteral("备份数据  &B"),
                              QStringLiteral("恢复数据  &R"), QStringLiteral("-"),
                              QStringLiteral("退出系统  &Q")}));
        QCOMPARE(m->N1->title(), QStringLiteral("数据(&D)"));
        // The items of old keep their places; the exchange items come after them.
        QCOMPARE(texts(m->N1).mid(0, 5),
                 QStringList({QStringLiteral("添加...  &A"), QStringLiteral("修改...  &E"),
                              QStringLiteral("删除...  &D"), QStringLiteral("-"),
                              QStringLiteral("拨号...  &T")}));
        QCOMPARE(texts(m->N1).value(5), QStringLiteral("-"));
        QCOMPARE(m->N3->title(), QStringLiteral("关于(&A)"));
        QCOMPARE(texts(m->N3),
                 QStringList({QStringLiteral("关于软件...  &S"), QStringLiteral("关于我们...  &M"),
                              QStringLiteral("我的主页  &W")}));
        // Items of later capabilities come after these.
        QCOMPARE(texts(m->PopupMenu1).mid(0, 3),
                 QStringList({QStringLiteral("添加... &A"), QStringLiteral("修改... &E"),
                              QStringLiteral("删除... &D")}));
        QCOMPARE(m->N12->objectName(), QStringLiteral("N12"));
        QCOMPARE(m->N14->objectName(), QStringLiteral("N14"));
        // The top-level help item is itself the command.
        const QList<QAction*> top = m->menuBar()->actions();
        QCOMPARE(top.size(), 4);
        QCOMPARE(top.at(3), m->H1);
        QCOMPARE(m->H1->text(), QStringLiteral("帮助(&H)"));
        QCOMPARE(m->N4->shortcut(), QKeySequence(QStringLiteral("Ctrl+Alt+A")));
        QCOMPARE(m->N5->shortcut(), QKeySequence(QStringLiteral("Ctrl+Alt+E")));
        QCOMPARE(m->N6->shortcut(), QKeySequence(QStringLiteral("Ctrl+Alt+D")));
        QCOMPARE(m->H1->shortcut(), QKeySequence(Qt::Key_F1));
    }

    void oneHandlerPerCommand() {
        TFrmMain* m = FrmMain;
        // Button, menu item and popup item of "add" lead to the same state.
        for (QAction* a : {m->N4, m->N17}) {
            m->Button7Click();
            a->trigger();
            QCOMPARE(m->modeMarker(), QStringLiteral("添加"));
            QVERIFY(m->PageControlZL->isVisibleTo(m));
        }
        m->Button7Click();
        QTest::mouseClick(m->SpeedButton1, Qt::LeftButton);
        QCOMPARE(m->modeMarker(), QStringLiteral("添加"));
        for (QAction* a : {m->N5, m->N18}) {
            m->Button7Click();
            a->trigger();
            QCOMPARE(m->modeMarker(), QStringLiteral("修改"));
        }
    }

    void shortcutsWorkWhereverTheFocusIs_data() {
        QTest::addColumn<QString>("focus");
        QTest::newRow("grid") << "DBGrid1";
        QTest::newRow("keyword") << "EditGJZ";
        QTest::newRow("field") << "ComboBoxGXZD";
        QTest::newRow("name") << "Edit1";
        QTest::newRow("notes") << "Memo1";
        QTest::newRow("postcode") << "MaskEdit4";
    }

    void shortcutsWorkWhereverTheFocusIs() {
        QFETCH(QString, focus);
        program().showMain();
        TFrmMain* m = FrmMain;
        addCard({QStringLiteral("姓名"), QStringLiteral("张三")});
        m->SpeedButton1Click();
        if (focus == QLatin1String("MaskEdit4") || focus == QLatin1String("Edit1") ||
            focus == QLatin1String("Memo1")) {
            m->showEditorPage(focus == QLatin1String("Edit1")   ? m->TabSheet1
                              : focus == QLatin1String("Memo1") ? m->TabSheet3
                                                                : m->TabSheet2);
        } else {
            m->Button7Click();
        }
        auto* target = m->findChild<QWidget*>(focus);
        QVERIFY(target);
        target->setFocus();
        QCOMPARE(QApplication::focusWidget() == target ||
                     target->isAncestorOf(QApplication::focusWidget()),
                 true);
        QWidget* receiver = QApplication::focusWidget();

        QTest::keyClick(receiver, Qt::Key_F1);
        QVERIFY(m->PageControlSYS->isVisible());
        QCOMPARE(m->PageControlSYS->currentWidget(), m->TabSheet4);
        QVERIFY(!m->PageControlZL->isVisible());

        target->setFocus();
        receiver = QApplication::focusWidget();
        QTest::keyClick(receiver, Qt::Key_E, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(m->modeMarker(), QStringLiteral("修改"));
        QCOMPARE(m->Edit1->text(), QStringLiteral("张三"));

        m->Button7Click();
        target->setFocus();
        receiver = QApplication::focusWidget();
        QTest::keyClick(receiver, Qt::Key_A, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(m->modeMarker(), QStringLiteral("添加"));
        QCOMPARE(m->Edit1->text(), QString());

        m->Button7Click();
        target->setFocus();
        receiver = QApplication::focusWidget();
        QTest::keyClick(receiver, Qt::Key_D, Qt::ControlModifier | Qt::AltModifier);
        QVERIFY(program().modal.shown.contains(FrmSC));
    }

    void pressedLook() {
        program().showMain();
        TFrmMain* m = FrmMain;
        for (TSpeedButton* b :
             {m->SpeedButton1, m->SpeedButton2, m->SpeedButton3, m->SpeedButton4}) {
            QTest::mousePress(b, Qt::LeftButton, {}, QPoint(60, 10));
            QCOMPARE(b->fontColor(), QColor(Qt::red));
            QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(60, 10));
            QCOMPARE(b->fontColor(), QColor(Qt::black));
        }
        // Any mouse button turns it red.
        QTest::mousePress(m->SpeedButton4, Qt::RightButton, {}, QPoint(60, 10));
        QCOMPARE(m->SpeedButton4->fontColor(), QColor(Qt::red));
        QTest::mouseRelease(m->SpeedButton4, Qt::RightButton, {}, QPoint(60, 10));
        QCOMPARE(m->SpeedButton4->fontColor(), QColor(Qt::black));
    }

    void releasedOffTheButtonTurnsBlackWithoutClick() {
        program().showMain();
        TFrmMain* m = FrmMain;
        QTest::mousePress(m->SpeedButton1, Qt::LeftButton, {}, QPoint(60, 10));
        QCOMPARE(m->SpeedButton1->fontColor(), QColor(Qt::red));
        QTest::mouseMove(m->SpeedButton1, QPoint(60, 200));
        QTest::mouseRelease(m->SpeedButton1, Qt::LeftButton, {}, QPoint(60, 200));
        QCOMPARE(m->SpeedButton1->fontColor(), QColor(Qt::black));
        QCOMPARE(m->modeMarker(), QString());
        QVERIFY(!m->PageControlZL->isVisible());
    }

    void closingEndsTheProgram() {
        program().showMain();
        FrmMain->SpeedButton1Click();
        QTest::keyClicks(FrmMain->Edit1, QStringLiteral("unsaved"));
        QVERIFY(FrmMain->close());
        QCOMPARE(program().modal.terminations, 1);
        QVERIFY(program().boxes.boxes().isEmpty());
        // Nothing was written on the way out.
        QCOMPARE(query(program().folder.database(), QStringLiteral("select count(*) from zl")),
                 QStringList{QStringLiteral("0")});
    }

    void quitCommandEndsTheProgram() {
        program().showMain();
        FrmMain->N13->trigger();
        QCOMPARE(program().modal.terminations, 1);
    }

    void errorInAHandlerIsShownAndTheProgramGoesOn() {
        program().showMain();
        TFrmMain* m = FrmMain;
        m->ADOQuery1->Close();
        QTest::mouseClick(m->SpeedButton3, Qt::LeftButton, {}, QPoint(60, 10));
        QCOMPARE(program().boxes.boxes().size(), 1);
        const auto box = program().boxes.boxes().first();
        QCOMPARE(box.flags, unsigned(Platform::MB_OK | Platform::MB_ICONSTOP));
        QCOMPARE(box.caption, Platform::applicationTitle());
        QVERIFY(box.text.contains(QStringLiteral("ADOQuery1")));
        // The steps before the error were made; the dialog never opened.
        QVERIFY(m->PanelCZ->isVisible());
        QVERIFY(!program().modal.shown.contains(FrmSC));
        m->ADOQuery1->Open();
        QTest::mouseClick(m->SpeedButton1, Qt::LeftButton, {}, QPoint(60, 10));
        QCOMPARE(m->modeMarker(), QStringLiteral("添加"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
