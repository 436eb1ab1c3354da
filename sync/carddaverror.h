#pragma once

#include "core/error.h"

#include <QByteArray>
#include <QUrl>

namespace Sync {

/// A CardDAV exchange that failed. The message is Chinese and ends with the technical text in
/// brackets; kind() lets the caller react (ask for a password, offer to trust a certificate).
class ECardDav : public EError {
public:
    enum Kind {
        HostNotFound,         ///< the name does not resolve
        Refused,              ///< nothing listens on that port
        WrongPassword,        ///< 401 after our credentials were offered (or none were given)
        NotCardDav,           ///< no address book found there, or not a WebDAV server
        UntrustedCertificate, ///< fingerprint() names the certificate the system does not trust
        TlsFailed,            ///< no encrypted connection could be made (not a TLS server)
        Timeout,              ///< no byte moved for the client's timeout
        ConnectionLost,       ///< the connection was cut before the answer was whole
        ServerError,          ///< an HTTP status we cannot go on with: status()
        Malformed,            ///< the answer is not the XML it should be
        TooLarge,             ///< the answer passed the response or card size limit
        Insecure,             ///< plain http to a host other than this computer, not allowed
        RedirectRefused,      ///< a redirect to another scheme or host: url() names it
        TooManyRedirects,     ///< more than five redirects in a row
        Cancelled,            ///< abort() was called
    };

    ECardDav(Kind kind, const QUrl& url, const QString& technical, int status = 0,
             const QByteArray& fingerprint = QByteArray(), qint64 limit = 0);

    Kind kind() const { return m_kind; }
    int status() const { return m_status; }
    /// SHA-256 of the server's certificate, "AB:CD:..." (UntrustedCertificate only).
    QByteArray fingerprint() const { return m_fingerprint; }
    /// The address the failing request went to, or the redirect's target.
    QUrl url() const { return m_url; }

private:
    Kind m_kind;
    QUrl m_url;
    int m_status;
    QByteArray m_fingerprint;
};

} // namespace Sync
