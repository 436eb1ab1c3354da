#include "synctables.h"

#include "sqlite.h"

namespace SyncTables {

namespace {

const char kAccount[] = "CREATE TABLE \"sync_account\" (\"key\" TEXT PRIMARY KEY, \"value\" TEXT)";
// href: where the card lives on the server; etag: its version there; vcard: the server's
// copy as it was last synced (what the 24 columns do not hold is kept from it); fields: the
// 24 columns as last synced, to tell what changed on either side.
const char kCard[] = "CREATE TABLE \"sync_card\" (\"ID\" INTEGER PRIMARY KEY, "
                     "\"href\" TEXT NOT NULL UNIQUE, \"etag\" TEXT, \"vcard\" BLOB, "
                     "\"fields\" TEXT)";

} // namespace

QStringList schemaStatements() {
    return {QString::fromLatin1(kAccount), QString::fromLatin1(kCard)};
}

int addTables(sqlite3* db) {
    int rc = SQLITE_OK;
    const QStringList found = Sqlite::firstColumn(
        db,
        "SELECT name FROM sqlite_master WHERE type='table' AND name IN ('sync_account', "
        "'sync_card')",
        &rc);
    if (rc != SQLITE_OK)
        return rc;
    if (!found.contains(QStringLiteral("sync_account")))
        rc = Sqlite::exec(db, kAccount);
    if (rc == SQLITE_OK && !found.contains(QStringLiteral("sync_card")))
        rc = Sqlite::exec(db, kCard);
    return rc;
}

} // namespace SyncTables
