// The password page: opening it, confirming a new password twice, cancelling, and how the
// password is stored.
#include "testsupport.h"

#include "data/adoquery.h"
#include "data/password.h"
#include "mainwindow/VELMORA.h"

#include <QTest>

using namespace TestSupport;

namespace {

const QString kFailed = QStringLiteral("      密码修改失败!    ");
const QString kChanged = QStringLiteral("      密码修改成功!    ");

QString storedPassword(const Program& program) {
    const QStringList rows =
        query(program.folder.database(), QStringLiteral("select 用户密码 from yh"));
    return rows.value(0);
}

// The test keyboard types ASCII only; other text goes in as a paste would.
void type(QLineEdit* edit, const QString& text) {
    const bool ascii =
        std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 128; });
    if (ascii)
        QTest::keyClicks(edit, text);
    else
        edit->insert(text);
}

} // namespace

class TestPassword : public QObject {
    Q_OBJECT

private slots:
    void openingThePage() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        m->SpeedButton2Click();
        QTest::keyClicks(m->EditXMM, QStringLiteral("kept"));
        m->N9->trigger();
        QVERIFY(!m->PageControlZL->isVisible());
        QVERIFY(m->PageControlSYS->isVisible());
        QCOMPARE(m->PageControlSYS->currentWidget(), m->TabSheet5);
        QVERIFY(!m->ButtonXGQD->isVisibleTo(m->TabSheet3));
        QCOMPARE(m->modeMarker(), QStringLiteral("修改"));
        // Neither cleared nor given the focus.
        QCOMPARE(m->EditXMM->text(), QStringLiteral("kept"));
        QVERIFY(!m->EditXMM->hasFocus() && !m->EditXMMHD->hasFocus());

        for (QLineEdit* edit : {m->EditXMM, m->EditXMMHD}) {
            QCOMPARE(edit->echoMode(), QLineEdit::Password);
            edit->clear();
            QTest::keyClicks(edit, QStringLiteral("12345678901234567"));
            QCOMPARE(edit->text(), QStringLiteral("1234567890123456"));
        }
    }

    void confirming_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("check");
        QTest::addColumn<bool>("byEnter");
        QTest::addColumn<bool>("changes");
        QTest::newRow("equal") << "Neu 1"
                               << "Neu 1" << false << true;
        QTest::newRow("equal, enter") << "Neu 1"
                                      << "Neu 1" << true << true;
        QTest::newRow("both empty") << ""
                                    << "" << false << true;
        QTest::newRow("chinese") << QStringLiteral("新密码") << QStringLiteral("新密码") << true
                                 << true;
        QTest::newRow("sixteen") << "abcdefghijklmnop"
                                 << "abcdefghijklmnop" << true << true;
        QTest::newRow("differing") << "abc"
                                   << "abd" << false << false;
        QTest::newRow("differing, enter") << "abc"
                                          << "abd" << true << false;
        QTest::newRow("letter case") << "Abc"
                                     << "abc" << false << false;
        QTest::newRow("trailing blank") << "abc"
                                        << "abc " << true << false;
        QTest::newRow("leading blank") << " abc"
                                       << "abc" << false << false;
        QTest::newRow("one empty") << ""
                                   << "abc" << false << false;
    }

    void confirming() {
        QFETCH(QString, typed);
        QFETCH(QString, check);
        QFETCH(bool, byEnter);
        QFETCH(bool, changes);
        Program program(QStringLiteral("Old"));
        program.showMain();
        TFrmMain* m = FrmMain;
        const QString before = storedPassword(program);
        m->N9Click();
        type(m->EditXMM, typed);
        type(m->EditXMMHD, check);
        if (byEnter)
            QTest::keyClick(m->EditXMMHD, Qt::Key_Return);
        else
            QTest::mouseClick(m->Button1, Qt::LeftButton);

        QCOMPARE(program.boxes.texts(), QStringList{changes ? kChanged : kFailed});
        QCOMPARE(program.boxes.boxes().first().caption, Platform::applicationTitle());
        QCOMPARE(program.boxes.boxes().first().flags, unsigned(Platform::MB_OK));
        QCOMPARE(m->EditXMM->text(), QString());
        QCOMPARE(m->EditXMMHD->text(), QString());
        QVERIFY(m->PanelCZ->isVisible());
        QVERIFY(!m->PageControlZL->isVisible());
        const QString stored = storedPassword(program);
        if (changes) {
            QVERIFY(!m->PageControlSYS->isVisible());
            // Stored as a hash of exactly what was typed, never as the text itself.
            QVERIFY(stored.startsWith(QStringLiteral("$argon2id$")));
            QVERIFY(passwordMatches(stored, typed));
            QVERIFY(!passwordMatches(stored, typed + QLatin1Char(' ')));
            QVERIFY(!passwordMatches(stored, QStringLiteral("Old")));
        } else {
            QCOMPARE(stored, before);
            QVERIFY(m->PageControlSYS->isVisible());
            QCOMPARE(m->PageControlSYS->currentWidget(), m->TabSheet5);
        }
    }

    void enterInTheFirstInputDoesNothing() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        m->N9Click();
        QTest::keyClicks(m->EditXMM, QStringLiteral("abc"));
        QTest::keyClick(m->EditXMM, Qt::Key_Return);
        QVERIFY(program.boxes.boxes().isEmpty());
        QCOMPARE(m->EditXMM->text(), QStringLiteral("abc"));
        // Other keys in the confirmation input only type.
        QTest::keyClicks(m->EditXMMHD, QStringLiteral("ab"));
        QTest::keyClick(m->EditXMMHD, Qt::Key_Escape);
        QVERIFY(program.boxes.boxes().isEmpty());
        QCOMPARE(m->EditXMMHD->text(), QStringLiteral("ab"));
    }

    void cancelKeepsTheInputs() {
        Program program(QStringLiteral("Old"));
        program.showMain();
        TFrmMain* m = FrmMain;
        const QString before = storedPassword(program);
        m->N9Click();
        QTest::keyClicks(m->EditXMM, QStringLiteral("abc"));
        QTest::keyClicks(m->EditXMMHD, QStringLiteral("abc"));
        QTest::mouseClick(m->Button2, Qt::LeftButton);
        QVERIFY(!m->PageControlSYS->isVisible());
        QVERIFY(!m->PageControlZL->isVisible());
        QVERIFY(program.boxes.boxes().isEmpty());
        QCOMPARE(storedPassword(program), before);
        m->N9Click();
        QCOMPARE(m->EditXMM->text(), QStringLiteral("abc"));
        QCOMPARE(m->EditXMMHD->text(), QStringLiteral("abc"));
        QCOMPARE(m->EditXMM->displayText().size(), 3);
        QVERIFY(m->EditXMM->displayText() != QStringLiteral("abc"));
    }

    void withoutAnyUserRowARowIsAdded() {
        Program program;
        exec(program.folder.database(), QStringLiteral("delete from yh"));
        TFrmMain* m = FrmMain;
        m->ADOQuery2->Close();
        m->N9Click();
        QTest::keyClicks(m->EditXMM, QStringLiteral("neu"));
        QTest::keyClicks(m->EditXMMHD, QStringLiteral("neu"));
        m->Button1Click();
        QCOMPARE(program.boxes.texts(), QStringList{kChanged});
        const QStringList rows =
            query(program.folder.database(), QStringLiteral("select 用户密码 from yh"));
        QCOMPARE(rows.size(), 1);
        QVERIFY(passwordMatches(rows.first(), QStringLiteral("neu")));
    }

    void afterBackupOrRestore_data() {
        QTest::addColumn<bool>("restore");
        QTest::newRow("backup") << false;
        QTest::newRow("restore") << true;
    }

    void afterBackupOrRestore() {
        QFETCH(bool, restore);
        Program program(QStringLiteral("Old"));
        TFrmMain* m = FrmMain;
        m->N10Click();
        if (restore)
            m->N11Click();
        QVERIFY(!m->ADOQuery2->Active());
        program.boxes.clear();
        m->N9Click();
        QTest::keyClicks(m->EditXMM, QStringLiteral("neu"));
        QTest::keyClicks(m->EditXMMHD, QStringLiteral("neu"));
        QTest::keyClick(m->EditXMMHD, Qt::Key_Enter);
        QCOMPARE(program.boxes.texts(), QStringList{kChanged});
        QVERIFY(passwordMatches(storedPassword(program), QStringLiteral("neu")));
        // The backup keeps the password of its time.
        const QStringList kept =
            query(program.folder.backup(), QStringLiteral("select 用户密码 from yh"));
        QVERIFY(passwordMatches(kept.value(0), QStringLiteral("Old")));
    }

    void aFailedWriteKeepsTheInputs() {
        Program program;
        program.showMain();
        TFrmMain* m = FrmMain;
        m->ADOQuery2->Close();
        exec(program.folder.database(), QStringLiteral("drop table yh"));
        m->N9Click();
        QTest::keyClicks(m->EditXMM, QStringLiteral("neu"));
        QTest::keyClicks(m->EditXMMHD, QStringLiteral("neu"));
        QTest::mouseClick(m->Button1, Qt::LeftButton);
        QCOMPARE(program.boxes.boxes().size(), 1);
        QCOMPARE(program.boxes.boxes().first().flags,
                 unsigned(Platform::MB_OK | Platform::MB_ICONSTOP));
        QCOMPARE(m->EditXMM->text(), QStringLiteral("neu"));
        QCOMPARE(m->EditXMMHD->text(), QStringLiteral("neu"));
        QVERIFY(m->PageControlSYS->isVisible());
    }

    void storedForm_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("matches");
        const QString hash = hashPassword(QStringLiteral("Abc 1"));
        QTest::newRow("hash, same") << hash << "Abc 1" << true;
        QTest::newRow("hash, case") << hash << "abc 1" << false;
        QTest::newRow("hash, blank") << hash << "Abc 1 " << false;
        QTest::newRow("hash typed as text") << hash << hash << false;
        QTest::newRow("hash of empty") << hashPassword(QString()) << "" << true;
        QTest::newRow("plain, same") << "Abc 1"
                                     << "Abc 1" << true;
        QTest::newRow("plain, case") << "Abc 1"
                                     << "abc 1" << false;
        QTest::newRow("plain empty") << ""
                                     << "" << true;
        QTest::newRow("plain empty, text") << ""
                                           << " " << false;
        // An old plain password may look like the start of a hash.
        QTest::newRow("plain hash prefix") << "$argon2id$v=19$"
                                           << "$argon2id$v=19$" << true;
        QTest::newRow("plain hash prefix, other") << "$argon2id$v=19$"
                                                  << "x" << false;
    }

    void storedForm() {
        QFETCH(QString, stored);
        QFETCH(QString, typed);
        QFETCH(bool, matches);
        QCOMPARE(passwordMatches(stored, typed), matches);
    }

    void hashesAreSalted() {
        const QString a = hashPassword(QStringLiteral("same"));
        const QString b = hashPassword(QStringLiteral("same"));
        QVERIFY(a != b);
        QVERIFY(passwordMatches(a, QStringLiteral("same")));
        QVERIFY(passwordMatches(b, QStringLiteral("same")));
    }
};

QTEST_MAIN(TestPassword)
#include "tst_password.moc"
