#include "synctables.h"

#include "sidetable.h"
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
// Cards a sync made on the server after the sync token it kept: a server need not name them
// when asked what changed since that token, so they are looked for by address.
const char kCreated[] = "CREATE TABLE \"sync_created\" (\"ID\" INTEGER PRIMARY KEY)";

} // namespace

QStringList schemaStatements() {
    return {QString::fromLatin1(kAccount), QString::fromLatin1(kCard),
            QString::fromLatin1(kCreated)};
}

int addTables(sqlite3* db) {
    return SideTable::addMissing(
        db, {{"sync_account", kAccount}, {"sync_card", kCard}, {"sync_created", kCreated}});
}

} // namespace SyncTables
