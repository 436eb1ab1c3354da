#pragma once

#include <QString>

struct sqlite3;
struct Card;

/// Keeps what the quick find needs in step with the cards, in the transaction of each write.
namespace CardIndex {

/// Whether writes to `table` are writes of cards.
bool isCardTable(const QString& table);
/// Card `id` of zl was added or changed: read it back and index it.
void cardWritten(sqlite3* db, qint64 id);
/// The same when the caller holds the card already.
void cardWritten(sqlite3* db, qint64 id, const Card& card);
/// Card `id` was deleted from zl.
void cardDeleted(sqlite3* db, qint64 id);

} // namespace CardIndex
