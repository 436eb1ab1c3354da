#include "carddavclient.h"

#include <QAuthenticator>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <algorithm>
#include <memory>

namespace Sync {

namespace {

const QByteArray kXml = QByteArrayLiteral("application/xml; charset=utf-8");

QByteArray discoveryBody() {
    return propfindBody({QStringLiteral("resourcetype"), QStringLiteral("displayname"),
                         QStringLiteral("current-user-principal"), QStringLiteral("sync-token"),
                         QStringLiteral("supported-report-set")},
                        {QStringLiteral("addressbook-home-set")}, true);
}

QUrl withSlash(QUrl url) {
    if (!url.path().endsWith(QLatin1Char('/')))
        url.setPath(url.path() + QLatin1Char('/'));
    return url;
}

AddressBook bookOf(const QUrl& url, const DavEntry& e) {
    AddressBook book;
    book.url = withSlash(url);
    book.displayName = e.displayName;
    book.ctag = e.ctag;
    book.syncToken = e.syncToken;
    book.supportsSync = e.supportsSync;
    return book;
}

} // namespace

QString hrefPath(const QUrl& base, const QString& href) {
    return base.resolved(QUrl::fromEncoded(href.toUtf8())).path(QUrl::FullyEncoded);
}

CardDavClient::CardDavClient(QObject* parent)
    : QObject(parent)
    , m_manager(new QNetworkAccessManager(this)) {
    connect(m_manager, &QNetworkAccessManager::authenticationRequired, this,
            [this](QNetworkReply* reply, QAuthenticator* authenticator) {
                // Offered once per request: asked again means they were refused (a 401).
                // Basic and Digest are answered by DavExchange, in UTF-8.
                const QByteArray challenge = reply->rawHeader("WWW-Authenticate");
                if (m_settings.user.isEmpty() || reply->property("quembeAsked").toBool() ||
                    asksForBasic(challenge) || digestChallenge(challenge))
                    return;
                reply->setProperty("quembeAsked", true);
                authenticator->setUser(m_settings.user);
                authenticator->setPassword(m_settings.password);
            });
}

CardDavClient::~CardDavClient() = default;

void CardDavClient::setCredentials(const QString& user, const QString& password) {
    m_settings.user = user;
    m_settings.password = password;
    m_settings.basicOrigin.clear();
    m_settings.digestOrigin.clear();
    m_manager->clearAccessCache();
}

void CardDavClient::setTrustedFingerprint(const QByteArray& fingerprint) {
    m_settings.trustedFingerprint = normalFingerprint(fingerprint);
    m_manager->clearConnectionCache();
}

void CardDavClient::setAllowInsecure(bool allow) {
    m_settings.allowInsecure = allow;
}

void CardDavClient::setAllowOtherHosts(bool allow) {
    m_settings.allowOtherHosts = allow;
}

void CardDavClient::setTimeout(int milliseconds) {
    m_settings.timeoutMs = milliseconds;
}

void CardDavClient::setLimits(qint64 responseBytes, qint64 cardBytes) {
    m_settings.responseLimit = responseBytes;
    m_settings.cardLimit = cardBytes;
}

void CardDavClient::setParallel(int requests) {
    // Beyond six, Qt queues them itself, where they would wait against the timeout.
    m_parallel = std::clamp(requests, 1, 6);
}

bool CardDavClient::isInsecure(const QUrl& url) {
    return travelsInClear(url);
}

void CardDavClient::abort() {
    m_aborted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            const QVector<DavExchange*> live = m_live;
            for (DavExchange* exchange : live)
                exchange->abort();
        },
        Qt::QueuedConnection);
}

void CardDavClient::check() const {
    if (m_aborted)
        throw ECardDav(ECardDav::Cancelled, QUrl(), QStringLiteral("aborted"));
}

void CardDavClient::run(DavExchange& exchange) {
    check();
    QEventLoop loop;
    connect(&exchange, &DavExchange::done, &loop, &QEventLoop::quit);
    m_live.append(&exchange);
    exchange.start();
    if (!exchange.isDone())
        loop.exec();
    m_live.removeOne(&exchange);
    if (exchange.error())
        std::rethrow_exception(exchange.error());
}

std::unique_ptr<DavExchange> CardDavClient::multistatusCall(DavRequest request,
                                                            MultistatusParser& parser) {
    auto exchange = std::make_unique<DavExchange>(*m_manager, m_settings, std::move(request));
    DavExchange* self = exchange.get();
    // Only a multistatus is XML for us; another 2xx (a web page) is judged by its status.
    exchange->setSink({[self, &parser](const QByteArray& data) {
                           if (self->status() == 207)
                               parser.feed(data);
                       },
                       [self, &parser] {
                           if (self->status() == 207)
                               parser.finish();
                       }});
    return exchange;
}

QUrl CardDavClient::propfind(const QUrl& url, const QByteArray& depth, const QByteArray& body,
                             const std::function<void(DavEntry&)>& each) {
    MultistatusParser parser(url, m_settings.cardLimit, each);
    auto exchange = multistatusCall({"PROPFIND", url, body, kXml, depth, {}, false}, parser);
    run(*exchange);
    if (exchange->status() != 207) {
        if (exchange->status() / 100 == 2 || exchange->status() == 404 ||
            exchange->status() == 405 || exchange->status() == 501 || exchange->status() == 400)
            failStatus(*exchange, ECardDav::NotCardDav);
        failStatus(*exchange);
    }
    return exchange->url();
}

Discovery CardDavClient::discover(const QString& typed) {
    const QString text = typed.trimmed();
    QList<QUrl> starts;
    if (text.contains(QLatin1String("://")))
        starts = {QUrl::fromUserInput(text)};
    else
        starts = {QUrl(QStringLiteral("https://") + text), QUrl(QStringLiteral("http://") + text)};
    for (int i = 0; i < starts.size(); ++i) {
        QUrl start = starts.at(i);
        if (!start.isValid() || start.host().isEmpty())
            throw ECardDav(ECardDav::HostNotFound, start, QStringLiteral("no host in ") + text);
        if (start.path().isEmpty())
            start.setPath(QStringLiteral("/"));
        try {
            QList<QUrl> candidates;
            if (start.path() != QLatin1String("/"))
                candidates.append(start);
            QUrl root = start;
            root.setPath(QStringLiteral("/.well-known/carddav"));
            candidates.append(root);
            root.setPath(QStringLiteral("/"));
            candidates.append(root);
            Discovery found;
            for (const QUrl& candidate : candidates)
                if (discoverAt(candidate, found)) {
                    std::sort(found.books.begin(), found.books.end(),
                              [](const AddressBook& a, const AddressBook& b) {
                                  return a.url.toString() < b.url.toString();
                              });
                    return found;
                }
            throw ECardDav(ECardDav::NotCardDav, start,
                           QStringLiteral("no address book found from ") +
                               start.toString(QUrl::RemoveUserInfo));
        } catch (const ECardDav& e) {
            // A bare host that speaks no TLS may still speak http.
            const bool tryClear =
                e.kind() == ECardDav::Refused || e.kind() == ECardDav::TlsFailed ||
                e.kind() == ECardDav::ConnectionLost || e.kind() == ECardDav::Malformed;
            if (i + 1 == starts.size() || !tryClear)
                throw;
        }
    }
    throw ECardDav(ECardDav::NotCardDav, QUrl(), text);
}

// Looks for books from one address; false when it shows none (not an error yet).
bool CardDavClient::discoverAt(const QUrl& url, Discovery& found) {
    DavEntry first;
    bool have = false;
    QUrl here;
    try {
        here = propfind(url, "0", discoveryBody(), [&](DavEntry& e) {
            if (!have) {
                first = e;
                have = true;
            }
        });
    } catch (const ECardDav& e) {
        if (e.kind() == ECardDav::NotCardDav ||
            (e.kind() == ECardDav::ServerError && (e.status() == 403 || e.status() == 404)))
            return false;
        throw;
    }
    if (!have)
        return false;
    if (first.isAddressBook) {
        found.books = {bookOf(here, first)};
        return true;
    }
    QList<QUrl> homes;
    for (const QString& home : first.homeSets)
        homes.append(here.resolved(QUrl::fromEncoded(home.toUtf8())));
    if (!first.principal.isEmpty()) {
        found.principal = here.resolved(QUrl::fromEncoded(first.principal.toUtf8()));
        if (homes.isEmpty()) {
            const QUrl principal = propfind(found.principal, "0",
                                            propfindBody({QStringLiteral("resourcetype")},
                                                         {QStringLiteral("addressbook-home-set")}),
                                            [&](DavEntry& e) { first.homeSets = e.homeSets; });
            for (const QString& home : first.homeSets)
                homes.append(principal.resolved(QUrl::fromEncoded(home.toUtf8())));
        }
    }
    for (const QUrl& home : homes)
        listBooks(home, found);
    if (found.books.isEmpty())
        listBooks(here, found);
    return !found.books.isEmpty();
}

void CardDavClient::listBooks(const QUrl& home, Discovery& found) {
    QVector<AddressBook> books;
    propfind(home, "1", discoveryBody(), [&](DavEntry& e) {
        if (e.isAddressBook)
            books.append(bookOf(home.resolved(QUrl::fromEncoded(e.href.toUtf8())), e));
    });
    for (const AddressBook& book : books) {
        const bool known = std::any_of(found.books.begin(), found.books.end(),
                                       [&](const AddressBook& b) { return b.url == book.url; });
        if (!known)
            found.books.append(book);
    }
}

} // namespace Sync
