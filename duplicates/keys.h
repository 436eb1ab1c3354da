#pragma once

#include <QVector>

struct sqlite3;
struct Card;

/// The duplicate keys of every card (dup_keys: its phones, mobiles, e-mails and name with
/// company, normalised), so that the cards one card resembles are found by an index instead
/// of by reading every card. Kept like the quick find's tables: every write of zl calls
/// updateKeys() or removeKeys() in its own transaction; nothing happens before rebuildKeys()
/// made the table. Each function throws EDatabaseError when SQLite fails.
namespace Duplicates {

/// Whether the table exists.
bool hasKeys(sqlite3* db);

/// Makes the table anew from every card of zl, inside a savepoint: all or nothing.
void rebuildKeys(sqlite3* db);

/// Card `id` was added or changed to `card`.
void updateKeys(sqlite3* db, qint64 id, const Card& card);

/// Card `id` was deleted.
void removeKeys(sqlite3* db, qint64 id);

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
