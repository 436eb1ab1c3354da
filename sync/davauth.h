#pragma once

// HTTP Digest (RFC 7616) answered by us rather than by Qt, which hashes the user name and
// password as Latin-1: a Chinese password would be refused by every server that stores the
// UTF-8 one.

#include <QByteArray>
#include <QString>

#include <optional>

namespace Sync {

struct DigestChallenge {
    QByteArray realm;
    QByteArray nonce;
    QByteArray opaque;
    QByteArray algorithm; ///< as the server named it: "MD5", "SHA-256", "MD5-sess"...
    bool qopAuth = false; ///< the server offers qop=auth
    bool stale = false;   ///< the nonce expired; the password itself was right
};

/// The Digest challenge among the WWW-Authenticate values; nothing when there is none or its
/// algorithm is one we cannot answer.
std::optional<DigestChallenge> digestChallenge(const QByteArray& header);

/// The Authorization value answering `challenge` for one request.
QByteArray digestAuthorization(const DigestChallenge& challenge, const QString& user,
                               const QString& password, const QByteArray& method,
                               const QByteArray& uri, quint32 count, const QByteArray& cnonce);

} // namespace Sync
