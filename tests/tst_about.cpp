// The About and Help pages, the dial and homepage commands, and the link label's look.
#include "testsupport.h"

#include "mainwindow/VELMORA.h"

#include <QTest>
#include <QUrl>

using namespace TestSupport;

namespace {

QStringList lines(const QPlainTextEdit* memo) {
    return memo->toPlainText().split(QLatin1Char('\n'));
}

void hover(QWidget* w, QEvent::Type type) {
    if (type == QEvent::MouseMove) {
        const QPointF at(5, 5);
        QMouseEvent move(QEvent::MouseMove, at, w->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(w, &move);
    } else {
        QEvent leave(type);
        QApplication::sendEvent(w, &leave);
    }
}

} // namespace

class TestAbout : public QObject {
    Q_OBJECT

private slots:
    void aboutText() {
        Program program;
        TFrmMain* m = FrmMain;
        const QStringList text = lines(m->Memo3);
        QCOMPARE(text.size(), 16);
        QCOMPARE(text.at(0), QStringLiteral("软件名称：Qel名片系统"));
        QCOMPARE(text.at(2), QStringLiteral("软件版本：1.0版"));
        QCOMPARE(text.at(5), QStringLiteral("本软件在WINDOWS 2000和windows XP 下通过"));
        QCOMPARE(text.at(6), QString());
        QCOMPARE(text.at(7).left(6), QStringLiteral("     ") + text.at(7).at(5));
        QVERIFY(text.at(7).at(5) != QLatin1Char(' '));
        QVERIFY(text.at(7).contains(m->Label35->text()));
        QCOMPARE(text.at(9), QString(12, QLatin1Char(' ')));
        QCOMPARE(text.at(10), QStringLiteral("我的联系方法：") + QString(42, QLatin1Char(' ')));
        QVERIFY(text.at(11).startsWith(QStringLiteral("QQ:")));
        QVERIFY(text.at(12).startsWith(QStringLiteral("MSN:")));
        QVERIFY(text.at(13).startsWith(QStringLiteral("E-mail:")));
        QCOMPARE(text.at(14), QStringLiteral("主页:") + m->Label35->text());
        QCOMPARE(text.at(15), QString(5, QLatin1Char(' ')));

        QVERIFY(!m->Memo3->isReadOnly());
        QCOMPARE(m->Memo3->font().pixelSize(), 12);
        QCOMPARE(m->Memo3->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(m->Button14->text(), QStringLiteral("退  出"));
    }

    void helpText() {
        Program program;
        TFrmMain* m = FrmMain;
        const QStringList expected = {
            QStringLiteral("一：名片察看："),
            QStringLiteral("    点击位于“关于“下方的蓝色的箭头，拉出察看窗口"),
            QStringLiteral("二：名片添加的方法: "),
            QStringLiteral(
                "    方法1：点击左上角的“添加”，然后再弹出的窗体（系统的下方）添加信息，添加"),
            QStringLiteral("完毕后按回车键将自动的转到下一页确认添加；"),
            QStringLiteral("    方法2：在数据表中单击右健，选择添加；"),
            QStringLiteral("    方法3：Ctrl+Alt+A"),
            QStringLiteral("三：名片修改的方法："),
            QStringLiteral(
                "    方法1：先选中要修改的名片；在点击左方的“修改“，然后再弹出的窗体（系统的"),
            QStringLiteral("下方）添加信息，添加完毕后按回车键将自动的转到下一页确认修改；"),
            QStringLiteral(
                "    方法2：双击要修改的名片；在点击左方的\"修改\"，然后再弹出的窗体（系统的下方"),
            QStringLiteral("）添加信息，添加完毕后按回车键将自动的转到下一页确认修改；"),
            QStringLiteral("    方法3：在数据表中单击右健，选择修改；"),
            QStringLiteral("    方法4：Ctrl+Alt+E"),
            QString(),
            QStringLiteral("四：名片的删除： "),
            QStringLiteral(
                "    方法1：先选中要删除的名片；在点击左方的\"删除\"，然后再弹出的窗体选择“确认"),
            QStringLiteral("”。"),
            QStringLiteral("    方法2：在数据表中单击右健，选择删除；"),
            QStringLiteral("    方法3：Ctrl+Alt+D"),
            QString(),
            QStringLiteral("五：名片的查询："),
            QStringLiteral(
                "    先点击查询字段下的黑三角形，从中选择你要查询的字段，然后再输入查询关键字，"),
            QStringLiteral("最后点击“开始查询”或回车；"),
            QStringLiteral("    点击“返回“，将退出查询；"),
            QStringLiteral("六：修改密码："),
            QStringLiteral("    点击菜单上的“系统”，选择修改密码,然后再输入新的密码,最后回车确认;"),
            QStringLiteral("七:数据备份和恢复:"),
            QStringLiteral("    点击菜单上的\"系统\",选择\"备份\"或\"恢复\"."),
        };
        const QStringList text = lines(m->Memo2);
        QCOMPARE(text.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(text.at(i), expected.at(i));

        QVERIFY(m->Memo2->isReadOnly());
        QCOMPARE(m->Memo2->font().pixelSize(), 12);
        QCOMPARE(m->BitBtn1->text(), QStringLiteral("返  回"));
        // Typing changes nothing.
        program.showMain();
        m->H1Click();
        m->Memo2->setFocus();
        QTest::keyClicks(m->Memo2, QStringLiteral("xy"));
        QTest::keyClick(m->Memo2, Qt::Key_Backspace);
        QCOMPARE(lines(m->Memo2), expected);
        QVERIFY(m->PageControlSYS->isVisible());
    }

    void openingThePages_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("page");
        QTest::newRow("about the software") << "N7"
                                            << "TabSheet6";
        QTest::newRow("about us") << "N8"
                                  << "TabSheet6";
        QTest::newRow("help") << "H1"
                              << "TabSheet4";
        QTest::newRow("F1") << "F1"
                            << "TabSheet4";
    }

    void openingThePages() {
        QFETCH(QString, command);
        QFETCH(QString, page);
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        addCard({QStringLiteral("姓名"), QStringLiteral("张三")});
        m->SpeedButton2Click();
        m->Edit1->setFocus();
        if (command == QLatin1String("F1"))
            QTest::keyClick(m->Edit1, Qt::Key_F1);
        else
            m->findChild<QAction*>(command)->trigger();
        QVERIFY(!m->PageControlZL->isVisible());
        QVERIFY(m->PageControlSYS->isVisible());
        QCOMPARE(m->PageControlSYS->currentWidget()->objectName(), page);
        QVERIFY(!m->ButtonXGQD->isVisibleTo(m->TabSheet3));
        // The editor keeps what it held, and the mode marker stays.
        QCOMPARE(m->Edit1->text(), QStringLiteral("张三"));
        QCOMPARE(m->modeMarker(), QStringLiteral("修改"));
        QVERIFY(program.boxes.boxes().isEmpty());
    }

    void closingThePages() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        m->N7Click();
        // "返  回" only hides the system pages; "退  出" also hides the editor.
        m->PageControlZL->setVisible(true);
        QTest::mouseClick(m->BitBtn1, Qt::LeftButton);
        QVERIFY(!m->PageControlSYS->isVisible());
        QVERIFY(m->PageControlZL->isVisible());
        m->N7Click();
        m->PageControlZL->setVisible(true);
        QTest::mouseClick(m->Button14, Qt::LeftButton);
        QVERIFY(!m->PageControlSYS->isVisible());
        QVERIFY(!m->PageControlZL->isVisible());
        QVERIFY(m->PanelCZ->isVisible());
    }

    void keysInTheAboutText_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<QString>("edit");
        QTest::newRow("letter") << int(Qt::Key_X) << 0 << true << "x typed";
        QTest::newRow("backspace") << int(Qt::Key_Backspace) << 0 << true << "last deleted";
        QTest::newRow("enter") << int(Qt::Key_Return) << 0 << true << "line broken";
        QTest::newRow("escape") << int(Qt::Key_Escape) << 0 << true << "";
        QTest::newRow("left") << int(Qt::Key_Left) << 0 << false << "";
        QTest::newRow("down") << int(Qt::Key_Down) << 0 << false << "";
        QTest::newRow("page down") << int(Qt::Key_PageDown) << 0 << false << "";
        QTest::newRow("delete") << int(Qt::Key_Delete) << 0 << false << "lines joined";
        QTest::newRow("control letter") << int(Qt::Key_A) << int(Qt::ControlModifier) << true << "";
    }

    void keysInTheAboutText() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, closes);
        QFETCH(QString, edit);
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        m->N7Click();
        m->Memo3->setFocus();
        QTextCursor cursor = m->Memo3->textCursor();
        cursor.movePosition(QTextCursor::Start);
        cursor.movePosition(QTextCursor::EndOfLine);
        m->Memo3->setTextCursor(cursor);
        QStringList expected = lines(m->Memo3);
        if (edit == QLatin1String("x typed"))
            expected[0] += QLatin1Char('x');
        else if (edit == QLatin1String("last deleted"))
            expected[0].chop(1);
        else if (edit == QLatin1String("line broken"))
            expected.insert(1, QString());
        else if (edit == QLatin1String("lines joined"))
            expected[0] += expected.takeAt(1);

        QTest::keyClick(m->Memo3, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(m->PageControlSYS->isVisible(), !closes);
        QCOMPARE(lines(m->Memo3), expected);
        // The change lives on in the window and shows when the page opens again.
        m->N8Click();
        QCOMPARE(lines(m->Memo3), expected);
    }

    void tabInTheAboutAndHelpTexts() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        m->N7Click();
        const QStringList about = lines(m->Memo3);
        m->Memo3->setFocus();
        // Tab moves on and is no character: the About page stays open.
        QTest::keyClick(m->Memo3, Qt::Key_Tab);
        QVERIFY(m->PageControlSYS->isVisible());
        QVERIFY(QApplication::focusWidget() != m->Memo3);
        m->Memo3->setFocus();
        QTest::keyClick(m->Memo3, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m->Button14));
        QTest::keyClick(m->Button14, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m->Memo3));
        QVERIFY(m->PageControlSYS->isVisible());
        QCOMPARE(lines(m->Memo3), about);

        m->H1Click();
        const QStringList help = lines(m->Memo2);
        m->Memo2->setFocus();
        QTest::keyClick(m->Memo2, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m->BitBtn1));
        QTest::keyClick(m->BitBtn1, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(m->Memo2));
        QCOMPARE(lines(m->Memo2), help);
    }

    void dial() {
        Program program;
        TFrmMain* m = FrmMain;
        m->H1Click();
        m->N15->trigger();
        QVERIFY(!m->PageControlSYS->isVisibleTo(m));
        QCOMPARE(program.shell.calls().size(), 1);
        const auto call = program.shell.calls().first();
        QCOMPARE(call.owner, static_cast<QWidget*>(m));
        QCOMPARE(call.verb, QStringLiteral("open"));
        QCOMPARE(call.file, TFrmMain::conferencingProgram());
#ifdef Q_OS_WIN
        QCOMPARE(call.file, QStringLiteral("C:\\Program Files\\NetMeeting\\conf.exe"));
#else
        QCOMPARE(call.file, QStringLiteral("/usr/bin/linphone"));
#endif
        QCOMPARE(call.parameters, QString());
        QCOMPARE(call.directory, QString());
        QCOMPARE(call.showCommand, int(Platform::SW_SHOWNORMAL));
        QVERIFY(program.boxes.boxes().isEmpty());
    }

    void homePage() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        m->N7Click();
        m->N16->trigger();
        QTest::mouseClick(m->Label35, Qt::LeftButton, {}, QPoint(5, 5));
        // A right click or a press alone opens nothing.
        QTest::mouseClick(m->Label35, Qt::RightButton, {}, QPoint(5, 5));
        QTest::mousePress(m->Label35, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(program.shell.calls().size(), 2);
        for (const auto& call : program.shell.calls()) {
            QCOMPARE(call.owner, static_cast<QWidget*>(m));
            QCOMPARE(call.verb, QString());
            QCOMPARE(call.file, TFrmMain::kHomePage);
            QCOMPARE(call.parameters, QString());
            QCOMPARE(call.directory, QString());
            QCOMPARE(call.showCommand, int(Platform::SW_SHOWNORMAL));
        }
        // The label shows the address it opens.
        QCOMPARE(QUrl::fromUserInput(m->Label35->text()), QUrl(TFrmMain::kHomePage));
        // No pane changes.
        QVERIFY(m->PageControlSYS->isVisible());
        QCOMPARE(m->PageControlSYS->currentWidget(), m->TabSheet6);
    }

    void linkLabelHover() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        QLabel* label = m->Label35;
        const QColor windowText = QApplication::palette().color(QPalette::WindowText);
        QCOMPARE(label->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(label->palette().color(QPalette::WindowText), windowText);

        hover(label, QEvent::MouseMove);
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(0xFF, 0, 0));
        QCOMPARE(label->cursor().shape(), Qt::PointingHandCursor);
        hover(label, QEvent::Leave);
        QCOMPARE(label->palette().color(QPalette::WindowText), windowText);
        QCOMPARE(label->cursor().shape(), Qt::PointingHandCursor);
        hover(label, QEvent::MouseMove);
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(0xFF, 0, 0));
        QVERIFY(program.shell.calls().isEmpty());
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
