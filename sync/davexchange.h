#pragma once

#include "carddaverror.h"
#include "davauth.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QTimer>
#include <QUrl>

#include <exception>
#include <functional>

class QNetworkAccessManager;
class QNetworkReply;

namespace Sync {

/// What every request of one client shares.
struct DavSettings {
    QString user;
    QString password;
    QByteArray trustedFingerprint; ///< hex digits, upper case, no colons
    bool allowInsecure = false;
    bool allowOtherHosts = false;
    int timeoutMs = 30000;
    qint64 responseLimit = 64LL * 1024 * 1024;
    qint64 cardLimit = 16LL * 1024 * 1024;
    /// The server ("scheme://host:port") that asked for Basic: we answer it ourselves, in
    /// UTF-8 (Qt's own answer is Latin-1, so a Chinese password would fail).
    QString basicOrigin;
    /// The server that asked for Digest, and its last challenge: every request to it is
    /// answered at once, counting the nonce's uses.
    QString digestOrigin;
    DigestChallenge digest;
    quint32 digestCount = 0;
};

struct DavRequest {
    QByteArray method;
    QUrl url;
    QByteArray body;
    QByteArray contentType;
    QByteArray depth;   ///< "0", "1" or empty
    QByteArray ifMatch; ///< an ETag, or "*" for If-None-Match: *
    bool ifNoneMatch = false;
};

/// The body of a 2xx answer, handed on piece by piece as it arrives; both may throw ECardDav.
struct DavSink {
    std::function<void(const QByteArray&)> feed;
    std::function<void()> end;
};

/// One request with its redirects, its timeout, its certificate check and its size limit.
/// Never throws: a failure ends in error(), which the caller rethrows.
class DavExchange : public QObject {
    Q_OBJECT
public:
    DavExchange(QNetworkAccessManager& manager, DavSettings& settings, DavRequest request,
                DavSink sink = {});
    ~DavExchange() override;

    void setSink(DavSink sink) { m_sink = std::move(sink); }
    void start();
    /// Stops the request; it ends as Cancelled.
    void abort();
    bool isDone() const { return m_done; }
    std::exception_ptr error() const { return m_error; }
    int status() const { return m_status; }
    QByteArray etag() const { return m_etag; }
    /// The first 4 KB of a body that no sink took (an error's, a write's).
    QByteArray errorBody() const { return m_errorBody; }
    /// Where the request ended after redirects.
    QUrl url() const { return m_request.url; }
    QByteArray method() const { return m_request.method; }

signals:
    void done();

private:
    void send();
    void readBody();
    void finished();
    void sslErrors(const QList<QSslError>& errors);
    void fail(std::exception_ptr error);
    void finish();
    bool redirect();
    QString technical() const;
    /// Lets go of the reply; while its own signal is still being sent (a callback ran an
    /// event loop of its own), it is deleted only once that is over.
    void dropReply();

    QNetworkAccessManager& m_manager;
    DavSettings& m_settings;
    bool m_sentBasic = false;
    bool m_sentDigest = false;
    int m_digestTries = 0;
    DavRequest m_request;
    DavSink m_sink;
    QPointer<QNetworkReply> m_reply;
    QTimer m_timer;
    int m_redirects = 0;
    int m_status = 0;
    qint64 m_received = 0;
    QByteArray m_etag;
    QByteArray m_errorBody;
    QByteArray m_fingerprint;
    std::exception_ptr m_error;
    bool m_done = false;
    // Inside readBody: the sink's callbacks may run a local event loop, in which the reply
    // signals again; it is not read twice at once nor deleted under its own signal.
    bool m_reading = false;
    bool m_finishPending = false;
    QPointer<QNetworkReply> m_retired;
};

/// Whether a request to this address would travel unencrypted beyond this computer.
bool travelsInClear(const QUrl& url);
/// "https://host:443": what Basic credentials are tied to.
QString originOf(const QUrl& url);
/// Whether a 401's challenge asks for Basic only (which we answer ourselves).
bool asksForBasic(const QByteArray& challenge);
/// Throws the error for an answer the server refused, with its status and the start of its
/// body.
[[noreturn]] void failStatus(const DavExchange& exchange,
                             ECardDav::Kind kind = ECardDav::ServerError);
/// "AB:CD:..." from any spelling of a SHA-256 fingerprint; the stored form.
QByteArray normalFingerprint(const QByteArray& fingerprint);

} // namespace Sync
