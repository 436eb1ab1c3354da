// The CardDAV client against a server that misbehaves: broken XML, answers without end,
// redirect loops, cut connections, Digest logins. A small server in the test plays each.
#include "testsupport.h"

#include "sync/carddavclient.h"
#include "sync/davauth.h"

#include <QCryptographicHash>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <chrono>
#include <functional>
#include <thread>

using namespace Sync;
using namespace TestSupport;

namespace {

struct Request {
    QByteArray method;
    QByteArray path;
    QHash<QByteArray, QByteArray> headers; ///< names in lower case
    QByteArray body;
};

/// Answers each request on 127.0.0.1 with what `answer` writes to the socket.
class FakeServer : public QObject {
public:
    using Answer = std::function<void(QTcpSocket*, const Request&)>;
    explicit FakeServer(Answer answer)
        : m_answer(std::move(answer)) {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        });
    }
    QString url(const QString& path = QStringLiteral("/")) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }
    int port() const { return m_server.serverPort(); }
    QList<Request> requests;

private:
    void read(QTcpSocket* socket) {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        for (;;) {
            const int end = int(buffer.indexOf("\r\n\r\n"));
            if (end < 0)
                return;
            Request r;
            const QList<QByteArray> lines = buffer.left(end).split('\n');
            const QList<QByteArray> first = lines.first().trimmed().split(' ');
            r.method = first.value(0);
            r.path = first.value(1);
            for (int i = 1; i < lines.size(); ++i) {
                const int colon = int(lines[i].indexOf(':'));
                r.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                 lines[i].mid(colon + 1).trimmed());
            }
            const int length = r.headers.value("content-length").toInt();
            if (buffer.size() < end + 4 + length)
                return;
            r.body = buffer.mid(end + 4, length);
            buffer.remove(0, end + 4 + length);
            requests.append(r);
            m_answer(socket, r);
        }
    }

    Answer m_answer;
    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
};

void reply(QTcpSocket* socket, const QByteArray& status, const QByteArray& body,
           const QByteArray& headers = QByteArray()) {
    socket->write("HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size()) +
                  "\r\n" + headers + "\r\n" + body);
}

const QByteArray kMultistatus = "207 Multi-Status";
const QByteArray kXmlType = "Content-Type: application/xml\r\n";

QByteArray book(const QByteArray& href) {
    return "<d:response><d:href>" + href +
           "</d:href><d:propstat><d:prop><d:resourcetype><d:collection/><c:addressbook/>"
           "</d:resourcetype><d:displayname>书</d:displayname></d:prop>"
           "<d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>";
}

QByteArray multistatus(const QByteArray& inner) {
    return "<?xml version=\"1.0\"?><d:multistatus xmlns:d=\"DAV:\" "
           "xmlns:c=\"urn:ietf:params:xml:ns:carddav\">" +
           inner + "</d:multistatus>";
}

ECardDav failure(const std::function<void()>& work) {
    try {
        work();
    } catch (const ECardDav& e) {
        return e;
    }
    return ECardDav(ECardDav::Cancelled, QUrl(), QStringLiteral("no error was thrown"), -1);
}

#define EXPECT_FAILURE(work, expected)                                                             \
    do {                                                                                           \
        const ECardDav e = failure([&] { work; });                                                 \
        QVERIFY2(e.status() != -1, "no error was thrown");                                         \
        QVERIFY2(e.kind() == (expected), qPrintable(e.message()));                                 \
        QVERIFY2(opensInChinese(e.message()), qPrintable(e.message()));                            \
        QVERIFY2(!technical(e.message()).isEmpty(), qPrintable(e.message()));                      \
    } while (false)

} // namespace

class TestCardDavHostile : public QObject {
    Q_OBJECT

private slots:
    // Broken XML, a web page instead of a multistatus, a server error: each its own message.
    void badAnswers() {
        FakeServer broken([](QTcpSocket* s, const Request&) {
            reply(s, kMultistatus, multistatus(book("/b/")).replace("</d:response>", "</d:wrong>"),
                  kXmlType);
        });
        CardDavClient client;
        EXPECT_FAILURE(client.bookInfo(QUrl(broken.url(QStringLiteral("/b/")))),
                       ECardDav::Malformed);

        FakeServer cutShort([](QTcpSocket* s, const Request&) {
            reply(s, kMultistatus, multistatus(book("/b/")).left(120), kXmlType);
        });
        EXPECT_FAILURE(client.bookInfo(QUrl(cutShort.url(QStringLiteral("/b/")))),
                       ECardDav::Malformed);

        FakeServer web([](QTcpSocket* s, const Request&) {
            reply(s, "200 OK", "<html><body>Welcome</body></html>", "Content-Type: text/html\r\n");
        });
        EXPECT_FAILURE(client.discover(web.url()), ECardDav::NotCardDav);

        FakeServer failing(
            [](QTcpSocket* s, const Request&) { reply(s, "503 Service Unavailable", "down"); });
        const ECardDav e = failure([&] { client.listCards(QUrl(failing.url()), {}); });
        QCOMPARE(e.kind(), ECardDav::ServerError);
        QCOMPARE(e.status(), 503);
        QVERIFY(e.message().contains(QLatin1String("503")));
    }

    // An answer without end, or one card of many megabytes, stops at the limit.
    void oversize() {
        qint64 sent = 0;
        FakeServer endless([&](QTcpSocket* s, const Request&) {
            s->write("HTTP/1.1 207 Multi-Status\r\nContent-Length: 1073741824\r\n\r\n"
                     "<d:multistatus xmlns:d=\"DAV:\">");
            const QByteArray entry = "<d:response><d:href>/b/x.vcf</d:href><d:status>HTTP/1.1 "
                                     "404 Not Found</d:status></d:response>";
            QByteArray block;
            while (block.size() < 64 * 1024)
                block += entry;
            auto more = [s, block, &sent] {
                if (s->bytesToWrite() < 256 * 1024 && sent < 1073741824) {
                    s->write(block);
                    sent += block.size();
                }
            };
            connect(s, &QTcpSocket::bytesWritten, s, more);
            more();
        });
        CardDavClient client;
        client.setLimits(4 * 1024 * 1024, 1024 * 1024);
        EXPECT_FAILURE(client.listCards(QUrl(endless.url(QStringLiteral("/b/"))), {}),
                       ECardDav::TooLarge);
        QVERIFY(sent < 64 * 1024 * 1024);

        FakeServer bigCard([](QTcpSocket* s, const Request&) {
            reply(s, kMultistatus,
                  multistatus("<d:response><d:href>/b/x.vcf</d:href><d:propstat><d:prop>"
                              "<d:getetag>\"1\"</d:getetag><c:address-data>" +
                              QByteArray(2 * 1024 * 1024, 'x') +
                              "</c:address-data></d:prop><d:status>HTTP/1.1 200 OK</d:status>"
                              "</d:propstat></d:response>"),
                  kXmlType);
        });
        EXPECT_FAILURE(client.fetchCards(QUrl(bigCard.url(QStringLiteral("/b/"))),
                                         {QStringLiteral("/b/x.vcf")}, {}),
                       ECardDav::TooLarge);
    }

    // Redirects: followed on the same server, refused in a loop or to another host.
    void redirects() {
        FakeServer loop([](QTcpSocket* s, const Request& r) {
            reply(s, "301 Moved Permanently", {}, "Location: " + r.path + "\r\n");
        });
        CardDavClient client;
        EXPECT_FAILURE(client.bookInfo(QUrl(loop.url())), ECardDav::TooManyRedirects);
        QCOMPARE(loop.requests.size(), 6);

        FakeServer target([](QTcpSocket* s, const Request& r) {
            reply(s, kMultistatus, multistatus(book(r.path)), kXmlType);
        });
        const QByteArray elsewhere =
            QStringLiteral("http://localhost:%1/b/").arg(target.port()).toUtf8();
        FakeServer away([&](QTcpSocket* s, const Request& r) {
            if (r.path == "/")
                reply(s, "307 Temporary Redirect", {}, "Location: /here/\r\n");
            else
                reply(s, "301 Moved Permanently", {}, "Location: " + elsewhere + "\r\n");
        });
        const ECardDav e = failure([&] { client.bookInfo(QUrl(away.url())); });
        QCOMPARE(e.kind(), ECardDav::RedirectRefused);
        QCOMPARE(e.url().toString().toUtf8(), elsewhere);
        QCOMPARE(target.requests.size(), 0);
        QCOMPARE(away.requests.size(), 2);
        QCOMPARE(away.requests.at(1).method, QByteArray("PROPFIND"));

        client.setAllowOtherHosts(true);
        QCOMPARE(client.bookInfo(QUrl(away.url())).displayName, QStringLiteral("书"));
        QCOMPARE(target.requests.size(), 1);
        QCOMPARE(target.requests.first().method, QByteArray("PROPFIND"));
    }

    // A connection cut half way, a server that never answers, nobody listening, plain http
    // beyond this computer: each a message, none a hang.
    void connections() {
        FakeServer cut([](QTcpSocket* s, const Request&) {
            s->write("HTTP/1.1 207 Multi-Status\r\nContent-Length: 5000\r\n\r\n<d:multistatus ");
            s->flush();
            s->abort();
        });
        CardDavClient client;
        EXPECT_FAILURE(client.listCards(QUrl(cut.url()), {}), ECardDav::ConnectionLost);

        FakeServer silent([](QTcpSocket*, const Request&) {});
        client.setTimeout(500);
        EXPECT_FAILURE(client.listCards(QUrl(silent.url()), {}), ECardDav::Timeout);

        const int port = freePortHere();
        EXPECT_FAILURE(client.discover(QStringLiteral("127.0.0.1:%1").arg(port)),
                       ECardDav::Refused);
        EXPECT_FAILURE(client.discover(QStringLiteral("http://card.example.invalid/")),
                       ECardDav::Insecure);
        EXPECT_FAILURE(client.discover(QStringLiteral("https://card.example.invalid/")),
                       ECardDav::HostNotFound);
    }

    // A login by Digest: the right password passes, a wrong one is told apart.
    void digest() {
        const QByteArray realm = "cards", nonce = "5a1b2c3d";
        FakeServer server([&](QTcpSocket* s, const Request& r) {
            const QByteArray auth = r.headers.value("authorization");
            QHash<QByteArray, QByteArray> p;
            static const QRegularExpression pair(QStringLiteral("(\\w+)=\"?([^\",]*)\"?"));
            for (auto m = pair.globalMatch(QString::fromLatin1(auth)); m.hasNext();) {
                const auto one = m.next();
                p.insert(one.captured(1).toLatin1(), one.captured(2).toLatin1());
            }
            auto md5 = [](const QByteArray& t) {
                return QCryptographicHash::hash(t, QCryptographicHash::Md5).toHex();
            };
            const QByteArray ha1 = md5("bob:" + realm + ":s3cret");
            const QByteArray ha2 = md5(r.method + ":" + p.value("uri"));
            const QByteArray expected = md5(ha1 + ":" + nonce + ":" + p.value("nc") + ":" +
                                            p.value("cnonce") + ":" + p.value("qop") + ":" + ha2);
            if (auth.startsWith("Digest ") && p.value("response") == expected)
                reply(s, kMultistatus, multistatus(book(r.path)), kXmlType);
            else
                reply(s, "401 Unauthorized", {},
                      "WWW-Authenticate: Digest realm=\"" + realm + "\", nonce=\"" + nonce +
                          "\", qop=\"auth\", algorithm=MD5\r\n");
        });
        CardDavClient client;
        client.setCredentials(QStringLiteral("bob"), QStringLiteral("s3cret"));
        QCOMPARE(client.bookInfo(QUrl(server.url(QStringLiteral("/b/")))).displayName,
                 QStringLiteral("书"));
        CardDavClient wrong;
        wrong.setCredentials(QStringLiteral("bob"), QStringLiteral("nope"));
        EXPECT_FAILURE(wrong.bookInfo(QUrl(server.url(QStringLiteral("/b/")))),
                       ECardDav::WrongPassword);
    }

    // The answer to a Digest challenge as RFC 7616's own example has it (MD5 and SHA-256), a
    // session variant, and a Chinese password hashed as UTF-8 (Qt's own answer uses Latin-1).
    void digestAnswers() {
        const QByteArray challenge =
            "Basic realm=\"x\", Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", "
            "algorithm=%1, nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", "
            "opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"";
        const QByteArray cnonce = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";
        auto answer = [&](const QByteArray& algorithm, const QString& password) {
            const std::optional<DigestChallenge> c =
                digestChallenge(QByteArray(challenge).replace("%1", algorithm));
            if (!c)
                return QByteArray();
            return digestAuthorization(*c, QStringLiteral("Mufasa"), password, "GET",
                                       "/dir/index.html", 1, cnonce);
        };
        const QString life = QStringLiteral("Circle of Life");
        QVERIFY(answer("MD5", life).contains("response=\"8ca523f5e9506fed4657c9700eebdbec\""));
        QVERIFY(answer("SHA-256", life)
                    .contains("response=\"753927fa0e85d155564e2e272a28d1802ca10"
                              "daf4496794697cf8db5856cb6c1\""));
        const QByteArray md5 = answer("MD5", life);
        QVERIFY(md5.contains("qop=auth, nc=00000001") && md5.contains("opaque=\"FQhe/"));
        QVERIFY(answer("MD5-sess", life) != md5 && !answer("MD5-sess", life).isEmpty());
        QVERIFY(answer("SHA-512-256", life).isEmpty()); // not answered: Qt's turn

        auto md5Hex = [](const QByteArray& t) {
            return QCryptographicHash::hash(t, QCryptographicHash::Md5).toHex();
        };
        const QByteArray ha1 = md5Hex("Mufasa:http-auth@example.org:" + QByteArray("密码"));
        const QByteArray ha2 = md5Hex("GET:/dir/index.html");
        QVERIFY(
            answer("MD5", QStringLiteral("密码"))
                .contains(md5Hex(ha1 + ":7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v:00000001:" +
                                 cnonce + ":auth:" + ha2)));
    }

    // Sync tokens: a 409 for an old token starts over, and a truncated answer (507 on the
    // collection) is continued from the token it gave.
    void syncTokens() {
        FakeServer server([](QTcpSocket* s, const Request& r) {
            if (r.body.contains("<d:sync-token>old</d:sync-token>"))
                return reply(s, "409 Conflict", "<d:error xmlns:d=\"DAV:\"/>");
            const bool rest = r.body.contains("<d:sync-token>half</d:sync-token>");
            const QByteArray card = rest ? "/b/2.vcf" : "/b/1.vcf";
            QByteArray inner = "<d:response><d:href>" + card +
                               "</d:href><d:propstat><d:prop><d:getetag>\"e\"</d:getetag>"
                               "</d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat>"
                               "</d:response>";
            if (!rest)
                inner += "<d:response><d:href>/b/</d:href><d:status>HTTP/1.1 507 Insufficient "
                         "Storage</d:status></d:response>";
            inner += "<d:sync-token>" + QByteArray(rest ? "whole" : "half") + "</d:sync-token>";
            reply(s, kMultistatus, multistatus(inner), kXmlType);
        });
        CardDavClient client;
        QStringList changed;
        const SyncDelta delta = client.syncChanges(
            QUrl(server.url(QStringLiteral("/b/"))), "old",
            [&](const CardRef& c) { changed.append(c.href); }, [](const QString&) {});
        QVERIFY(delta.full);
        QCOMPARE(delta.token, QByteArray("whole"));
        QCOMPARE(changed, (QStringList{QStringLiteral("/b/1.vcf"), QStringLiteral("/b/2.vcf")}));
        QCOMPARE(server.requests.size(), 3);
    }

    // Writes go out several at once (this server answers only when four wait), each result
    // reaches its own upload, and a failing one is thrown after the rest are reported.
    void parallelWrites() {
        QList<QPair<QPointer<QTcpSocket>, Request>> held;
        bool eager = false;
        FakeServer server([&](QTcpSocket* s, const Request& r) {
            held.append({s, r});
            eager = eager || r.path.contains("broken");
            if (held.size() < 4 && !eager)
                return;
            for (const auto& [socket, request] : held) {
                if (!socket)
                    continue;
                if (request.path.contains("taken"))
                    reply(socket, "412 Precondition Failed", {});
                else if (request.path.contains("unreadable"))
                    reply(socket, kMultistatus,
                          multistatus("<d:response><d:href>" + request.path +
                                      "</d:href><d:status>HTTP/1.1 412 Precondition Failed"
                                      "</d:status></d:response>"),
                          kXmlType);
                else if (request.path.contains("broken"))
                    reply(socket, "500 Internal Server Error", "oops");
                else if (request.method == "DELETE")
                    reply(socket, "404 Not Found", {});
                else
                    reply(socket, "201 Created", {}, "ETag: \"" + request.path + "\"\r\n");
            }
            held.clear();
        });
        CardDavClient client;
        client.setTimeout(5000);
        const QUrl book(server.url(QStringLiteral("/b/")));
        QVector<Upload> uploads;
        for (int i = 0; i < 8; ++i)
            uploads.append({QStringLiteral("/b/%1%2.vcf")
                                .arg(i == 5   ? "taken"
                                     : i == 3 ? "unreadable"
                                              : "")
                                .arg(i),
                            i == 6 ? QByteArray() : QByteArray("BEGIN:VCARD\r\n"), "\"old\""});
        QMap<int, WriteResult> results;
        client.writeAll(book, uploads, [&](int i, const WriteResult& r) { results.insert(i, r); });
        QCOMPARE(results.size(), 8);
        QCOMPARE(results.value(0).etag, QByteArray("\"/b/0.vcf\""));
        QCOMPARE(results.value(5).outcome, WriteResult::PreconditionFailed);
        QCOMPARE(results.value(3).outcome, WriteResult::Rejected);
        QVERIFY(results.value(3).detail.contains(QLatin1String("412")));
        QCOMPARE(results.value(6).outcome, WriteResult::NotFound);
        QCOMPARE(results.value(7).etag, QByteArray("\"/b/7.vcf\""));
        QCOMPARE(server.requests.value(6).method, QByteArray("DELETE"));
        QCOMPARE(server.requests.value(0).headers.value("if-match"), QByteArray("\"old\""));

        server.requests.clear();
        uploads = {{QStringLiteral("/b/a.vcf"), "BEGIN:VCARD\r\n", {}},
                   {QStringLiteral("/b/broken.vcf"), "BEGIN:VCARD\r\n", {}},
                   {QStringLiteral("/b/c.vcf"), "BEGIN:VCARD\r\n", {}}};
        results.clear();
        const ECardDav e = failure([&] {
            client.writeAll(book, uploads,
                            [&](int i, const WriteResult& r) { results.insert(i, r); });
        });
        QCOMPARE(e.kind(), ECardDav::ServerError);
        QCOMPARE(e.status(), 500);
        QVERIFY(!results.contains(1));
        QCOMPARE(server.requests.first().headers.value("if-none-match"), QByteArray("*"));
    }

    // abort() from another thread ends the call waiting on a silent server.
    void abort() {
        FakeServer silent([](QTcpSocket*, const Request&) {});
        CardDavClient client;
        std::thread other([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            client.abort();
        });
        EXPECT_FAILURE(client.listCards(QUrl(silent.url()), {}), ECardDav::Cancelled);
        other.join();
        EXPECT_FAILURE(client.listCards(QUrl(silent.url()), {}), ECardDav::Cancelled);
    }

private:
    static int freePortHere() {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        return server.serverPort();
    }
};

QTEST_MAIN(TestCardDavHostile)
#include "tst_carddav_hostile.moc"
