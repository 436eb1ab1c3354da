#pragma once

#include <QString>

/// A rollback journal left beside a database by a write that never finished ("hot").
/// Opening the database plays it back into the file; these checks make sure that only a
/// journal of this very file is played, and that the file comes out of it whole.
namespace Journal {

/// The journal's name beside `database`.
QString fileOf(const QString& database);

/// Why the journal's pages cannot be the ones a write to `database` set aside, in words for
/// the user; empty when they can be. Reads both files, changes neither.
QString foreignProblem(const QString& database, const QString& journal);

/// Plays the journal into copies of both files in a scratch folder and checks the result:
/// whole, this program's schema, and `databasePassword`. Empty when the result is sound;
/// otherwise why not. `noRoom` tells that no copy could be made for want of room.
QString trialProblem(const QString& database, const QString& journal,
                     const QString& databasePassword, bool* noRoom);

/// Whether SQLite would play a journal into `database` when it next opens it: one is there,
/// and no other program is in the middle of writing it.
bool isHot(const QString& database);

} // namespace Journal
