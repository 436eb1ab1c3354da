#pragma once

#include <QString>
#include <QStringList>

struct sqlite3;

struct sqlite3;

namespace Schema {

/// Creates a new database file with tables zl and yh, one yh row holding `userPassword`,
/// protected by `databasePassword`. Fails if the file exists.
void createDatabase(const QString& path, const QString& databasePassword,
                    const QString& userPassword);

/// The statements that make a new database's objects, in the order they are run. A database
/// is recognised as ours by comparing its objects with what these make, so their text must
/// never change: a new object gets a statement of its own.
QStringList createStatements();
/// Objects that newer versions add to a database made earlier (or leave out of a new one):
/// a file is ours with or without each of them.
QStringList optionalStatements();
/// The tables of the quick find's index beside zl, as it makes them.
QStringList quickFindStatements();
/// The duplicate finder's table of normalised phones, e-mails and names.
QStringList duplicateKeyStatements();
/// The format of the index those tables hold, as quickfind_meta records it.
/// 2: with the checksums of quickfind_sum.
constexpr int kQuickFindFormat = 2;

enum class Strictness {
    /// Every object is one this program makes (backups to restore).
    Exact,
    /// The objects that zl, yh and the password record rely on are ours, and none is
    /// missing; tables of other programs are tolerated (the database in use).
    OwnTables,
};

/// Why the objects in `db` are not the ones this program makes, in words for the user;
/// empty when they are. Reads only the schema table: nothing stored in the file is run,
/// and an entry too long to be ours is refused without being read. `rc` receives
/// SQLITE_OK or the code of a read that failed (the text is then empty); `missing` tells
/// that one of our tables is not there at all.
QString schemaProblem(sqlite3* db, Strictness strictness, int* rc, bool* missing = nullptr);
/// Adds what a new database has and an older one lacks (the index on the IDs, the file's
/// own identity number, the cards' UID table); SQLite's result code.
int addMissingParts(sqlite3* db);

} // namespace Schema
