#pragma once

#include <QString>

namespace Schema {

/// Creates a new database file with tables zl and yh, one yh row holding `userPassword`,
/// protected by `databasePassword`. Fails if the file exists.
void createDatabase(const QString& path, const QString& databasePassword,
                    const QString& userPassword);

} // namespace Schema
