#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

/// The database password is kept in the file as a salted SHA-256, never as plain text.
namespace DbKey {

inline QByteArray hash(const QByteArray& salt, const QString& password) {
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(salt);
    h.addData(password.toUtf8());
    return h.result().toHex();
}

} // namespace DbKey
