// Sync through the window against a real Radicale: the account dialog, a sync on a thread
// behind its progress dialog, cancel and resume, the questions it asks, the password.
#include "davservers.h"
#include "testshards.h"
#include "testsupport.h"

#include "data/adoconnection.h"
#include "data/adoquery.h"
#include "dialogs/syncaccountdialog.h"
#include "mainwindow/VELMORA.h"
#include "platform/passwordprompt.h"
#include "platform/progress.h"
#include "sync/secretstore.h"

#include <QTest>
#include <QThread>

#include <atomic>

using namespace TestSupport;

namespace {

// A keychain in memory, or none at all.
class FakeKeychain : public Sync::SecretStore {
public:
    Status read(const QString& key, QString* password) override {
        if (!available)
            return Unavailable;
        if (!kept.contains(key))
            return NotFound;
        *password = kept.value(key);
        return Found;
    }
    bool write(const QString& key, const QString& password) override {
        if (available)
            kept.insert(key, password);
        return available;
    }
    void remove(const QString& key) override { kept.remove(key); }

    bool available = true;
    QHash<QString, QString> kept;
};

QAction* action(const char* name) {
    return FrmMain->findChild<QAction*>(QString::fromLatin1(name));
}

int cardCount(const QString& database) {
    return query(database, "select count(*) from zl").value(0).toInt();
}

void addCards(const QString& database, int count, const QString& prefix) {
    for (int i = 0; i < count; ++i)
        exec(database, QStringLiteral("insert into zl (姓名, 手机) values ('%1%2', '%3')")
                           .arg(prefix)
                           .arg(i, 3, 10, QLatin1Char('0'))
                           .arg(13000000000LL + i));
}

QStringList serverHrefs(const DavServer& server) {
    Sync::CardDavClient client;
    client.setCredentials(server.user(), server.password());
    client.setTrustedFingerprint(server.fingerprint());
    QStringList hrefs;
    client.listCards(server.book(), [&](const Sync::CardRef& c) { hrefs << c.href; });
    return hrefs;
}

// The account as the dialog leaves it; what "测试连接" said each time.
QStringList setUpThroughDialog(Program& program, const DavServer& server, const QString& password) {
    QStringList said;
    program.modal.onShow = [&](QWidget* window) {
        auto* dialog = qobject_cast<SyncAccountDialog*>(window);
        QVERIFY(dialog);
        dialog->EditServer->setText(server.root().toString());
        dialog->EditUser->setText(server.user());
        dialog->EditPassword->setText(password);
        program.boxes.setNextAnswer(Platform::IDYES); // the certificate
        dialog->ButtonOKClick();
        said << dialog->LabelResult->text();
    };
    action("NSyncSetup")->trigger();
    program.modal.onShow = nullptr;
    return said;
}

} // namespace

#define START_RADICALE(server)                                                                     \
    DavServer server(DavServer::RadicaleHttps);                                                    \
    if (!server.problem().isEmpty())                                                               \
        QSKIP(qPrintable(server.problem()));

class TestSyncWindow : public QObject {
    Q_OBJECT

    FakeKeychain* m_keychain = nullptr;

private slots:
    void init() {
        auto keychain = std::make_unique<FakeKeychain>();
        m_keychain = keychain.get();
        Sync::setSecretStore(std::move(keychain));
    }
    void cleanup() { Sync::setSecretStore(nullptr); }

    // Each failure is said in Chinese in the dialog; a certificate is trusted only when the
    // user agrees; plain http beyond this computer is warned about before anything is sent.
    void accountDialogSaysWhatFailed() {
        START_RADICALE(server);
        Program program;
        QCOMPARE(FrmMain->N1->actions().at(FrmMain->N1->actions().indexOf(FrmMain->N23) + 1),
                 action("NSync"));
        QStringList said;
        program.modal.onShow = [&](QWidget* window) {
            auto* d = qobject_cast<SyncAccountDialog*>(window);
            QVERIFY(d);
            auto test = [&](const QString& address, const QString& password, int answer) {
                d->EditServer->setText(address);
                d->EditUser->setText(server.user());
                d->EditPassword->setText(password);
                if (answer) // only where a question comes
                    program.boxes.setNextAnswer(answer);
                d->ButtonTest->click();
                said << d->LabelResult->text();
            };
            test(QStringLiteral("https://127.0.0.1:%1/").arg(freePort()), "x", 0);
            test(server.root().toString(), server.password(), Platform::IDNO);
            test(server.root().toString(), "wrong", Platform::IDYES);
            test(server.root().toString(), server.password(), 0);
            QCOMPARE(d->ComboBook->count(), 1);
            d->ButtonOK->click();
        };
        action("NSyncSetup")->trigger();
        QCOMPARE(said.size(), 4);
        QVERIFY2(said[0].contains(QStringLiteral("拒绝")), qPrintable(said[0]));
        QVERIFY2(said[1].contains(QString::fromLatin1(server.fingerprint())), qPrintable(said[1]));
        QVERIFY2(said[2].contains(QStringLiteral("用户名和密码")), qPrintable(said[2]));
        QVERIFY2(said[3].startsWith(QStringLiteral("连接成功")), qPrintable(said[3]));
        // Asked twice about the certificate: refused, then trusted; its fingerprint shown.
        const QStringList boxes = program.boxes.texts();
        QCOMPARE(boxes.size(), 2);
        QVERIFY(boxes[0].contains(QString::fromLatin1(server.fingerprint())));

        const QString file = program.folder.database();
        const QStringList stored = query(file, "select key || '=' || value from sync_account");
        QVERIFY2(stored.contains("fingerprint=" + QString::fromLatin1(server.fingerprint())),
                 qPrintable(stored.join(' ')));
        QVERIFY(stored.contains("book=" + server.book().toString()));
        QCOMPARE(m_keychain->kept.values(), QStringList{server.password()});

        // Plain http to another computer: the warning comes first, refused, nothing goes.
        program.boxes.clear();
        said.clear();
        program.modal.onShow = [&](QWidget* window) {
            auto* d = qobject_cast<SyncAccountDialog*>(window);
            d->EditServer->setText(QStringLiteral("http://cards.example.invalid/"));
            program.boxes.setNextAnswer(Platform::IDNO);
            d->ButtonTest->click();
            said << d->LabelResult->text();
        };
        action("NSyncSetup")->trigger();
        QCOMPARE(program.boxes.boxes().size(), 1);
        QVERIFY(program.boxes.texts()[0].contains(QStringLiteral("明文")));
        QVERIFY2(said.value(0).contains(QStringLiteral("https")), qPrintable(said.value(0)));
        QVERIFY(query(file, "select value from sync_account where key = 'book'")
                    .contains(server.book().toString()));
    }

    // Both ways through the menu; the grid lists the cards; the password stays out of the file;
    // the mass-delete question is asked in the window and both answers hold.
    void syncFromTheWindow() {
        START_RADICALE(server);
        Program program;
        const QString file = program.folder.database();
        server.curl(
            {"-X", "PUT", "-H", "Content-Type: text/vcard", "--data-binary",
             "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:phone-1\r\nFN:手机上的\r\nN:手机上的;;;;\r\n"
             "END:VCARD\r\n",
             server.book().toString() + "p.vcf"});
        addCards(file, 14, QStringLiteral("本机"));
        setUpThroughDialog(program, server, server.password());
        program.boxes.clear();
        Platform::ProgressRecorder progress;
        action("NSync")->trigger();
        QCOMPARE(progress.labels, QStringList{"正在同步名片……"});
        QCOMPARE(program.boxes.boxes().size(), 1);
        const QString report = program.boxes.texts()[0];
        QVERIFY2(report.contains(QStringLiteral("已发送 14 张名片，已接收 1 张")),
                 qPrintable(report));
        QCOMPARE(FrmMain->ADOQuery1->RecordCount(), 15);
        QVERIFY(!readFile(file).contains(server.password().toUtf8()));

        // The server emptied: asked first; "否" keeps every card, "是" goes on.
        for (const QString& href : serverHrefs(server))
            server.curl({"-X", "DELETE", server.root().resolved(QUrl(href)).toString()});
        program.boxes.clear();
        program.boxes.setNextAnswer(Platform::IDNO);
        action("NSync")->trigger();
        QCOMPARE(program.boxes.boxes().size(), 2);
        QVERIFY(
            program.boxes.texts()[0].startsWith(QStringLiteral("服务器上的通讯录似乎被清空了")));
        QVERIFY(program.boxes.texts()[1].contains(QStringLiteral("没有删除任何名片")));
        QCOMPARE(cardCount(file), 15);
        program.boxes.clear();
        program.boxes.setNextAnswer(Platform::IDYES);
        action("NSync")->trigger();
        QCOMPARE(cardCount(file), 0);
        QCOMPARE(FrmMain->ADOQuery1->RecordCount(), 0);
    }

    // Cancelled mid-way, then synced again: every card once on each side.
    void cancelAndResume() {
        START_RADICALE(server);
        Program program;
        const QString file = program.folder.database();
        addCards(file, 80, QStringLiteral("卡"));
        setUpThroughDialog(program, server, server.password());
        program.boxes.clear();
        {
            Platform::ProgressRecorder progress;
            progress.cancelAtStep(5);
            action("NSync")->trigger();
        }
        QCOMPARE(program.boxes.texts().value(0).left(5), QStringLiteral("同步已取消"));
        QVERIFY(serverHrefs(server).size() < 80);
        program.boxes.clear();
        action("NSync")->trigger();
        QVERIFY2(program.boxes.texts().value(0).startsWith(QStringLiteral("同步完成")),
                 qPrintable(program.boxes.texts().value(0)));
        QCOMPARE(serverHrefs(server).size(), 80);
        QCOMPARE(cardCount(file), 80);
        QCOMPARE(query(file, "select count(distinct 姓名) from zl"), QStringList{"80"});
    }

    // No keychain: the password is asked for, kept in memory only, asked again after a
    // refusal; a wrong one is said in Chinese.
    void passwordWithoutKeychain() {
        START_RADICALE(server);
        m_keychain->available = false;
        Program program;
        const QString file = program.folder.database();
        Sync::SyncAccount account;
        account.server = server.root().toString();
        account.user = server.user();
        account.book = server.book();
        account.fingerprint = server.fingerprint();
        Sync::saveAccount(FrmMain->ADOConnection1->database(), account);
        addCards(file, 1, QStringLiteral("甲"));

        Platform::PasswordPromptRecorder prompts;
        prompts.setNextAnswer(QStringLiteral("wrong"));
        action("NSync")->trigger();
        QCOMPARE(prompts.texts.size(), 1);
        QVERIFY(prompts.texts[0].contains(QStringLiteral("不会保存")));
        QVERIFY2(program.boxes.texts().value(0).contains(QStringLiteral("用户名和密码")),
                 qPrintable(program.boxes.texts().value(0)));
        prompts.setNextAnswer(server.password());
        action("NSync")->trigger();
        QCOMPARE(prompts.texts.size(), 2);
        QCOMPARE(serverHrefs(server).size(), 1);
        action("NSync")->trigger();
        QCOMPARE(prompts.texts.size(), 2);
        QVERIFY(!readFile(file).contains(server.password().toUtf8()));
    }

    // A second client inside a callback of the first, on the same thread (its event loop
    // used to delete the first one's answer under its own signal), and on another thread
    // while the first is paused in its callback, as the window's dialog may while a sync runs.
    void twoClientsAtOnce() {
        START_RADICALE(server);
        for (int i = 0; i < 3; ++i)
            server.curl({"-X", "PUT", "-H", "Content-Type: text/vcard", "--data-binary",
                         QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:t%1\r\nFN:T%1\r\n"
                                        "END:VCARD\r\n")
                             .arg(i),
                         server.book().toString() + QStringLiteral("t%1.vcf").arg(i)});
        const QStringList hrefs = serverHrefs(server);
        for (const int batch : {1, 50}) {
            Sync::CardDavClient outer;
            outer.setCredentials(server.user(), server.password());
            outer.setTrustedFingerprint(server.fingerprint());
            int inside = 0;
            outer.fetchCards(
                server.book(), hrefs,
                [&](const Sync::FetchedCard&) { inside += serverHrefs(server).size(); }, batch);
            QCOMPARE(inside, 9);
        }

        std::atomic<int> paused{0};
        std::atomic<bool> goOn{false};
        int fetched = 0;
        QThread* worker = QThread::create([&] {
            Sync::CardDavClient client;
            client.setCredentials(server.user(), server.password());
            client.setTrustedFingerprint(server.fingerprint());
            client.fetchCards(
                server.book(), hrefs,
                [&](const Sync::FetchedCard&) {
                    ++fetched;
                    ++paused;
                    while (!goOn)
                        QThread::msleep(5);
                },
                1);
        });
        worker->start();
        QTRY_VERIFY(paused > 0);
        for (int round = 0; round < 3; ++round)
            QCOMPARE(serverHrefs(server).size(), 3);
        goOn = true;
        QVERIFY(worker->wait(30000));
        delete worker;
        QCOMPARE(fetched, 3);
    }
};

QUEMBE_TEST_SHARDED_MAIN(TestSyncWindow, QApplication)
#include "tst_syncwindow.moc"
