#include "davauth.h"

#include <QCryptographicHash>
#include <QList>

namespace Sync {

namespace {

// The parameters of one challenge, from just after "Digest " up to the next scheme.
QList<QPair<QByteArray, QByteArray>> parameters(const QByteArray& text, int from) {
    QList<QPair<QByteArray, QByteArray>> found;
    int i = from;
    const int n = int(text.size());
    while (i < n) {
        while (i < n && (text[i] == ' ' || text[i] == ',' || text[i] == '\t' || text[i] == '\n'))
            ++i;
        const int keyStart = i;
        while (i < n && text[i] != '=' && text[i] != ' ' && text[i] != ',')
            ++i;
        const QByteArray key = text.mid(keyStart, i - keyStart).trimmed().toLower();
        if (i >= n || text[i] != '=')
            break; // the next scheme's name, or the end
        ++i;
        QByteArray value;
        if (i < n && text[i] == '"') {
            for (++i; i < n && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < n)
                    ++i;
                value += text[i];
            }
            ++i;
        } else {
            const int valueStart = i;
            while (i < n && text[i] != ',')
                ++i;
            value = text.mid(valueStart, i - valueStart).trimmed();
        }
        found.append({key, value});
    }
    return found;
}

QCryptographicHash::Algorithm hashOf(const QByteArray& algorithm) {
    return algorithm.toUpper().startsWith("SHA-256") ? QCryptographicHash::Sha256
                                                     : QCryptographicHash::Md5;
}

QByteArray hex(QCryptographicHash::Algorithm algorithm, const QByteArray& data) {
    return QCryptographicHash::hash(data, algorithm).toHex();
}

QByteArray quoted(const QByteArray& value) {
    QByteArray out = value;
    out.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + out + '"';
}

} // namespace

std::optional<DigestChallenge> digestChallenge(const QByteArray& header) {
    const int at = int(header.toLower().indexOf("digest "));
    if (at < 0)
        return std::nullopt;
    DigestChallenge c;
    c.algorithm = "MD5";
    for (const auto& [key, value] : parameters(header, at + 7)) {
        if (key == "realm")
            c.realm = value;
        else if (key == "nonce")
            c.nonce = value;
        else if (key == "opaque")
            c.opaque = value;
        else if (key == "algorithm")
            c.algorithm = value;
        else if (key == "qop")
            for (const QByteArray& q : value.toLower().split(','))
                c.qopAuth = c.qopAuth || q.trimmed() == "auth";
        else if (key == "stale")
            c.stale = value.compare("true", Qt::CaseInsensitive) == 0;
    }
    const QByteArray a = c.algorithm.toUpper();
    if (c.nonce.isEmpty() ||
        (a != "MD5" && a != "MD5-SESS" && a != "SHA-256" && a != "SHA-256-SESS"))
        return std::nullopt;
    return c;
}

QByteArray digestAuthorization(const DigestChallenge& c, const QString& user,
                               const QString& password, const QByteArray& method,
                               const QByteArray& uri, quint32 count, const QByteArray& cnonce) {
    const QCryptographicHash::Algorithm h = hashOf(c.algorithm);
    const QByteArray name = user.toUtf8();
    QByteArray ha1 = hex(h, name + ':' + c.realm + ':' + password.toUtf8());
    if (c.algorithm.toUpper().endsWith("-SESS"))
        ha1 = hex(h, ha1 + ':' + c.nonce + ':' + cnonce);
    const QByteArray ha2 = hex(h, method + ':' + uri);
    const QByteArray nc = QByteArray::number(count, 16).rightJustified(8, '0');
    const QByteArray response =
        c.qopAuth ? hex(h, ha1 + ':' + c.nonce + ':' + nc + ':' + cnonce + ":auth:" + ha2)
                  : hex(h, ha1 + ':' + c.nonce + ':' + ha2);
    QByteArray out = "Digest username=" + quoted(name) + ", realm=" + quoted(c.realm) +
                     ", nonce=" + quoted(c.nonce) + ", uri=" + quoted(uri) +
                     ", algorithm=" + c.algorithm + ", response=" + quoted(response);
    if (c.qopAuth)
        out += ", qop=auth, nc=" + nc + ", cnonce=" + quoted(cnonce);
    if (!c.opaque.isEmpty())
        out += ", opaque=" + quoted(c.opaque);
    return out;
}

} // namespace Sync
