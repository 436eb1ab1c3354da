#pragma once

#include "core/card.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <sqlite3.h>

#include <functional>

/// Finding cards as the user types: every blank-separated word of the text must be found in
/// the card, each in any of the 24 written columns, as a piece of the column's text (case and
/// full-width forms folded), as the start of the pinyin or initials of the name or company
/// from any syllable or word on, or among the digits of the five phone columns.
///
/// What a card needs for that is kept in tables of our own beside zl in the same file
/// (quickfind_*); zl and yh are never changed. Every function works on the caller's open
/// connection, from the thread that uses it, and throws EDatabaseError when SQLite fails or
/// the tables are damaged (build() mends them). The first call that needs pinyin loads ICU's
/// transliterators, about a second.
namespace QuickFind {

/// Called while building: cards done of all; returning false cancels.
using Progress = std::function<bool(qint64 done, qint64 total)>;

/// The statements that create the quick-find tables, exactly as they stand in the file.
QStringList schemaStatements();

/// True when the file holds the quick-find tables in the form this program writes.
bool isBuilt(sqlite3* db);

/// (Re)builds the tables from all cards of zl, inside a savepoint: nothing changes when it
/// fails or `progress` cancels. Returns false when cancelled. Files the cards on `threads`
/// threads of its own (0: one per processor, at most four); `progress` is called on the caller's
/// thread every 1024 cards.
bool build(sqlite3* db, const Progress& progress = {}, int threads = 0);

/// Brings the tables in line with the cards of zl added, deleted or changed in place by
/// someone else (another program, or an older version of this one). Returns true when
/// something had to be done.
bool repair(sqlite3* db, const Progress& progress = {});

/// Gets the index ready to find with: builds it when the file has none of this program's
/// form, telling `progress` as build() does (its first call comes before any card is
/// filed), else repairs it. Returns false when the build was cancelled.
bool ensureReady(sqlite3* db, const Progress& progress = {});

/// True when the tables are built and know every card of zl: repair() would do nothing.
/// Only reads, so it may run on a connection of its own on another thread. With `between`,
/// it reads each chunk of cards in a transaction of its own, calling `between` between them,
/// so that a writer waits a moment at most; it must not be called in a transaction then.
bool isCurrent(sqlite3* db, const std::function<void()>& between = {});

/// Records that card `id` was added or changed to `card`. Call it in the same transaction as
/// the write to zl, before or after it. Nothing happens before build(). Usually a few rows;
/// every 512 changes the chunks they fall in are rewritten (a few hundred ms at a million).
void updateCard(sqlite3* db, qint64 id, const Card& card);

/// Records that the cards `ids` were added to zl, after they were, in the same transaction.
/// Many cards are filed as a build files them, not one by one. `progress` is called now and
/// then; false from it stops, and the caller must roll its transaction back. Returns false
/// then.
bool cardsAdded(sqlite3* db, const QVector<qint64>& ids, const std::function<bool()>& progress);

/// Records that card `id` was deleted; in the same transaction as the delete from zl.
void removeCard(sqlite3* db, qint64 id);

/// The IDs of the cards matching `text`, ascending (the order of "select * from zl"). A text
/// without words matches every card (the window shows the plain list then anyway). Before
/// build() it reads every card instead.
QVector<qint64> find(sqlite3* db, const QString& text);

/// True when another connection has written to the file since the index was last known to
/// be in line with zl over `db`: a find must then check every match against its card. The
/// first call for a connection trusts what was checked when the file was opened.
bool writtenSinceCheck(sqlite3* db);

/// `ids` as find() gave them for `text`, the cards whose name matches a word of it first,
/// each part in the order given. A list of more than kRankedAtMost cards stays as it is.
constexpr int kRankedAtMost = 5000;
QVector<qint64> nameMatchesFirst(sqlite3* db, const QString& text, const QVector<qint64>& ids);

/// What find() gives, by reading every card instead of the index.
QVector<qint64> scan(sqlite3* db, const QString& text);

/// True when `card` matches `text`: the same rule as find(), without the index.
bool matches(const Card& card, const QString& text);

} // namespace QuickFind
