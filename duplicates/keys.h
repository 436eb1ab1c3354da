#pragma once

#include "exchange/transfer.h"

#include <QVector>

#include <functional>
#include <future>
#include <optional>
#include <vector>

struct sqlite3;
struct Card;
enum class RowWrite;

/// The duplicate keys of every card (dup_keys: its phones, mobiles, e-mails and name with
/// company, normalised), so that the cards one card resembles are found by an index instead
/// of by reading every card. Kept like the quick find's tables: every write of zl calls
/// updateKeys() or removeKeys() in its own transaction; nothing happens before rebuildKeys()
/// made the table. Each function throws EDatabaseError when SQLite fails.
namespace Duplicates {

/// Whether the table exists.
bool hasKeys(sqlite3* db);

/// Which of the tables the file has: the keys alone come from before the checksums.
enum class KeyTables { None, KeysOnly, WithSums };
KeyTables keyTables(sqlite3* db);

/// Brings the keys in line with cards another program added, changed or deleted since they
/// were last known to be in line on this connection: cheap while nobody else wrote (SQLite's
/// data version), else a pass over zl comparing each card's checksum with the one its keys
/// were made from. Keys without checksums, or mostly out of line, are made again, telling
/// `progress` as rebuildKeys() does. False when stopped (nothing changed) or without keys.
bool catchUpKeys(sqlite3* db, const std::function<bool(qint64 done)>& progress = {});
/// Cards whose keys are not in line with zl.
struct OutOfLine {
    std::vector<qint64> written; // added or changed: keys made again
    std::vector<qint64> gone;    // deleted: keys dropped
    qint64 cards = 0;
};

/// Compares the keys with zl on a connection of its own, beside the window, so that the first
/// catchUpKeys() on `db` (the first card saved) need not read every card: it takes the result
/// unless another program wrote since the comparison began. Waits for it when destroyed.
class KeyCheck {
public:
    /// Whether the file is big enough for a comparison beside the window to spare the first
    /// save a wait: a few thousand cards are compared in a few milliseconds.
    static bool worthwhile(sqlite3* db);
    KeyCheck(sqlite3* db, const QString& file);
    ~KeyCheck();
    KeyCheck(const KeyCheck&) = delete;
    KeyCheck& operator=(const KeyCheck&) = delete;
    /// Until the comparison no longer reads the file.
    void wait() const;
    /// Whether catchUpKeys() took the result.
    bool used() const;
    /// For catchUpKeys(): the result, waited for, if it still holds for `db`.
    std::optional<OutOfLine> take(sqlite3* db);

private:
    sqlite3* m_db;
    qint64 m_mark = 0; // of the connection
    qint64 m_version = -1;
    std::future<std::optional<OutOfLine>> m_result;
    bool m_used = false;
};

/// The keys are in line with zl as this connection sees it now.
void trustKeys(sqlite3* db);
/// Whether catchUpKeys() has nothing to do: the keys were in line and nobody else wrote.
bool keysInLine(sqlite3* db);

/// Makes the table anew from every card of zl, inside a savepoint: all or nothing.
/// `progress` is told how many cards are done; false stops, and then nothing is made and
/// false is returned.
bool rebuildKeys(sqlite3* db, const std::function<bool(qint64 done)>& progress = {});

/// Card `id` was added or changed to `card`.
void updateKeys(sqlite3* db, qint64 id, const Card& card);

/// Card `id` was deleted.
void removeKeys(sqlite3* db, qint64 id);

/// A list's write hook: a row of `table` was written or deleted; for a card of zl, its keys
/// follow (read back from the table).
void rowWritten(sqlite3* db, const QString& table, qint64 id, RowWrite write);

/// The filing of cards added in bulk (CardStore::addCards): the quick find's, then the keys.
/// False when `progress` said stop; the caller then rolls back.
bool fileNewCards(sqlite3* db, const QVector<qint64>& ids, const std::function<bool()>& progress);

/// An import that passes over cards the same after folding and files the new cards' keys.
Exchange::ImportOptions importOptions();

/// How many of the cards `ids`, just added, the finder links to a card that was there before
/// them (one with a lower ID than all of them). Looks at no more than `pairs` pairs that share
/// a key; 0 without the table.
int resemblingOlder(sqlite3* db, const QVector<qint64>& ids, int pairs = 5000);

/// The cards `ids` as they are stored, in the order given; a card no longer there is left out
/// (and its ID with it, from `found` when given).
QVector<Card> cardsOf(sqlite3* db, const QVector<qint64>& ids, QVector<qint64>* found = nullptr);

/// A card already there that says the same as `card` after folding (sameAfterFolding()),
/// found through the keys; 0 when there is none.
qint64 sameCardHere(sqlite3* db, const Card& card);

struct Proposal {
    qint64 id;
    bool certain;
};

/// The cards `ids` were added to zl, in this transaction: their keys, read back in bulk.
void cardsAdded(sqlite3* db, const QVector<qint64>& ids);

/// The cards other than `self` that have one of the mobile numbers or e-mail addresses of
/// `card`, ascending: what the question before saving a new card names.
QVector<qint64> holdersOfMobileOrEmail(sqlite3* db, const Card& card, qint64 self = 0);

/// The cards already there that `card` duplicates by the rule of finder.h, ascending; card
/// `self` (the card itself when it is already stored) is left out. Uses the table when there
/// is one, else reads every card.
QVector<Proposal> propose(sqlite3* db, const Card& card, qint64 self = 0);

} // namespace Duplicates
