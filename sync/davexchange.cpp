#include "davexchange.h"

#include "carddaverror.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslConfiguration>

namespace Sync {

namespace {

const int kMaxRedirects = 5;
const qint64 kErrorBodyKept = 4096;
// Backpressure: the network thread stops reading when we have not caught up.
const qint64 kReadBuffer = 1024 * 1024;

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

int portOf(const QUrl& url) {
    return url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
}

} // namespace

bool travelsInClear(const QUrl& url) {
    if (url.scheme() != QLatin1String("http"))
        return false;
    const QString host = url.host();
    if (host == QLatin1String("localhost"))
        return false;
    const QHostAddress address(host);
    return address.isNull() || !address.isLoopback();
}

QString originOf(const QUrl& url) {
    return url.scheme() + QLatin1String("://") + url.host().toLower() + QLatin1Char(':') +
           QString::number(portOf(url));
}

bool asksForBasic(const QByteArray& challenge) {
    const QByteArray lower = challenge.toLower();
    return lower.contains("basic") && !lower.contains("digest");
}

QByteArray normalFingerprint(const QByteArray& fingerprint) {
    QByteArray hex;
    for (char c : fingerprint)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            hex += char(std::toupper(static_cast<unsigned char>(c)));
    QByteArray out;
    for (int i = 0; i < hex.size(); i += 2) {
        if (i)
            out += ':';
        out += hex.mid(i, 2);
    }
    return out;
}

DavExchange::DavExchange(QNetworkAccessManager& manager, DavSettings& settings, DavRequest request,
                         DavSink sink)
    : m_manager(manager)
    , m_settings(settings)
    , m_request(std::move(request))
    , m_sink(std::move(sink)) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        fail(std::make_exception_ptr(ECardDav(ECardDav::Timeout, m_request.url,
                                              QStringLiteral("no answer for %1 s: %2")
                                                  .arg(m_settings.timeoutMs / 1000.0)
                                                  .arg(technical()))));
    });
}

DavExchange::~DavExchange() {
    if (m_retired)
        m_retired->deleteLater();
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

QString DavExchange::technical() const {
    return QString::fromLatin1(m_request.method) + QLatin1Char(' ') +
           m_request.url.toString(QUrl::RemoveUserInfo);
}

void DavExchange::start() {
    send();
}

void DavExchange::send() {
    if (travelsInClear(m_request.url) && !m_settings.allowInsecure) {
        fail(std::make_exception_ptr(ECardDav(ECardDav::Insecure, m_request.url, technical())));
        return;
    }
    QNetworkRequest request(m_request.url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("quembe"));
    if (!m_request.contentType.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, m_request.contentType);
    m_sentBasic = !m_settings.user.isEmpty() && m_settings.basicOrigin == originOf(m_request.url);
    if (m_sentBasic) {
        request.setRawHeader(
            "Authorization",
            "Basic " +
                (m_settings.user + QLatin1Char(':') + m_settings.password).toUtf8().toBase64());
    }
    m_sentDigest = !m_sentBasic && !m_settings.user.isEmpty() &&
                   m_settings.digestOrigin == originOf(m_request.url);
    if (m_sentDigest) {
        QByteArray uri = m_request.url.path(QUrl::FullyEncoded).toUtf8();
        if (uri.isEmpty())
            uri = "/";
        if (m_request.url.hasQuery())
            uri += '?' + m_request.url.query(QUrl::FullyEncoded).toUtf8();
        const QByteArray cnonce =
            QCryptographicHash::hash(QByteArray::number(QRandomGenerator::system()->generate64()),
                                     QCryptographicHash::Sha256)
                .toHex()
                .left(24);
        request.setRawHeader("Authorization",
                             digestAuthorization(m_settings.digest, m_settings.user,
                                                 m_settings.password, m_request.method, uri,
                                                 ++m_settings.digestCount, cnonce));
    }
    if (!m_request.depth.isEmpty())
        request.setRawHeader("Depth", m_request.depth);
    if (m_request.ifNoneMatch)
        request.setRawHeader("If-None-Match", "*");
    else if (!m_request.ifMatch.isEmpty())
        request.setRawHeader("If-Match", m_request.ifMatch);
    m_status = 0;
    m_received = 0;
    m_errorBody.clear();
    m_reply = m_manager.sendCustomRequest(request, m_request.method, m_request.body);
    m_reply->setReadBufferSize(kReadBuffer);
    connect(m_reply, &QNetworkReply::readyRead, this, &DavExchange::readBody);
    connect(m_reply, &QNetworkReply::finished, this, &DavExchange::finished);
    connect(m_reply, &QNetworkReply::sslErrors, this, &DavExchange::sslErrors);
    connect(m_reply, &QNetworkReply::uploadProgress, this, [this] { m_timer.start(); });
    connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] { m_timer.start(); });
    m_timer.start(m_settings.timeoutMs);
}

void DavExchange::sslErrors(const QList<QSslError>& errors) {
    QSslCertificate certificate = m_reply->sslConfiguration().peerCertificate();
    for (const QSslError& e : errors)
        if (certificate.isNull() && !e.certificate().isNull())
            certificate = e.certificate();
    m_fingerprint = normalFingerprint(certificate.digest(QCryptographicHash::Sha256).toHex());
    if (!m_settings.trustedFingerprint.isEmpty() &&
        m_fingerprint == normalFingerprint(m_settings.trustedFingerprint))
        m_reply->ignoreSslErrors(errors);
}

void DavExchange::readBody() {
    // Called again from a callback's own event loop: the outer call reads what came.
    if (!m_reply || m_done || m_reading)
        return;
    m_reading = true;
    m_timer.start();
    if (!m_status)
        m_status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    try {
        while (m_reply && m_reply->bytesAvailable() > 0) {
            const QByteArray piece = m_reply->read(64 * 1024);
            m_received += piece.size();
            if (m_received > m_settings.responseLimit)
                throw ECardDav(ECardDav::TooLarge, m_request.url,
                               QStringLiteral("answer larger than %1 bytes: %2")
                                   .arg(m_settings.responseLimit)
                                   .arg(technical()),
                               m_status, QByteArray(), m_settings.responseLimit);
            if (m_status / 100 == 2 && m_sink.feed)
                m_sink.feed(piece);
            else if (m_status / 100 != 3 && m_errorBody.size() < kErrorBodyKept)
                m_errorBody += piece.left(int(kErrorBodyKept - m_errorBody.size()));
        }
    } catch (...) {
        fail(std::current_exception());
    }
    m_reading = false;
    // Now back under the reply's own signal at its loop's level: deleted once it is done.
    if (m_retired) {
        m_retired->deleteLater();
        m_retired = nullptr;
    }
    if (m_finishPending) {
        m_finishPending = false;
        finished();
    }
}

void DavExchange::finished() {
    if (m_done || !m_reply)
        return;
    if (m_reading) {
        m_finishPending = true;
        return;
    }
    readBody();
    if (m_done)
        return;
    m_timer.stop();
    const QNetworkReply::NetworkError error = m_reply->error();
    m_status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString detail = technical() + QLatin1String(": ") + m_reply->errorString();
    // Below 200 are the transport's own errors (connection, TLS, proxy): they stand even
    // when a status line had come.
    if ((error != QNetworkReply::NoError && int(error) < 200) ||
        error == QNetworkReply::UnknownNetworkError || m_status == 0) {
        ECardDav::Kind kind = ECardDav::ConnectionLost;
        switch (error) {
        case QNetworkReply::HostNotFoundError:
            kind = ECardDav::HostNotFound;
            break;
        case QNetworkReply::ConnectionRefusedError:
            kind = ECardDav::Refused;
            break;
        case QNetworkReply::TimeoutError:
            kind = ECardDav::Timeout;
            break;
        case QNetworkReply::OperationCanceledError:
            kind = ECardDav::Cancelled;
            break;
        case QNetworkReply::SslHandshakeFailedError:
            kind = m_fingerprint.isEmpty() ? ECardDav::TlsFailed : ECardDav::UntrustedCertificate;
            break;
        case QNetworkReply::ProtocolFailure:
        case QNetworkReply::ProtocolUnknownError:
            kind = ECardDav::Malformed;
            break;
        default:
            break;
        }
        fail(std::make_exception_ptr(
            ECardDav(kind, m_request.url, detail, m_status, m_fingerprint)));
        return;
    }
    // Qt ends a reply cut short of its Content-Length without an error of its own.
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && m_reply->rawHeader("Content-Encoding").isEmpty() &&
        m_received < length.toLongLong()) {
        fail(std::make_exception_ptr(
            ECardDav(ECardDav::ConnectionLost, m_request.url,
                     technical() + QStringLiteral(": answer cut after %1 of %2 bytes")
                                       .arg(m_received)
                                       .arg(length.toLongLong()),
                     m_status)));
        return;
    }
    if (m_status == 401 && !m_sentBasic && !m_settings.user.isEmpty() &&
        asksForBasic(m_reply->rawHeader("WWW-Authenticate"))) {
        m_settings.basicOrigin = originOf(m_request.url);
        dropReply();
        send();
        return;
    }
    if (m_status == 401 && !m_settings.user.isEmpty() && m_digestTries < 2) {
        // Answered once more with a fresh challenge: the first time, and when the server
        // says only the nonce was stale. A refused answer otherwise means a wrong password.
        const std::optional<DigestChallenge> challenge =
            digestChallenge(m_reply->rawHeader("WWW-Authenticate"));
        if (challenge && (!m_sentDigest || challenge->stale)) {
            ++m_digestTries;
            m_settings.digestOrigin = originOf(m_request.url);
            m_settings.digest = *challenge;
            m_settings.digestCount = 0;
            dropReply();
            send();
            return;
        }
    }
    if (m_status == 401 || m_status == 407) {
        fail(std::make_exception_ptr(
            ECardDav(ECardDav::WrongPassword, m_request.url, detail, m_status)));
        return;
    }
    if (isRedirect(m_status) && redirect())
        return;
    m_etag = m_reply->rawHeader("ETag");
    if (m_status / 100 == 2 && m_sink.end) {
        try {
            m_sink.end();
        } catch (...) {
            fail(std::current_exception());
            return;
        }
    }
    finish();
}

// Follows a redirect by sending again; false when there was nowhere to go.
bool DavExchange::redirect() {
    const QByteArray location = m_reply->rawHeader("Location");
    if (location.isEmpty())
        return false;
    const QUrl target = m_request.url.resolved(QUrl::fromEncoded(location));
    const QString detail =
        technical() + QLatin1String(" -> ") + target.toString(QUrl::RemoveUserInfo);
    if (++m_redirects > kMaxRedirects) {
        fail(std::make_exception_ptr(ECardDav(ECardDav::TooManyRedirects, target, detail)));
        return true;
    }
    const bool sameServer = target.scheme() == m_request.url.scheme() &&
                            target.host().compare(m_request.url.host(), Qt::CaseInsensitive) == 0 &&
                            portOf(target) == portOf(m_request.url);
    if (!sameServer && !m_settings.allowOtherHosts) {
        fail(std::make_exception_ptr(ECardDav(ECardDav::RedirectRefused, target, detail)));
        return true;
    }
    dropReply();
    m_request.url = target;
    send();
    return true;
}

void DavExchange::dropReply() {
    m_reply->disconnect(this);
    if (!m_reply->isFinished())
        m_reply->abort();
    if (m_reading)
        m_retired = m_reply;
    else
        m_reply->deleteLater();
    m_reply = nullptr;
}

void DavExchange::abort() {
    if (!m_done)
        fail(std::make_exception_ptr(ECardDav(ECardDav::Cancelled, m_request.url, technical())));
}

void DavExchange::fail(std::exception_ptr error) {
    if (m_done)
        return;
    m_error = error;
    finish();
}

void DavExchange::finish() {
    m_timer.stop();
    if (m_reply)
        dropReply();
    m_done = true;
    emit done();
}

void failStatus(const DavExchange& exchange, ECardDav::Kind kind) {
    QString detail = QString::fromLatin1(exchange.method()) + QLatin1Char(' ') +
                     exchange.url().toString(QUrl::RemoveUserInfo) +
                     QStringLiteral(": HTTP %1").arg(exchange.status());
    const QString body = QString::fromUtf8(exchange.errorBody()).simplified().left(200);
    if (!body.isEmpty())
        detail += QLatin1String(", ") + body;
    throw ECardDav(kind, exchange.url(), detail, exchange.status());
}

} // namespace Sync
