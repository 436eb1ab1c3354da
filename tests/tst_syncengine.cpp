// Cards kept in step with an address book on a real server (Radicale over https, Xandikos),
// through the sync engine: two databases stand for two computers, curl for a phone.
#include "davservers.h"
#include "testshards.h"
#include "testsupport.h"

#include "data/backup.h"
#include "data/cardpicture.h"
#include "data/connectionstring.h"
#include "data/history.h"
#include "data/sqlite.h"
#include "exchange/assemble.h"
#include "quickfind/cardindex.h"
#include "sync/syncengine.h"

#include <QProcess>
#include <QTest>

#include <memory>

using namespace Sync;
using namespace TestSupport;
using namespace Exchange;

Q_DECLARE_METATYPE(TestSupport::DavServer::Kind)

namespace {

// One computer: its own database, synced with the server's book.
class Side {
public:
    explicit Side(const DavServer& server) {
        client.setCredentials(server.user(), server.password());
        client.setTrustedFingerprint(server.fingerprint());
        SyncAccount account;
        account.server = server.root().toString();
        account.user = server.user();
        account.book = server.book();
        account.fingerprint = server.fingerprint();
        saveAccount(db, account);
    }

    SyncReport sync(bool allowMassDelete = false) {
        SyncEngine engine(db, client);
        engine.confirmMassDelete = [&](int, int, int) {
            asked = true;
            return allowMassDelete;
        };
        Core::Progress work(Core::Progress::Phase::SyncChecking);
        if (hook) {
            work.setListener([&](const Core::Progress& p) { hook(engine, int(p.done())); });
            engine.progress = &work;
        }
        return engine.run();
    }

    qint64 add(const QString& name, const QVector<QPair<Field, QString>>& values = {}) {
        Card card;
        card[Field::Name] = name;
        for (const auto& v : values)
            card[v.first] = v.second;
        return TestSupport::storeCards(db, {card}).value(0);
    }
    // As another program writing the file would.
    void set(const QString& name, Field column, const QString& value) {
        TestSupport::exec(folder.database(), QStringLiteral("update zl set \"%1\" = '%2' where "
                                                            "姓名 = '%3'")
                                                 .arg(columnText(column), value, name));
    }
    void remove(const QString& name) {
        TestSupport::exec(folder.database(),
                          QStringLiteral("delete from zl where 姓名 = '%1'").arg(name));
    }
    QString value(const QString& name, Field column) {
        return TestSupport::query(folder.database(),
                                  QStringLiteral("select \"%1\" from zl where 姓名 = '%2'")
                                      .arg(columnText(column), name))
            .join(QLatin1Char('/'));
    }
    QStringList names() {
        return TestSupport::query(folder.database(), "select 姓名 from zl order by 姓名");
    }

    OpenProgramFolder folder;
    Sqlite::Database& db = folder.db;
    CardDavClient client;
    bool asked = false;
    std::function<void(SyncEngine&, int)> hook;
};

QByteArray phoneCard(const QString& uid, const QString& name, const QString& extra) {
    return QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%1\r\nFN:%2\r\nN:%2;;;;\r\n%3"
                          "END:VCARD\r\n")
        .arg(uid, name, extra)
        .toUtf8();
}

// The cards on the server, by href, read as a phone would.
QHash<QString, QByteArray> serverCards(const DavServer& server) {
    CardDavClient client;
    client.setCredentials(server.user(), server.password());
    client.setTrustedFingerprint(server.fingerprint());
    QStringList hrefs;
    client.listCards(server.book(), [&](const CardRef& c) { hrefs << c.href; });
    QHash<QString, QByteArray> cards;
    client.fetchCards(server.book(), hrefs,
                      [&](const FetchedCard& c) { cards.insert(c.href, c.vcard); });
    return cards;
}

QByteArray serverCardOf(const DavServer& server, const QString& name) {
    for (const QByteArray& text : serverCards(server))
        if (text.contains(("FN:" + name).toUtf8()))
            return text;
    return QByteArray();
}

int putCard(const DavServer& server, const QString& file, const QByteArray& text) {
    int status = 0;
    server.curl({QStringLiteral("-X"), QStringLiteral("PUT"), QStringLiteral("-H"),
                 QStringLiteral("Content-Type: text/vcard"), QStringLiteral("--data-binary"),
                 QString::fromUtf8(text), server.book().toString() + file},
                &status);
    return status;
}

} // namespace

// The server of the kind, or the case skipped when it cannot be started here.
#define START_SERVER_OF(server, kind)                                                              \
    DavServer server(kind);                                                                        \
    if (!server.problem().isEmpty())                                                               \
        QSKIP(qPrintable(server.problem()));
#define START_SERVER(server)                                                                       \
    QFETCH(DavServer::Kind, kind);                                                                 \
    START_SERVER_OF(server, kind)

class TestSyncEngine : public QObject {
    Q_OBJECT

private:
    void servers() {
        QTest::addColumn<DavServer::Kind>("kind");
        QTest::newRow("radicale-https") << DavServer::RadicaleHttps;
        QTest::newRow("xandikos") << DavServer::Xandikos;
    }

private slots:
    void firstSyncBothWays_data() {
        servers();
        QTest::newRow("radicale-digest") << DavServer::RadicaleDigest;
    }
    // The phone's cards come here, ours go there, and a card both have is paired, not doubled.
    void firstSyncBothWays() {
        START_SERVER(server);
        QCOMPARE(
            putCard(server, "a.vcf", phoneCard("phone-a", "王芳", "TEL;TYPE=CELL:13800000001\r\n")),
            201);
        QCOMPARE(putCard(server, "b.vcf",
                         phoneCard("phone-b", "李雷", "TEL;TYPE=CELL:139 0000 0002\r\n")),
                 201);
        Side one(server);
        one.add("李雷", {{Field::Mobile, "13900000002"}, {Field::Company, "本机公司"}});
        one.add("张三", {{Field::Email, "zhang@example.cn"}});
        const SyncReport report = one.sync();
        QCOMPARE(report.sent, 2); // 张三 new, 李雷 with its company
        QCOMPARE(one.names(), (QStringList{"张三", "李雷", "王芳"}));
        QCOMPARE(serverCards(server).size(), 3);
        QVERIFY(serverCardOf(server, "李雷").contains("ORG:本机公司"));
        QVERIFY(serverCardOf(server, "李雷").contains("UID:phone-b"));

        Side two(server);
        two.sync();
        QCOMPARE(two.names(), one.names());
        QCOMPARE(two.value("李雷", Field::Company), QStringLiteral("本机公司"));
        // Nothing changed since: nothing goes either way.
        const SyncReport again = one.sync();
        QCOMPARE(again.sent + again.received + again.deletedHere + again.deletedThere, 0);
    }

    void twoCardsOfOnePerson_data() { servers(); }
    // Two cards here share a name and a mobile, and the phone has a copy of each (as after an
    // import): each pairs with its own copy, so nothing is merged across them.
    void twoCardsOfOnePerson() {
        START_SERVER(server);
        const QString mobile = QStringLiteral("TEL;TYPE=CELL:13800000009\r\nORG:");
        QCOMPARE(putCard(server, "a.vcf",
                         phoneCard("p-a", "赵六", mobile + QStringLiteral("乙公司\r\n"))),
                 201);
        QCOMPARE(putCard(server, "b.vcf",
                         phoneCard("p-b", "赵六", mobile + QStringLiteral("甲公司\r\n"))),
                 201);
        Side one(server);
        one.add("赵六", {{Field::Mobile, "13800000009"}, {Field::Company, "甲公司"}});
        one.add("赵六", {{Field::Mobile, "13800000009"}, {Field::Company, "乙公司"}});
        const SyncReport report = one.sync();
        QCOMPARE(report.sent + report.received, 0);
        QVERIFY(report.conflicts.isEmpty());
        QCOMPARE(serverCards(server).size(), 2);
    }

    void syncUndone_data() { servers(); }
    // A sync is one operation: undone, the cards here are as they were before it.
    void syncUndone() {
        START_SERVER(server);
        Side one(server);
        one.add("甲");
        one.add("乙");
        one.sync();
        Side two(server);
        two.sync();
        two.set("甲", Field::Mobile, "13111111111");
        two.remove("乙");
        two.add("丁");
        two.sync();
        const QStringList before = one.names();
        one.sync();
        QCOMPARE(one.names(), (QStringList{"丁", "甲"}));
        const History::Entry last = History::recent(one.db.get(), 1).value(0);
        QCOMPARE(last.description, QStringLiteral("同步：收到 2 张，删除 1 张"));
        History::undo(one.db.get(), one.folder.database(), last.number, CardIndex::rowWritten);
        QCOMPARE(one.names(), before);
        QCOMPARE(one.value("甲", Field::Mobile), QString());
    }

    void syncUndoSeesAnotherProgram_data() { servers(); }
    // A card a sync changed, changed again by another program: undoing the sync would put the
    // older values back over that change, so it is refused.
    void syncUndoSeesAnotherProgram() {
        START_SERVER(server);
        Side one(server);
        one.add("甲");
        one.sync();
        Side two(server);
        two.sync();
        two.set("甲", Field::Mobile, "13111111111");
        two.sync();
        one.sync();
        const qint64 op = History::recent(one.db.get(), 1).value(0).number;
        QVERIFY(History::undoProblem(one.db.get(), op).isEmpty());
        one.set("甲", Field::Company, "乙公司");
        QVERIFY(History::undoProblem(one.db.get(), op).contains("甲"));
    }

    void changesFromAnotherClient_data() { servers(); }
    // Added, changed and deleted elsewhere; what the columns do not hold stays on the server.
    void changesFromAnotherClient() {
        START_SERVER(server);
        Side one(server);
        one.add("甲", {{Field::Mobile, "13000000001"}});
        // 乙's picture goes with it when the server's delete comes.
        CardPicture::replace(one.db, one.add("乙"), CardPicture::Side::Front, "jpeg bytes");
        one.add("丙", {{Field::Mobile, "13000000003"}});
        one.sync();
        Side two(server);
        two.sync();
        two.set("甲", Field::Mobile, "13111111111");
        two.remove("乙");
        two.add("丁");
        const SyncReport sent = two.sync();
        QCOMPARE(sent.sent, 2);
        QCOMPARE(sent.deletedThere, 1);
        one.sync();
        QCOMPARE(one.names(), (QStringList{"丁", "丙", "甲"}));
        QCOMPARE(one.value("甲", Field::Mobile), QStringLiteral("13111111111"));
        QCOMPARE(CardPicture::cardsWithPictures(one.db.get()), 0);

        // The phone adds a photo and a third number to 丙.
        QByteArray text = serverCardOf(server, "丙");
        const QString href = serverCards(server).key(text);
        text.replace("END:VCARD", "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQ==\r\n"
                                  "TEL;TYPE=HOME:020-8888 7777\r\nTEL;TYPE=WORK:010-1234\r\n"
                                  "CATEGORIES:朋友\r\nEND:VCARD");
        const int status = putCard(server, href.mid(server.book().path().size()), text);
        QVERIFY2(status == 201 || status == 204, QByteArray::number(status));
        one.sync();
        one.set("丙", Field::Company, "新公司");
        one.set("丙", Field::Mobile, "13222222222");
        QCOMPARE(one.sync().sent, 1);
        const QByteArray after = serverCardOf(server, "丙");
        QVERIFY2(after.contains("PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQ=="), after);
        QVERIFY2(after.contains("020-8888 7777") && after.contains("010-1234"), after);
        QVERIFY2(after.contains("CATEGORIES:朋友") && after.contains("ORG:新公司"), after);
        QVERIFY2(after.contains("13222222222") && !after.contains("13000000003"), after);
        QVERIFY2(!after.contains("NOTE"), after); // no number twice
    }

    void deletedThereSoonAfterSent_data() { servers(); }
    // A sync keeps the token from before its own writes; a card it made and the phone then
    // deleted is not mentioned when changes since that token are asked for.
    void deletedThereSoonAfterSent() {
        START_SERVER(server);
        Side one(server);
        one.add("甲");
        one.sync();
        one.add("乙");
        one.add("丙");
        QCOMPARE(one.sync().sent, 2);
        auto phoneDeletes = [&](const QString& name) {
            const QString href = serverCards(server).key(serverCardOf(server, name));
            QVERIFY(!href.isEmpty());
            int status = 0;
            server.curl({QStringLiteral("-X"), QStringLiteral("DELETE"),
                         server.root().resolved(QUrl(href)).toString()},
                        &status);
            QVERIFY2(status == 200 || status == 204, QByteArray::number(status));
        };
        phoneDeletes("乙");
        SyncReport report = one.sync();
        QCOMPARE(report.deletedHere, 1);
        QCOMPARE(report.sent + report.received, 0);
        QCOMPARE(one.names(), (QStringList{"丙", "甲"}));
        // And after a sync that wrote nothing the token is a later one.
        phoneDeletes("丙");
        QCOMPARE(one.sync().deletedHere, 1);
        QCOMPARE(one.names(), QStringList{"甲"});
        QCOMPARE(one.sync().deletedHere + one.sync().sent, 0);
        // A sync stopped after its first card keeps the older token: the card it made is
        // noted all the same.
        one.add("丁");
        one.add("戊");
        one.hook = [](SyncEngine& engine, int done) {
            if (done == 1)
                engine.cancel();
        };
        QVERIFY_THROWS_EXCEPTION(ECardDav, one.sync());
        one.hook = nullptr;
        phoneDeletes("丁");
        report = one.sync();
        QCOMPARE(report.deletedHere, 1);
        QCOMPARE(one.names(), (QStringList{"戊", "甲"}));
        QCOMPARE(serverCards(server).size(), 2);
    }

    void conflicts_data() { servers(); }
    // Both sides changed a card: merged field by field; the same field keeps this computer's.
    void conflicts() {
        START_SERVER(server);
        Side one(server);
        one.add("赵六", {{Field::Mobile, "1"}, {Field::Email, "a@x.cn"}, {Field::Company, "旧"}});
        one.sync();
        Side two(server);
        two.sync();
        two.set("赵六", Field::Mobile, "2");
        two.set("赵六", Field::Email, "b@x.cn");
        two.sync();
        one.set("赵六", Field::Mobile, "3");
        one.set("赵六", Field::Company, "新");
        const SyncReport report = one.sync();
        QCOMPARE(report.conflicts.size(), 1);
        QCOMPARE(report.conflicts.first().field.column, Field::Mobile);
        QCOMPARE(report.conflicts.first().field.server, QStringLiteral("2"));
        QCOMPARE(report.conflicts.first().field.kept, QStringLiteral("3"));
        QVERIFY(report.text().contains(QStringLiteral("服务器“2”")));
        two.sync();
        for (Side* side : {&one, &two}) {
            QCOMPARE(side->value("赵六", Field::Mobile), QStringLiteral("3"));
            QCOMPARE(side->value("赵六", Field::Email), QStringLiteral("b@x.cn"));
            QCOMPARE(side->value("赵六", Field::Company), QStringLiteral("新"));
        }
    }

    void changedDuringTheSync_data() { servers(); }
    // The server's card changes between the listing and the upload: the 412 is answered by
    // fetching and merging, never by overwriting.
    void changedDuringTheSync() {
        START_SERVER(server);
        Side one(server);
        one.add("冯二", {{Field::Mobile, "1"}});
        one.add("陈三");
        one.sync();
        Side two(server);
        two.sync();
        two.set("陈三", Field::Position, "主任");
        two.sync();
        one.set("冯二", Field::Mobile, "2");
        // The phone's change, by curl: no event loop runs inside the sync's own.
        QByteArray text = serverCardOf(server, "冯二");
        const QString file = serverCards(server).key(text).mid(server.book().path().size());
        text.replace("END:VCARD", "EMAIL;TYPE=INTERNET:feng@x.cn\r\nEND:VCARD");
        bool changed = false;
        // After the listing: while the other card is taken.
        one.hook = [&](SyncEngine&, int done) {
            if (changed || done == 0)
                return;
            changed = true;
            const int status = putCard(server, file, text);
            QVERIFY(status == 201 || status == 204);
        };
        const SyncReport report = one.sync();
        QVERIFY(changed);
        QCOMPARE(report.sent, 1);
        QCOMPARE(one.value("冯二", Field::Email), QStringLiteral("feng@x.cn"));
        const QByteArray there = serverCardOf(server, "冯二");
        QVERIFY2(there.contains("feng@x.cn") && there.contains("TEL;TYPE=CELL:2"), there);
    }

    void deleteVersusChange_data() { servers(); }
    // A card deleted on one side and changed on the other is kept, with the change.
    void deleteVersusChange() {
        START_SERVER(server);
        Side one(server);
        one.add("孙七");
        one.add("周八");
        one.sync();
        Side two(server);
        two.sync();
        one.remove("孙七");
        two.set("孙七", Field::Mobile, "555");
        two.remove("周八");
        one.set("周八", Field::Mobile, "666");
        two.sync();
        one.sync();
        two.sync();
        for (Side* side : {&one, &two}) {
            QCOMPARE(side->names(), (QStringList{"周八", "孙七"}));
            QCOMPARE(side->value("孙七", Field::Mobile), QStringLiteral("555"));
            QCOMPARE(side->value("周八", Field::Mobile), QStringLiteral("666"));
        }
        QCOMPARE(serverCards(server).size(), 2);
    }

    void massDeleteAsksFirst_data() { servers(); }
    void massDeleteAsksFirst() {
        START_SERVER(server);
        Side one(server);
        for (int i = 0; i < 12; ++i)
            one.add(QStringLiteral("名片%1").arg(i, 2, 10, QLatin1Char('0')));
        one.sync();
        for (const QString& href : serverCards(server).keys())
            server.curl({QStringLiteral("-X"), QStringLiteral("DELETE"),
                         server.root().resolved(QUrl(href)).toString()});
        QVERIFY_THROWS_EXCEPTION(EError, one.sync(false));
        QVERIFY(one.asked);
        QCOMPARE(one.names().size(), 12);
        one.sync(true);
        QCOMPARE(one.names().size(), 0);
    }

    void wrongPassword() {
        START_SERVER_OF(server, DavServer::RadicaleHttps);
        Side one(server);
        one.add("钱九");
        one.client.setCredentials(server.user(), QStringLiteral("wrong"));
        try {
            one.sync();
            QFAIL("no error");
        } catch (const ECardDav& e) {
            QCOMPARE(e.kind(), ECardDav::WrongPassword);
            QVERIFY(opensInChinese(e.message()));
        }
        QCOMPARE(serverCards(server).size(), 0);
    }

    void serverKilledMidSync_data() {
        // Xandikos keeps its cards in git and refuses writes after a kill mid-commit.
        QTest::addColumn<DavServer::Kind>("kind");
        QTest::newRow("radicale-https") << DavServer::RadicaleHttps;
        QTest::newRow("radicale-http") << DavServer::RadicaleHttp;
    }
    // Stopped half-way, then resumed: nothing lost, nothing twice.
    void serverKilledMidSync() {
        START_SERVER(server);
        Side one(server);
        for (int i = 0; i < 40; ++i)
            one.add(QStringLiteral("卡%1").arg(i, 2, 10, QLatin1Char('0')),
                    {{Field::Mobile, QString::number(13000000000LL + i)}});
        one.hook = [&](SyncEngine&, int done) {
            if (done == 15)
                server.kill();
        };
        QVERIFY_THROWS_EXCEPTION(ECardDav, one.sync());
        one.hook = nullptr;
        QVERIFY(server.restart());
        one.set("卡03", Field::Company, "停后改的");
        one.sync();
        const QHash<QString, QByteArray> cards = serverCards(server);
        QCOMPARE(cards.size(), 40);
        QCOMPARE(one.names().size(), 40);
        QVERIFY(serverCardOf(server, "卡03").contains("停后改的"));
        Side two(server);
        two.sync();
        QCOMPARE(two.names(), one.names());
    }

    void unreadableServerCardStops_data() { servers(); }
    // A card the server holds that cannot be read stops the sync, naming it; what came
    // before it stays, and once it is mended the next sync takes the rest, none twice.
    void unreadableServerCardStops() {
        START_SERVER(server);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(putCard(server, QStringLiteral("a%1.vcf").arg(i),
                             phoneCard(QStringLiteral("ok-%1").arg(i),
                                       QStringLiteral("好%1").arg(i), QString())),
                     201);
        const QByteArray unreadable = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:bad\r\nFN:\r\n"
                                      "N:;;;;\r\nEND:VCARD\r\n";
        QCOMPARE(putCard(server, "m.vcf", unreadable), 201);
        QCOMPARE(putCard(server, "z.vcf", phoneCard("ok-z", "好z", QString())), 201);
        Side one(server);
        one.add("本机");
        int taken = 0; // the cards taken before the unreadable one, in the server's order
        one.hook = [&](SyncEngine&, int done) { taken = done; };
        try {
            one.sync();
            QFAIL("no error");
        } catch (const EError& e) {
            QVERIFY2(e.message().contains(QStringLiteral("m.vcf")), qPrintable(e.message()));
            QVERIFY(opensInChinese(e.message()));
        }
        QCOMPARE(one.names().size(), 1 + taken);
        one.hook = nullptr;
        const int mended = putCard(server, "m.vcf", phoneCard("bad", "改好", QString()));
        QVERIFY(mended == 201 || mended == 204);
        one.sync();
        QCOMPARE(one.names(), (QStringList{"好0", "好1", "好2", "好z", "改好", "本机"}));
        QCOMPARE(serverCards(server).size(), 6);
    }

    void cancelledMidSync_data() { servers(); }
    // Cancelled: stops after the card in flight, resumes later.
    void cancelledMidSync() {
        START_SERVER(server);
        Side one(server);
        Side two(server);
        for (int i = 0; i < 40; ++i)
            one.add(QStringLiteral("卡%1").arg(i, 2, 10, QLatin1Char('0')));
        one.sync();
        for (int i = 0; i < 20; ++i)
            one.add(QStringLiteral("新%1").arg(i, 2, 10, QLatin1Char('0')));
        one.hook = [](SyncEngine& engine, int done) {
            if (done == 5)
                engine.cancel();
        };
        try {
            one.sync();
            QFAIL("not cancelled");
        } catch (const ECardDav& e) {
            QCOMPARE(e.kind(), ECardDav::Cancelled);
        }
        one.hook = nullptr;
        one.sync();
        QCOMPARE(serverCards(server).size(), 60);
        two.sync();
        QCOMPARE(two.names().size(), 60);
    }

    // A book larger than the part a sync asks for at once: every card comes once, also when
    // the sync is stopped in the second part and resumed.
    void largeBookInParts() {
        START_SERVER_OF(server, DavServer::RadicaleHttp);
        server.kill();
        const int count = 620;
        for (int i = 0; i < count; ++i) {
            const QString name = QStringLiteral("人%1").arg(i, 3, 10, QLatin1Char('0'));
            QFile file(QStringLiteral("%1/p%2.vcf").arg(server.bookFolder()).arg(i));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(phoneCard(QStringLiteral("phone-%1").arg(i), name, QString()));
        }
        QVERIFY(server.restart());
        Side one(server);
        one.hook = [](SyncEngine& engine, int done) {
            if (done == 550)
                engine.cancel();
        };
        QVERIFY_THROWS_EXCEPTION(ECardDav, one.sync());
        QCOMPARE(one.names().size(), 550);
        one.hook = nullptr;
        QCOMPARE(one.sync().received, count - 550);
        QStringList names = one.names();
        QCOMPARE(names.size(), count);
        QCOMPARE(names.removeDuplicates(), 0);
    }

    // A synced file's backup is one of ours: its sync tables are known, its password absent.
    void syncedFileBacksUp() {
        START_SERVER_OF(server, DavServer::RadicaleHttps);
        Side one(server);
        one.add("吴十");
        one.sync();
        one.db.close();
        QVERIFY(QFile::copy(one.folder.database(), one.folder.backup()));
        QString reason;
        QVERIFY2(isRestorableBackup(one.folder.backup(), QString::fromUtf8(kStoredConnectionString),
                                    &reason),
                 qPrintable(reason));
        QFile file(one.folder.database());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains(server.password().toUtf8()));
    }

    // The tool: setup, then sync with the password from the environment.
    void tool() {
        START_SERVER_OF(server, DavServer::RadicaleHttps);
        ProgramFolder folder;
        TestSupport::exec(folder.database(), "insert into zl (姓名, 手机) values ('郑一', '123')");
        auto run = [&](const QStringList& args, QString* out = nullptr) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("QUEMBE_SYNC_PASSWORD"), server.password());
            p.setProcessEnvironment(env);
            p.start(QStringLiteral(QUEMBE_CARDS_TOOL),
                    QStringList{QStringLiteral("--database"), folder.database()} + args);
            p.waitForFinished(60000);
            if (out)
                *out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
            return p.exitCode();
        };
        QString out;
        QCOMPARE(run({"sync-setup", "--server", server.root().toString(), "--user", server.user(),
                      "--trust", QString::fromLatin1(server.fingerprint())},
                     &out),
                 0);
        QVERIFY2(out.contains(server.book().toString()), qPrintable(out));
        QCOMPARE(run({"sync"}, &out), 0);
        QVERIFY2(out.contains(QStringLiteral("已发送 1 张")), qPrintable(out));
        QCOMPARE(serverCards(server).size(), 1);
        QCOMPARE(run({"sync", "extra"}), 2);
        QCOMPARE(run({"sync-setup"}), 2);
        // Untrusted certificate: a Chinese message and status 1.
        QCOMPARE(run({"sync-setup", "--server", server.root().toString(), "--user", server.user()},
                     &out),
                 1);
        QVERIFY2(out.contains(QStringLiteral("证书")), qPrintable(out));
    }

    void awkwardTextRoundTrips_data() { servers(); }
    void awkwardTextRoundTrips() {
        START_SERVER(server);
        const QString name = QStringLiteral("𠀀𪚥龘 Ω😀");
        const QString notes = QStringLiteral("第一行\n第二行;分号,逗号\\反斜杠\n\n😀 末行 ");
        const QString company = QStringLiteral("A;B,C\\D 㐀");
        Side one(server);
        one.add(name, {{Field::Notes, notes},
                       {Field::Company, company},
                       {Field::HomeAddress, "北京;朝阳,三里屯"}});
        one.sync();
        Side two(server);
        two.sync();
        QCOMPARE(two.names(), QStringList{name});
        QCOMPARE(two.value(name, Field::Notes), notes);
        QCOMPARE(two.value(name, Field::Company), company);
        QCOMPARE(two.value(name, Field::HomeAddress), QStringLiteral("北京;朝阳,三里屯"));
        // Back again after a change there: still the same, and nothing sent twice.
        two.set(name, Field::Position, "经理");
        two.sync();
        const SyncReport report = one.sync();
        QCOMPARE(report.received, 1);
        QCOMPARE(one.value(name, Field::Notes), notes);
        QCOMPARE(one.value(name, Field::Position), QStringLiteral("经理"));
        QCOMPARE(one.sync().sent, 0);
    }
};

QUEMBE_TEST_SHARDED_MAIN(TestSyncEngine, QApplication)
#include "tst_syncengine.moc"
