#pragma once

#include <QByteArray>
#include <QString>

struct sqlite3;

/// The database password is kept in the file as a salted SHA-256, never as plain text.
namespace DbKey {

QByteArray hash(const QByteArray& salt, const QString& password);

enum class Check {
    Match,    ///< the file carries this database password
    Mismatch, ///< it carries another one
    NoRecord, ///< it carries none: not one of this program's databases
    Failed,   ///< the record could not be read; `rc` says why
};

/// Reads the password record of an open database and compares it with `password`.
Check check(sqlite3* db, const QString& password, int* rc);

} // namespace DbKey
