#pragma once

#include <QString>

struct sqlite3;
enum class RowWrite;

namespace Duplicates {

/// A write hook for writes that put cards back (undo): the quick find, the UIDs and the
/// duplicate keys follow card `id` of `table`.
void followRow(sqlite3* db, const QString& table, qint64 id, RowWrite write);
/// The duplicate keys alone follow, for a hook that keeps the rest in step already.
void followKeys(sqlite3* db, const QString& table, qint64 id, RowWrite write);

} // namespace Duplicates
