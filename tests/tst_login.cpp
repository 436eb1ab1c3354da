// The login dialog: the password check, its shape and dragging, and ending the program.
#include "testsupport.h"

#include "data/password.h"
#include "login/dl.h"
#include "mainwindow/VELMORA.h"
#include "program/quembe.h"

#include <QTest>

using namespace TestSupport;

namespace {
const QString kWrong = QStringLiteral("您的输入有误，请再重新输入！");
}

class TestLogin : public QObject {
    Q_OBJECT

private:
    static bool mainShown(const Program& program) {
        return program.modal.shown.contains(FrmMain) && FrmMain->isVisible() && !FrmDL->isVisible();
    }

    static void typeAndConfirm(const QString& text, bool byEnter) {
        FrmDL->Edit1->clear();
        // The test keyboard types ASCII only.
        const bool ascii =
            std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 128; });
        if (ascii)
            QTest::keyClicks(FrmDL->Edit1, text);
        else
            FrmDL->Edit1->insert(text);
        if (byEnter)
            QTest::keyClick(FrmDL->Edit1, Qt::Key_Return);
        else
            QTest::mouseClick(FrmDL->Button1, Qt::LeftButton);
    }

private slots:
    void layout() {
        Program program;
        QVERIFY(program.created());
        QCOMPARE(FrmDL->size(), QSize(250, 150));
        QVERIFY(FrmDL->windowFlags().testFlag(Qt::FramelessWindowHint));
        QCOMPARE(FrmDL->windowTitle(), QStringLiteral("登陆"));
        QCOMPARE(FrmDL->Edit1->geometry(), QRect(80, 42, 105, 21));
        QCOMPARE(FrmDL->Button1->geometry(), QRect(61, 88, 57, 22));
        QCOMPARE(FrmDL->Button2->geometry(), QRect(128, 88, 57, 22));
        QCOMPARE(FrmDL->Label1->text(), QStringLiteral("密码："));
        QCOMPARE(FrmDL->Button1->text(), QStringLiteral("确  定"));
        QCOMPARE(FrmDL->Button2->text(), QStringLiteral("取  消"));
        QCOMPARE(FrmDL->Edit1->maxLength(), 16);
        QCOMPARE(FrmDL->Edit1->echoMode(), QLineEdit::Password);
        QVERIFY(!FrmDL->Image1->pixmap().isNull());
        QCOMPARE(FrmDL->Image1->pixmap().size(), QSize(250, 150));
        // The rounded shape: corners cut by 50 × 50 ellipses, the middle of each edge kept.
        const QRegion shape = FrmDL->mask();
        QVERIFY(!shape.contains(QPoint(0, 0)));
        QVERIFY(!shape.contains(QPoint(249, 149)));
        QVERIFY(!shape.contains(QPoint(4, 4)));
        QVERIFY(shape.contains(QPoint(125, 0)));
        QVERIFY(shape.contains(QPoint(0, 75)));
        QVERIFY(shape.contains(QPoint(12, 12)));
    }

    void checkPassword_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("hashed");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("byEnter");
        QTest::addColumn<bool>("opens");
        QTest::newRow("right, button") << "Secret1" << true << "Secret1" << false << true;
        QTest::newRow("right, enter") << "Secret1" << true << "Secret1" << true << true;
        QTest::newRow("letter case") << "Secret1" << true << "secret1" << false << false;
        QTest::newRow("trailing blank") << "Secret1" << true << "Secret1 " << true << false;
        QTest::newRow("leading blank") << "Secret1" << true << " Secret1" << true << false;
        QTest::newRow("empty stored, empty typed") << "" << true << "" << false << true;
        QTest::newRow("empty stored, text typed") << "" << true << "x" << true << false;
        QTest::newRow("chinese") << QStringLiteral("密码123") << true << QStringLiteral("密码123")
                                 << true << true;
        QTest::newRow("plain stored, right") << "Old pass" << false << "Old pass" << true << true;
        QTest::newRow("plain stored, case") << "Old pass" << false << "old pass" << true << false;
        QTest::newRow("plain stored, blank") << "Old pass" << false << "Old pass " << true << false;
        QTest::newRow("plain empty stored") << "" << false << "" << true << true;
    }

    void checkPassword() {
        QFETCH(QString, stored);
        QFETCH(bool, hashed);
        QFETCH(QString, typed);
        QFETCH(bool, byEnter);
        QFETCH(bool, opens);
        ProgramFolder folder;
        exec(folder.database(), QStringLiteral("update yh set 用户密码 = '%1'")
                                    .arg(hashed ? hashPassword(stored) : stored));
        Platform::MessageBoxRecorder boxes;
        Platform::ModalRecorder modal;
        QVERIFY(Quembe::createForms());
        typeAndConfirm(typed, byEnter);
        if (opens) {
            QVERIFY(modal.shown.contains(FrmMain));
            QVERIFY(!FrmDL->isVisible());
            QVERIFY(boxes.boxes().isEmpty());
        } else {
            QVERIFY(!modal.shown.contains(FrmMain));
            QCOMPARE(boxes.texts(), QStringList{kWrong});
            QCOMPARE(boxes.boxes().first().flags, unsigned(Platform::MB_OK));
            QCOMPARE(boxes.boxes().first().caption, Platform::applicationTitle());
            // The typed text stays for another try.
            QCOMPARE(FrmDL->Edit1->text(), typed);
        }
        Quembe::destroyForms();
    }

    void retryAfterWrongEntry() {
        Program program(QStringLiteral("abc"));
        FrmDL->show();
        typeAndConfirm(QStringLiteral("abd"), true);
        QTest::keyClick(FrmDL->Edit1, Qt::Key_Return);
        QCOMPARE(program.boxes.texts(), QStringList({kWrong, kWrong}));
        QVERIFY(FrmDL->isVisible());
        QTest::keyClick(FrmDL->Edit1, Qt::Key_Backspace);
        QTest::keyClicks(FrmDL->Edit1, QStringLiteral("c"));
        QTest::keyClick(FrmDL->Edit1, Qt::Key_Enter);
        QVERIFY(mainShown(program));
    }

    void noUserRowOpensWithEmptyPassword() {
        ProgramFolder folder;
        exec(folder.database(), QStringLiteral("delete from yh"));
        Platform::MessageBoxRecorder boxes;
        Platform::ModalRecorder modal;
        QVERIFY(Quembe::createForms());
        typeAndConfirm(QString(), false);
        QVERIFY(modal.shown.contains(FrmMain));
        Quembe::destroyForms();
    }

    void initialPasswordIsEmptyAndHashed() {
        ProgramFolder folder;
        const QStringList stored =
            query(folder.database(), QStringLiteral("select 用户密码 from yh"));
        QCOMPARE(stored.size(), 1);
        QVERIFY(stored.first().startsWith(QStringLiteral("$argon2id$")));
        QVERIFY(passwordMatches(stored.first(), QString()));
    }

    void seventeenthCharacterIsRefused() {
        Program program;
        QTest::keyClicks(FrmDL->Edit1, QStringLiteral("12345678901234567"));
        QCOMPARE(FrmDL->Edit1->text(), QStringLiteral("1234567890123456"));
    }

    void escapeDoesNothing() {
        Program program;
        FrmDL->show();
        QTest::keyClick(FrmDL->Edit1, Qt::Key_Escape);
        QVERIFY(FrmDL->isVisible());
        QCOMPARE(program.modal.terminations, 0);
        QVERIFY(program.boxes.boxes().isEmpty());
    }

    void enterOnAFocusedButtonClicksIt() {
        Program program;
        FrmDL->show();
        FrmDL->Button2->setFocus();
        QTest::keyClick(FrmDL->Button2, Qt::Key_Return);
        QCOMPARE(program.modal.terminations, 1);
    }

    void cancelAndCloseEndTheProgram() {
        Program program;
        FrmDL->show();
        QTest::mouseClick(FrmDL->Button2, Qt::LeftButton);
        QCOMPARE(program.modal.terminations, 1);
        FrmDL->show();
        QVERIFY(FrmDL->close());
        QCOMPARE(program.modal.terminations, 2);
        QVERIFY(!program.modal.shown.contains(FrmMain));
    }

    void dragByPictureNotByEdit() {
        Program program;
        FrmDL->show();
        QVERIFY(QTest::qWaitForWindowExposed(FrmDL));
        // The picture and the label answer as a caption; the edit is a control of its own.
        QCOMPARE(FrmDL->WMNCHitTest(FrmDL->mapToGlobal(QPoint(20, 120))), int(Platform::HTCAPTION));
        QCOMPARE(FrmDL->WMNCHitTest(FrmDL->mapToGlobal(QPoint(2, 2))), int(Platform::HTNOWHERE));
        const QPoint start = FrmDL->pos();
        QTest::mousePress(FrmDL->Image1, Qt::LeftButton, {}, QPoint(20, 120));
        QTest::mouseMove(FrmDL->Image1, QPoint(60, 140));
        QTest::mouseRelease(FrmDL->Image1, Qt::LeftButton, {}, QPoint(60, 140));
        QCOMPARE(FrmDL->pos(), start + QPoint(40, 20));

        const QPoint here = FrmDL->pos();
        QTest::mouseClick(FrmDL->Edit1, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(FrmDL->pos(), here);
        QVERIFY(FrmDL->Edit1->hasFocus());
    }
};

QTEST_MAIN(TestLogin)
#include "tst_login.moc"
