#pragma once

#include <QStringList>

struct sqlite3;

/// The tables that keep the cards in step with an address book on a server: the account
/// ("sync_account": key and value; never the password) and, by card ID, each card's place on
/// the server, its version and the copy last synced ("sync_card"), and the cards made on the
/// server since the kept sync token ("sync_created"). zl stays as it is.
namespace SyncTables {

/// The statements that make them; a file is ours with or without them.
QStringList schemaStatements();
/// Makes them when the file lacks them (an older file); SQLite's result code.
int addTables(sqlite3* db);

} // namespace SyncTables
