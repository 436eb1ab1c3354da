#include "dbkey.h"

#include "sqlite.h"

#include <QCryptographicHash>

namespace DbKey {

QByteArray hash(const QByteArray& salt, const QString& password) {
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(salt);
    h.addData(password.toUtf8());
    return h.result().toHex();
}

Check check(sqlite3* db, const QString& password, int* rc) {
    Sqlite::Statement st;
    *rc = st.prepare(db, "SELECT \"salt\", \"hash\" FROM \"dbkey\"");
    if (*rc == SQLITE_OK)
        *rc = st.step();
    if (*rc == SQLITE_DONE || (*rc & 0xff) == SQLITE_ERROR)
        return Check::NoRecord;
    if (*rc != SQLITE_ROW)
        return Check::Failed;
    *rc = SQLITE_OK;
    const QByteArray salt = st.text(0).toString().toUtf8();
    const QByteArray stored = st.text(1).toString().toUtf8();
    return hash(salt, password) == stored ? Check::Match : Check::Mismatch;
}

} // namespace DbKey
