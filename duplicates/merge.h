#pragma once

#include "finder.h"

#include "core/card.h"

#include <QVector>

struct sqlite3;

/// One card made of a group of duplicates.
namespace Duplicates {

/// The card `cards` (with their `ids`, ascending) become: in each field the non-empty value,
/// else the longer, else the one of the card added last (the highest ID). Every value not
/// kept, unless it says the same as the kept one (a phone number written another way, say),
/// is added to 备注 as a "label: value" line, so that nothing is lost.
Card mergedCard(const QVector<qint64>& ids, const QVector<Card>& cards);

/// Merges the cards `ids` of zl in one savepoint: the card with the lowest ID becomes
/// mergedCard() of them all, the others are deleted; the quick find and the duplicate keys
/// follow. Throws EDatabaseError, and changes nothing, when a card is no longer there or
/// SQLite fails.
void mergeCards(sqlite3* db, QVector<qint64> ids);

/// Finds the groups and merges every certain one, all in one savepoint. Returns the groups
/// merged.
QVector<Group> mergeAllCertain(sqlite3* db);

} // namespace Duplicates
