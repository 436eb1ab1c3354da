// The CardDAV client against real servers started for each case: Radicale over https and
// over http with a password, and Xandikos, which checks requests more strictly.
#include "davservers.h"
#include "testshards.h"
#include "testsupport.h"

#include "sync/carddavclient.h"

#include <QTest>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <memory>

using namespace Sync;
using namespace TestSupport;

Q_DECLARE_METATYPE(TestSupport::DavServer::Kind)

namespace {

QByteArray vcard(const QString& uid, const QString& name, const QString& extra = QString()) {
    return QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%1\r\nFN:%2\r\nN:%2;;;;\r\n%3"
                          "END:VCARD\r\n")
        .arg(uid, name, extra)
        .toUtf8();
}

// The unfolded lines of a card, without the ones a server may add or rewrite.
QStringList linesOf(const QByteArray& card) {
    QString text = QString::fromUtf8(card);
    text.replace(QLatin1String("\r\n "), QString());
    QStringList lines;
    for (const QString& line : text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        if (!line.startsWith(QLatin1String("PRODID")) && !line.startsWith(QLatin1String("REV")))
            lines.append(line);
    lines.sort();
    return lines;
}

// A server of the row's kind with a client logged in to it; skips when it cannot run.
struct Fixture {
    std::unique_ptr<DavServer> server;
    std::unique_ptr<CardDavClient> client;
};

#define START_SERVER(f)                                                                            \
    QFETCH(DavServer::Kind, kind);                                                                 \
    Fixture f;                                                                                     \
    f.server = std::make_unique<DavServer>(kind);                                                  \
    if (!f.server->problem().isEmpty())                                                            \
        QSKIP(qPrintable(f.server->problem()));                                                    \
    f.client = std::make_unique<CardDavClient>();                                                  \
    f.client->setCredentials(f.server->user(), f.server->password());                              \
    f.client->setTrustedFingerprint(f.server->fingerprint());

ECardDav::Kind failureOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const ECardDav& e) {
        if (!opensInChinese(e.message()) || technical(e.message()).isEmpty())
            qWarning("not a Chinese message with its technical text: %s", qPrintable(e.message()));
        return e.kind();
    }
    QTest::qFail("no ECardDav was thrown", __FILE__, __LINE__);
    return ECardDav::Cancelled;
}

QHash<QString, QByteArray> listed(CardDavClient& client, const QUrl& book) {
    QHash<QString, QByteArray> cards;
    client.listCards(book, [&](const CardRef& c) { cards.insert(c.href, c.etag); });
    return cards;
}

} // namespace

class TestCardDav : public QObject {
    Q_OBJECT

private:
    void servers(bool withPassword = false) {
        QTest::addColumn<DavServer::Kind>("kind");
        QTest::newRow("radicale-https") << DavServer::RadicaleHttps;
        QTest::newRow("radicale-http") << DavServer::RadicaleHttp;
        QTest::newRow("radicale-digest") << DavServer::RadicaleDigest;
        if (!withPassword)
            QTest::newRow("xandikos") << DavServer::Xandikos;
    }

private slots:
    void discovery_data() { servers(); }
    // Whatever the user types, the one address book is found.
    void discovery() {
        START_SERVER(f);
        const QUrl root = f.server->root();
        for (const QString& typed :
             {f.server->host(), root.toString(), f.server->book().toString()}) {
            const Discovery found = f.client->discover(typed);
            QCOMPARE(found.books.size(), 1);
            QCOMPARE(found.books.first().url, f.server->book());
            QVERIFY(found.books.first().supportsSync);
            QVERIFY(!found.books.first().syncToken.isEmpty());
        }
        QVERIFY(!CardDavClient::isInsecure(root));
        QVERIFY(CardDavClient::isInsecure(QUrl(QStringLiteral("http://example.org/"))));

        // A path with nothing there is no address book.
        const QUrl wrong = f.server->book().resolved(QUrl(QStringLiteral("../nothing/")));
        QCOMPARE(failureOf([&] { f.client->bookInfo(wrong); }), ECardDav::NotCardDav);
    }

    void cards_data() { servers(); }
    // Uploads several at once, lists, fetches in batches and one by one, and every write
    // that names a version the server no longer has is refused with 412.
    void cards() {
        START_SERVER(f);
        const QUrl book = f.server->book();
        QVector<Upload> uploads;
        for (int i = 0; i < 40; ++i) {
            const QString uid = QStringLiteral("card-%1").arg(i);
            uploads.append({CardDavClient::newCardHref(book, uid),
                            vcard(uid, QStringLiteral("张三%1 😀𠮷").arg(i),
                                  QStringLiteral("NOTE:a\\, b\\; c\\\\ d\\n第二行\r\n")),
                            {}});
        }
        QHash<QString, QByteArray> written;
        f.client->writeAll(book, uploads, [&](int index, const WriteResult& r) {
            QCOMPARE(r.outcome, WriteResult::Done);
            written.insert(uploads.at(index).href, r.etag);
        });
        QCOMPARE(written.size(), uploads.size());

        const QHash<QString, QByteArray> onServer = listed(*f.client, book);
        QCOMPARE(onServer.size(), uploads.size());
        for (auto it = written.begin(); it != written.end(); ++it)
            if (!it.value().isEmpty())
                QCOMPARE(onServer.value(it.key()), it.value());

        QStringList hrefs = onServer.keys();
        const QString gone = CardDavClient::newCardHref(book, QStringLiteral("never-there"));
        hrefs.append(gone);
        QHash<QString, FetchedCard> fetched;
        f.client->fetchCards(
            book, hrefs, [&](const FetchedCard& c) { fetched.insert(c.href, c); }, 7);
        QCOMPARE(fetched.size(), hrefs.size());
        QVERIFY(fetched.value(gone).missing);
        for (const Upload& u : uploads) {
            QCOMPARE(linesOf(fetched.value(u.href).vcard), linesOf(u.vcard));
            QCOMPARE(fetched.value(u.href).etag, onServer.value(u.href));
        }
        const FetchedCard one = f.client->fetchCard(book, uploads.first().href);
        QCOMPARE(linesOf(one.vcard), linesOf(uploads.first().vcard));
        QVERIFY(f.client->fetchCard(book, gone).missing);

        // A new card where one exists, a change against an old version, a stale delete.
        const Upload& first = uploads.first();
        QCOMPARE(f.client->write(book, {first.href, first.vcard, {}}).outcome,
                 WriteResult::PreconditionFailed);
        const QByteArray oldEtag = onServer.value(first.href);
        const WriteResult changed = f.client->write(
            book, {first.href, vcard(QStringLiteral("card-0"), QStringLiteral("李四")), oldEtag});
        QCOMPARE(changed.outcome, WriteResult::Done);
        QCOMPARE(f.client->write(book, {first.href, first.vcard, oldEtag}).outcome,
                 WriteResult::PreconditionFailed);
        QCOMPARE(f.client->write(book, {first.href, QByteArray(), oldEtag}).outcome,
                 WriteResult::PreconditionFailed);
        const QByteArray newEtag = listed(*f.client, book).value(first.href);
        QCOMPARE(f.client->write(book, {first.href, QByteArray(), newEtag}).outcome,
                 WriteResult::Done);
        QCOMPARE(listed(*f.client, book).size(), uploads.size() - 1);
        QCOMPARE(f.client->write(book, {first.href, QByteArray(), newEtag}).outcome,
                 WriteResult::NotFound);

        // A card the server cannot read is refused on its own; the client goes on.
        const WriteResult broken =
            f.client->write(book, {CardDavClient::newCardHref(book, QStringLiteral("broken")),
                                   "BEGIN:VCARD\r\nFN:x\r\n",
                                   {}});
        QCOMPARE(broken.outcome, WriteResult::Rejected);
        QVERIFY(!listed(*f.client, book)
                     .contains(CardDavClient::newCardHref(book, QStringLiteral("broken"))));
    }

    void changes_data() { servers(); }
    // Another client adds, changes and deletes cards; sync-collection reports just those,
    // and a token the server does not know falls back to a full listing.
    void changes() {
        START_SERVER(f);
        const QUrl book = f.server->book();
        for (const QString& uid : {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")})
            f.client->write(book, {CardDavClient::newCardHref(book, uid), vcard(uid, uid), {}});
        QStringList changed, removed;
        auto onChanged = [&](const CardRef& c) { changed.append(c.href); };
        auto onRemoved = [&](const QString& href) { removed.append(href); };
        const SyncDelta first = f.client->syncChanges(book, {}, onChanged, onRemoved);
        QVERIFY(first.full);
        QCOMPARE(changed.size(), 3);
        QVERIFY(!first.token.isEmpty());

        // The second client: curl.
        const QString a = CardDavClient::newCardHref(book, QStringLiteral("a"));
        const QString b = CardDavClient::newCardHref(book, QStringLiteral("b"));
        // A name another program chose, with Chinese and a space in it.
        const QString d = book.path() + QStringLiteral("%E5%BC%A0%20%E4%B8%89.vcf");
        const QUrl root = f.server->root();
        int status = 0;
        f.server->curl({QStringLiteral("-X"), QStringLiteral("PUT"), QStringLiteral("-H"),
                        QStringLiteral("Content-Type: text/vcard"), QStringLiteral("--data-binary"),
                        QString::fromUtf8(vcard(QStringLiteral("d"), QStringLiteral("新"))),
                        root.resolved(QUrl(d)).toString(QUrl::FullyEncoded)},
                       &status);
        QCOMPARE(status / 100, 2);
        f.server->curl({QStringLiteral("-X"), QStringLiteral("PUT"), QStringLiteral("-H"),
                        QStringLiteral("Content-Type: text/vcard"), QStringLiteral("--data-binary"),
                        QString::fromUtf8(vcard(QStringLiteral("a"), QStringLiteral("改"))),
                        root.resolved(QUrl(a)).toString(QUrl::FullyEncoded)},
                       &status);
        QCOMPARE(status / 100, 2);
        f.server->curl({QStringLiteral("-X"), QStringLiteral("DELETE"),
                        root.resolved(QUrl(b)).toString(QUrl::FullyEncoded)},
                       &status);
        QCOMPARE(status / 100, 2);

        changed.clear();
        const SyncDelta second = f.client->syncChanges(book, first.token, onChanged, onRemoved);
        QVERIFY(!second.full);
        changed.sort();
        QStringList expected{a, d};
        expected.sort();
        QCOMPARE(changed, expected);
        QCOMPARE(removed, QStringList{b});
        QVERIFY(second.token != first.token);
        int fetched = 0;
        f.client->fetchCards(book, changed, [&](const FetchedCard& c) {
            QVERIFY(!c.missing);
            QVERIFY(c.vcard.contains(c.href == d ? "FN:新" : "FN:改"));
            ++fetched;
        });
        QCOMPARE(fetched, 2);
        QVERIFY(!f.client->fetchCard(book, d).missing);
        QVERIFY(listed(*f.client, book).contains(d));

        // Nothing new since: nothing listed, and the book's ctag stays as it was.
        changed.clear();
        removed.clear();
        const QByteArray ctag = f.client->bookInfo(book).ctag;
        QVERIFY(!ctag.isEmpty());
        const SyncDelta third = f.client->syncChanges(book, second.token, onChanged, onRemoved);
        QVERIFY(changed.isEmpty() && removed.isEmpty() && !third.token.isEmpty());
        QCOMPARE(f.client->bookInfo(book).ctag, ctag);

        const QByteArray bogus = root.toString().toUtf8() + "sync/0123456789abcdef";
        const SyncDelta fallback = f.client->syncChanges(book, bogus, onChanged, onRemoved);
        QVERIFY(fallback.full);
        QCOMPARE(changed.size(), 3);
    }

    void wrongPassword_data() { servers(true); }
    void wrongPassword() {
        START_SERVER(f);
        f.client->setCredentials(f.server->user(), QStringLiteral("wrong"));
        QCOMPARE(failureOf([&] { f.client->discover(f.server->root().toString()); }),
                 ECardDav::WrongPassword);
        CardDavClient anonymous;
        anonymous.setTrustedFingerprint(f.server->fingerprint());
        QCOMPARE(failureOf([&] { anonymous.listCards(f.server->book(), [](const CardRef&) {}); }),
                 ECardDav::WrongPassword);
        f.client->setCredentials(f.server->user(), f.server->password());
        QCOMPARE(f.client->discover(f.server->root().toString()).books.size(), 1);
    }

    // A certificate made here is not trusted until its fingerprint is passed in.
    void certificate() {
        DavServer server(DavServer::RadicaleHttps);
        if (!server.problem().isEmpty())
            QSKIP(qPrintable(server.problem()));
        CardDavClient client;
        client.setCredentials(server.user(), server.password());
        QByteArray reported;
        try {
            client.discover(server.host());
            QFAIL("an untrusted certificate was accepted");
        } catch (const ECardDav& e) {
            QCOMPARE(e.kind(), ECardDav::UntrustedCertificate);
            reported = e.fingerprint();
            QVERIFY(e.message().contains(QString::fromLatin1(reported)));
        }
        QCOMPARE(reported, server.fingerprint());
        client.setTrustedFingerprint(QByteArray(64, 'a'));
        QCOMPARE(failureOf([&] { client.discover(server.host()); }),
                 ECardDav::UntrustedCertificate);
        client.setTrustedFingerprint(reported.toLower().replace(":", ""));
        QCOMPARE(client.discover(server.host()).books.size(), 1);
    }

    void serverKilled_data() { servers(); }
    // The server stops answering and dies while a request waits: the call ends with a
    // message instead of hanging, and so does every later one.
    void serverKilled() {
        START_SERVER(f);
        const QUrl book = f.server->book();
        f.client->write(book, {CardDavClient::newCardHref(book, QStringLiteral("x")),
                               vcard(QStringLiteral("x"), QStringLiteral("x")),
                               {}});
        f.client->setTimeout(20000);
        ::kill(pid_t(f.server->processId()), SIGSTOP);
        QTimer::singleShot(500, [&] { f.server->kill(); });
        const ECardDav::Kind lost = failureOf([&] { listed(*f.client, book); });
        QVERIFY2(lost == ECardDav::ConnectionLost || lost == ECardDav::Refused,
                 QByteArray::number(int(lost)));
        QCOMPARE(failureOf([&] { listed(*f.client, book); }), ECardDav::Refused);

        // A server that holds the connection open but never answers meets the timeout.
        DavServer frozen(DavServer::Xandikos);
        if (!frozen.problem().isEmpty())
            QSKIP(qPrintable(frozen.problem()));
        ::kill(pid_t(frozen.processId()), SIGSTOP);
        CardDavClient client;
        client.setTimeout(1000);
        QCOMPARE(failureOf([&] { client.bookInfo(frozen.book()); }), ECardDav::Timeout);
    }

    // The client lives on a worker thread that runs no event loop of its own.
    void workerThread() {
        DavServer server(DavServer::Xandikos);
        if (!server.problem().isEmpty())
            QSKIP(qPrintable(server.problem()));
        int books = 0;
        QString error;
        std::unique_ptr<QThread> worker(QThread::create([&] {
            try {
                CardDavClient client;
                books = int(client.discover(server.host()).books.size());
                client.write(server.book(),
                             {CardDavClient::newCardHref(server.book(), QStringLiteral("w")),
                              vcard(QStringLiteral("w"), QStringLiteral("w")),
                              {}});
            } catch (const ECardDav& e) {
                error = e.message();
            }
        }));
        worker->start();
        QVERIFY(worker->wait(60000));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(books, 1);
    }
};

QUEMBE_TEST_SHARDED_MAIN(TestCardDav, QApplication)
#include "tst_carddav.moc"
