// The card operations of the CardDAV client: listing, fetching, changes, writes.
#include "carddavclient.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <iterator>
#include <memory>

namespace Sync {

namespace {

const QByteArray kXml = QByteArrayLiteral("application/xml; charset=utf-8");
const QByteArray kVCard = QByteArrayLiteral("text/vcard; charset=utf-8");

} // namespace

QUrl CardDavClient::urlOf(const QUrl& book, const QString& href) const {
    return book.resolved(QUrl::fromEncoded(href.toUtf8()));
}

QString CardDavClient::newCardHref(const QUrl& book, const QString& uid) {
    static const QRegularExpression safe(QStringLiteral("^[A-Za-z0-9._@-]{1,100}$"));
    const QString name =
        safe.match(uid).hasMatch()
            ? uid
            : QString::fromLatin1(
                  QCryptographicHash::hash(uid.toUtf8(), QCryptographicHash::Sha1).toHex());
    QString path = book.path(QUrl::FullyEncoded);
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + name + QStringLiteral(".vcf");
}

AddressBook CardDavClient::bookInfo(const QUrl& book) {
    AddressBook info;
    bool found = false;
    const QByteArray body =
        // No sync-token here: Radicale works it out from the whole book, more than doubling
        // the answer's time, and the ctag already says whether anything changed.
        propfindBody({QStringLiteral("resourcetype"), QStringLiteral("displayname"),
                      QStringLiteral("supported-report-set")},
                     {}, true);
    const QUrl url = propfind(book, "0", body, [&](DavEntry& e) {
        if (!found && e.isAddressBook) {
            found = true;
            info.displayName = e.displayName;
            info.ctag = e.ctag;
            info.syncToken = e.syncToken;
            info.supportsSync = e.supportsSync;
        }
    });
    if (!found)
        throw ECardDav(ECardDav::NotCardDav, url,
                       QStringLiteral("not an address book: ") +
                           url.toString(QUrl::RemoveUserInfo));
    info.url = book;
    return info;
}

void CardDavClient::listCards(const QUrl& book, const std::function<void(const CardRef&)>& each) {
    const QByteArray body = propfindBody({QStringLiteral("resourcetype"), QStringLiteral("getetag"),
                                          QStringLiteral("getcontenttype")});
    const QString self = book.path(QUrl::FullyEncoded);
    propfind(book, "1", body, [&](DavEntry& e) {
        const QString href = hrefPath(book, e.href);
        if (e.isCollection || href == self || e.etag.isEmpty())
            return;
        each(CardRef{href, e.etag});
    });
}

void CardDavClient::fetchCards(const QUrl& book, const QStringList& hrefs,
                               const std::function<void(const FetchedCard&)>& each, int batch) {
    batch = std::max(1, batch);
    for (int from = 0; from < hrefs.size(); from += batch) {
        const QStringList part = hrefs.mid(from, batch);
        QSet<QString> asked;
        for (const QString& href : part)
            asked.insert(hrefPath(book, href));
        MultistatusParser parser(book, m_settings.cardLimit, [&](DavEntry& e) {
            FetchedCard card;
            card.href = hrefPath(book, e.href);
            if (!asked.remove(card.href))
                return; // not asked for: the collection itself, or a stray entry
            card.missing = e.status == 404 || e.addressData.isEmpty();
            if (!card.missing) {
                card.etag = e.etag;
                card.vcard = std::move(e.addressData);
            }
            each(card);
        });
        auto exchange =
            multistatusCall({"REPORT", book, multigetBody(part), kXml, "1", {}, false}, parser);
        run(*exchange);
        if (exchange->status() != 207)
            failStatus(*exchange);
        // A server may leave out what it does not have.
        for (const QString& href : part)
            if (asked.contains(hrefPath(book, href))) {
                asked.remove(hrefPath(book, href));
                FetchedCard card;
                card.href = hrefPath(book, href);
                card.missing = true;
                each(card);
            }
    }
}

FetchedCard CardDavClient::fetchCard(const QUrl& book, const QString& href) {
    FetchedCard card;
    card.href = hrefPath(book, href);
    const QUrl url = urlOf(book, href);
    DavExchange exchange(*m_manager, m_settings, {"GET", url, {}, {}, {}, {}, false});
    exchange.setSink({[&](const QByteArray& data) {
                          card.vcard += data;
                          if (card.vcard.size() > m_settings.cardLimit)
                              throw ECardDav(ECardDav::TooLarge, url,
                                             QStringLiteral("card larger than %1 bytes: GET %2")
                                                 .arg(m_settings.cardLimit)
                                                 .arg(url.toString(QUrl::RemoveUserInfo)),
                                             0, QByteArray(), m_settings.cardLimit);
                      },
                      {}});
    run(exchange);
    if (exchange.status() == 404 || exchange.status() == 410) {
        card.missing = true;
        card.vcard.clear();
        return card;
    }
    if (exchange.status() / 100 != 2)
        failStatus(exchange);
    card.etag = exchange.etag();
    return card;
}

SyncDelta CardDavClient::syncChanges(const QUrl& book, const QByteArray& token,
                                     const std::function<void(const CardRef&)>& changed,
                                     const std::function<void(const QString&)>& removed) {
    SyncDelta delta;
    delta.full = token.isEmpty();
    delta.token = token;
    const QString self = book.path(QUrl::FullyEncoded);
    for (;;) {
        bool truncated = false;
        MultistatusParser parser(book, m_settings.cardLimit, [&](DavEntry& e) {
            const QString href = hrefPath(book, e.href);
            if (href == self || href + QLatin1Char('/') == self) {
                truncated = e.status == 507;
                return;
            }
            if (e.status == 404)
                removed(href);
            else if (!e.isCollection && !e.etag.isEmpty())
                changed(CardRef{href, e.etag});
        });
        auto exchange = multistatusCall(
            {"REPORT", book, syncCollectionBody(delta.token), kXml, "0", {}, false}, parser);
        run(*exchange);
        const int status = exchange->status();
        if (status == 207) {
            delta.token = parser.syncToken();
            if (!truncated || delta.token.isEmpty())
                return delta;
            continue; // the server sent part of the changes: ask again from where it stopped
        }
        // RFC 6578: a token the server no longer knows is refused with 403 (valid-sync-token);
        // others say 409 or 400, Xandikos fails with 500. Start over once with a full listing.
        const bool refused = status == 403 || status == 409 || status == 400 || status == 500;
        if (refused && !delta.token.isEmpty() && !delta.full) {
            delta.token.clear();
            delta.full = true;
            continue;
        }
        failStatus(*exchange);
    }
}

namespace {

DavRequest writeRequest(const QUrl& url, const Upload& upload) {
    DavRequest request;
    request.url = url;
    if (upload.vcard.isEmpty()) {
        request.method = "DELETE";
    } else {
        request.method = "PUT";
        request.body = upload.vcard;
        request.contentType = kVCard;
    }
    if (upload.etag.isEmpty())
        request.ifNoneMatch = !upload.vcard.isEmpty();
    else
        request.ifMatch = upload.etag;
    return request;
}

} // namespace

WriteResult CardDavClient::resultOf(const DavExchange& exchange) const {
    WriteResult result;
    result.status = exchange.status();
    static const int kRejected[] = {207, 400, 403, 409, 413, 415, 422, 507};
    if (std::find(std::begin(kRejected), std::end(kRejected), result.status) !=
        std::end(kRejected)) {
        // Xandikos answers a card it cannot read with a 207 holding a 412.
        result.outcome = WriteResult::Rejected;
        result.detail = QString::fromUtf8(exchange.errorBody()).simplified().left(300);
    } else if (result.status / 100 == 2)
        result.etag = exchange.etag();
    else if (result.status == 412)
        result.outcome = WriteResult::PreconditionFailed;
    else if (result.status == 404 || result.status == 410)
        result.outcome = WriteResult::NotFound;
    else
        failStatus(exchange);
    return result;
}

WriteResult CardDavClient::write(const QUrl& book, const Upload& upload) {
    DavExchange exchange(*m_manager, m_settings, writeRequest(urlOf(book, upload.href), upload));
    run(exchange);
    return resultOf(exchange);
}

void CardDavClient::writeAll(const QUrl& book, const QVector<Upload>& uploads,
                             const std::function<void(int, const WriteResult&)>& done) {
    writeEach(
        book, int(uploads.size()), [&](int i) { return std::optional<Upload>(uploads.at(i)); },
        [&](int i, const Upload&, const WriteResult& result) { done(i, result); });
}

void CardDavClient::writeEach(
    const QUrl& book, int count, const std::function<std::optional<Upload>(int)>& make,
    const std::function<void(int, const Upload&, const WriteResult&)>& done) {
    check();
    struct InFlight {
        int index;
        Upload upload;
        std::unique_ptr<DavExchange> exchange;
    };
    std::vector<InFlight> inFlight;
    QEventLoop loop;
    std::exception_ptr first;
    bool reporting = true;
    int next = 0;
    for (;;) {
        while (!first && !m_aborted && int(inFlight.size()) < m_parallel && next < count) {
            const int index = next++;
            std::optional<Upload> upload;
            try {
                upload = make(index);
            } catch (...) {
                first = std::current_exception();
                reporting = false;
                break;
            }
            if (!upload)
                continue;
            auto exchange = std::make_unique<DavExchange>(
                *m_manager, m_settings, writeRequest(urlOf(book, upload->href), *upload));
            connect(exchange.get(), &DavExchange::done, &loop, &QEventLoop::quit);
            m_live.append(exchange.get());
            exchange->start();
            inFlight.push_back({index, std::move(*upload), std::move(exchange)});
        }
        if (inFlight.empty())
            break;
        bool ended = false;
        for (auto it = inFlight.begin(); it != inFlight.end();) {
            if (!it->exchange->isDone()) {
                ++it;
                continue;
            }
            ended = true;
            m_live.removeOne(it->exchange.get());
            try {
                if (it->exchange->error())
                    std::rethrow_exception(it->exchange->error());
                const WriteResult result = resultOf(*it->exchange);
                if (reporting)
                    done(it->index, it->upload, result);
            } catch (const ECardDav& e) {
                if (!first)
                    first = std::current_exception();
                // A cancel comes after its card was recorded: the answers to the writes still
                // in flight are recorded too, or a card sent would be sent again as new.
                if (!it->exchange->error() && e.kind() != ECardDav::Cancelled)
                    reporting = false;
            } catch (...) {
                if (!first)
                    first = std::current_exception();
                if (!it->exchange->error())
                    reporting = false; // our own side failed: it cannot take more
            }
            it = inFlight.erase(it);
        }
        if (!ended)
            loop.exec();
    }
    if (first)
        std::rethrow_exception(first);
    check();
}

} // namespace Sync
