#pragma once

// A CardDAV client (RFC 6352 over WebDAV, RFC 6578 sync, RFC 6764 discovery) for keeping
// one address book in step with the cards here.
//
// Threading: every call blocks until its requests are done, running a local QEventLoop
// meanwhile. Create and use a client on one thread (the sync's worker thread; that thread
// needs no event loop of its own; on the GUI thread the local loop would re-enter window
// events). Only abort() may be called from another thread.
//
// A sync, in calls:
//   discover(typed)                      at setup: the user picks a book; store its url
//   bookInfo(book)                       same ctag (or sync token) as stored: nothing changed
//   syncChanges(book, token, ...)        when supportsSync; else listCards() and compare ETags
//   fetchCards(book, hrefs, ...)         the changed cards' texts, one at a time
//   writeAll(book, uploads, ...)         each new ETag arrives as its write ends; on a 412
//                                        fetchCard(), merge, and write again with its ETag
//   keep SyncDelta::token only once every change it covers is applied here.
//
// Errors: every call throws ECardDav (carddaverror.h) with a Chinese message when the
// exchange cannot go on. Conditions the caller acts on are results, not errors: a 412 on a
// write (someone changed the card: fetch, merge, write again), a card already gone, an
// invalid sync token (the client falls back to a full listing and says so). A callback
// may throw: the call stops and the exception comes out of it as it was.
//
// Card addresses ("hrefs") are the server's paths, percent-encoded and normalised the same
// way by every call ("/user/contacts/%E5%BC%A0.vcf"); store and compare them as they are.

#include "carddaverror.h"
#include "davexchange.h"
#include "davxml.h"

#include <QObject>
#include <QStringList>
#include <QUrl>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;

namespace Sync {

/// An address book on the server.
struct AddressBook {
    QUrl url; ///< the collection, ending with "/"
    QString displayName;
    QByteArray ctag;           ///< changes with every card change; empty when not offered
    QByteArray syncToken;      ///< the current sync token; empty when not offered
    bool supportsSync = false; ///< the sync-collection REPORT is offered
};

/// What discovery found from what the user typed.
struct Discovery {
    QUrl principal;             ///< the user's principal, when the server names one
    QVector<AddressBook> books; ///< sorted by address; one when a book's own URL was typed
};

/// A card on the server and its version.
struct CardRef {
    QString href;
    QByteArray etag;
};

/// A card's text as fetched. `missing`: the server no longer has it (then no text).
struct FetchedCard {
    QString href;
    QByteArray etag;
    QByteArray vcard;
    bool missing = false;
};

/// What sync-collection gave.
struct SyncDelta {
    QByteArray token; ///< store it for the next call, once every change is applied
    /// The old token was refused (403, 409, 400; Xandikos fails with 500) or there was none:
    /// every card was listed as changed, and a card known here but not listed is gone.
    bool full = false;
};

/// One write: PUT when `vcard` is not empty, else DELETE.
struct Upload {
    QString href;
    QByteArray vcard;
    /// If-Match, as the server gave it (quotes included). Empty: a PUT is a new card, sent
    /// with If-None-Match: *; a DELETE is unconditional.
    QByteArray etag;
};

struct WriteResult {
    enum Outcome {
        Done,               ///< written (or deleted)
        PreconditionFailed, ///< 412: changed since `etag`; for a new card, the href is taken
        NotFound,           ///< 404: the card is not (or no longer) on the server
        /// The server would not take this card (400, 403, 409, 413, 415, 422, 507, or a 207
        /// carrying an error): a read-only book, a card it cannot read, no room. `detail`
        /// says what it said; the other cards may still go.
        Rejected,
    };
    Outcome outcome = Done;
    int status = 0;  ///< the HTTP status
    QByteArray etag; ///< the new ETag after a PUT; empty when the server gave none
    QString detail;  ///< Rejected: the server's own words, shortened
};

class CardDavClient : public QObject {
    Q_OBJECT
public:
    explicit CardDavClient(QObject* parent = nullptr);
    ~CardDavClient() override;

    /// The account; an empty user sends no credentials (a server without authentication).
    /// Basic and Digest are both answered.
    void setCredentials(const QString& user, const QString& password);
    /// A certificate the system does not trust is accepted when its SHA-256 matches this
    /// (any spelling: "AB:CD..", "abcd.."), as ECardDav::fingerprint() reported it.
    void setTrustedFingerprint(const QByteArray& fingerprint);
    /// Plain http to a host other than this computer throws Insecure unless allowed (after
    /// asking the user: passwords and cards would travel readable).
    void setAllowInsecure(bool allow);
    /// Redirects to another scheme, host or port throw RedirectRefused unless allowed.
    void setAllowOtherHosts(bool allow);
    /// A request that moves no byte for this long fails with Timeout (default 30 s).
    void setTimeout(int milliseconds);
    /// Largest answer (default 64 MB) and largest single card (default 16 MB).
    void setLimits(qint64 responseBytes, qint64 cardBytes);
    /// Writes in flight at once in writeAll(): 1 to 6 (default 6, Qt's connections per host).
    void setParallel(int requests);

    /// Whether requests to this address would travel unencrypted beyond this computer.
    static bool isInsecure(const QUrl& url);

    /// Finds the address books from what the user typed: a book's full URL, the server's
    /// root or a bare host ("example.org", tried as https first, then http). Throws
    /// NotCardDav when there is none.
    Discovery discover(const QString& typed);
    /// A book's current name, ctag and sync token (cheap: one PROPFIND, depth 0).
    AddressBook bookInfo(const QUrl& book);
    /// Every card of the book with its ETag, handed on one by one as the answer streams in
    /// (collections inside the book are left out).
    void listCards(const QUrl& book, const std::function<void(const CardRef&)>& each);
    /// The cards' texts by addressbook-multiget, `batch` hrefs per request; every href is
    /// reported once, as missing when the server does not have it.
    void fetchCards(const QUrl& book, const QStringList& hrefs,
                    const std::function<void(const FetchedCard&)>& each, int batch = 50);
    /// One card by GET.
    FetchedCard fetchCard(const QUrl& book, const QString& href);
    /// The changes since `token` (empty: all cards) by sync-collection. `changed` gets new and
    /// changed cards, `removed` the hrefs of deleted ones. See SyncDelta::full.
    SyncDelta syncChanges(const QUrl& book, const QByteArray& token,
                          const std::function<void(const CardRef&)>& changed,
                          const std::function<void(const QString& href)>& removed);
    /// One PUT or DELETE.
    WriteResult write(const QUrl& book, const Upload& upload);
    /// Many writes, several in flight; `done` gets each one's index and result as it ends.
    /// On a failure no new write starts, the ones in flight end and are reported, and the
    /// first error is thrown. Once `done` throws it is not called again.
    void writeAll(const QUrl& book, const QVector<Upload>& uploads,
                  const std::function<void(int index, const WriteResult&)>& done);
    /// writeAll() with each write made as it starts (`make` returns nothing to skip one),
    /// so the texts of a large book are never all in memory at once.
    void writeEach(const QUrl& book, int count,
                   const std::function<std::optional<Upload>(int index)>& make,
                   const std::function<void(int index, const Upload&, const WriteResult&)>& done);
    /// An href for a new card in the book, from its UID.
    static QString newCardHref(const QUrl& book, const QString& uid);

    /// Stops the call in progress and every later one with Cancelled. Any thread.
    void abort();

private:
    void check() const;
    void run(DavExchange& exchange);
    std::unique_ptr<DavExchange> multistatusCall(DavRequest request, MultistatusParser& parser);
    /// The address the answer came from (after redirects).
    QUrl propfind(const QUrl& url, const QByteArray& depth, const QByteArray& body,
                  const std::function<void(DavEntry&)>& each);
    bool discoverAt(const QUrl& url, Discovery& found);
    void listBooks(const QUrl& home, Discovery& found);
    WriteResult resultOf(const DavExchange& exchange) const;
    QUrl urlOf(const QUrl& book, const QString& href) const;

    QNetworkAccessManager* m_manager;
    DavSettings m_settings;
    int m_parallel = 6;
    std::atomic<bool> m_aborted{false};
    QVector<DavExchange*> m_live;
};

/// The href as a path, percent-encoded, for comparing and storing.
QString hrefPath(const QUrl& base, const QString& href);

} // namespace Sync
