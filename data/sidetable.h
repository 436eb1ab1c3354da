#pragma once

#include <QStringList>

#include <initializer_list>

struct sqlite3;

/// The tables beside zl that a file made by an older version may lack, made when first needed.
namespace SideTable {

/// A table or index, by name, and the statement that makes it.
struct Definition {
    const char* name;
    const char* create;
};

/// Which of `names` (tables or indexes) the file holds; `rc` receives SQLite's result code.
QStringList present(sqlite3* db, const QStringList& names, int* rc);
/// Whether the file holds this table or index; throws the data layer's error when SQLite fails.
bool exists(sqlite3* db, const char* name);
/// Makes those of `definitions` the file lacks, in order; SQLite's result code.
int addMissing(sqlite3* db, std::initializer_list<Definition> definitions);

} // namespace SideTable
