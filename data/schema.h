#pragma once

#include <QString>

struct sqlite3;

namespace Schema {

/// Creates a new database file with tables zl and yh, one yh row holding `userPassword`,
/// protected by `databasePassword`. Fails if the file exists.
void createDatabase(const QString& path, const QString& databasePassword,
                    const QString& userPassword);

/// Adds the indexes of a new database that an older one lacks; SQLite's result code.
int addMissingIndexes(sqlite3* db);

} // namespace Schema
