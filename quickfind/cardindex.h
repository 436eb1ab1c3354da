#pragma once

#include <QString>
#include <QVector>

#include <functional>
#include <future>

struct sqlite3;
struct Card;
enum class RowWrite;

/// Keeps what the quick find needs in step with the cards, in the transaction of each write.
namespace CardIndex {

/// Whether writes to `table` are writes of cards.
bool isCardTable(const QString& table);
/// The list's write hook: a row of `table` was written or deleted; for a card, the index
/// and the card's UID follow.
void rowWritten(sqlite3* db, const QString& table, qint64 id, RowWrite write);
/// Card `id` of zl was added or changed: read it back and index it.
void cardWritten(sqlite3* db, qint64 id);
/// The same when the caller holds the card already.
void cardWritten(sqlite3* db, qint64 id, const Card& card);
/// The cards `ids` were added to zl, all in this transaction; many are filed at once.
/// Returns false when `progress` said stop; the caller then rolls back.
bool cardsAdded(sqlite3* db, const QVector<qint64>& ids, const std::function<bool()>& progress);
/// Card `id` was deleted from zl.
void cardDeleted(sqlite3* db, qint64 id);

/// Meanwhile, on a thread and a read-only connection of their own: loads the pinyin tables
/// and finds out whether the quick find's index of `file` knows every card, so that the
/// first find need not. Gives false when it does not, or when the file could not be read.
/// It reads in short snapshots, one for each chunk of cards, so that a save waits a moment
/// at most; `between` is called between them.
std::future<bool> checkInBackground(const QString& file, std::function<void()> between = {});

} // namespace CardIndex
