#pragma once

#include "finder.h"

#include "core/card.h"

#include <QVector>

struct sqlite3;

/// One card made of a group of duplicates.
namespace Duplicates {

/// What a value of `column` says, so that two ways of writing the same thing compare equal:
/// names and companies as the finder compares them, phones by number, other text folded.
QString valueMeaning(Field field, const QString& value);

/// The card `cards` (with their `ids`, ascending) become: in each field the non-empty value,
/// else the longer, else the one of the card added last (the highest ID). Every value not
/// kept, unless it says the same as the kept one (a phone number written another way, say),
/// is added to 备注 as a "label: value" line, so that nothing is lost.
Card mergedCard(const QVector<qint64>& ids, const QVector<Card>& cards);

/// For each field, the index in `cards` of the value kept by default (as above); -1 where
/// every card leaves the field empty.
QVector<int> defaultChoices(const QVector<Card>& cards);

/// The card made when field f keeps the value of cards[choices[f]] (-1: empty); every other
/// value that says something else goes into 备注 as a "label: value" line.
Card mergedCard(const QVector<Card>& cards, const QVector<int>& choices);

/// Merges the cards `ids` of zl in one savepoint: the card with the lowest ID becomes
/// mergedCard() of them all, the others are deleted; the quick find and the duplicate keys
/// follow. Throws EDatabaseError, and changes nothing, when a card is no longer there or
/// SQLite fails.
void mergeCards(sqlite3* db, QVector<qint64> ids);

/// The same with the value of each field chosen: `choices` indexes the cards in ascending ID
/// order, as mergedCard() takes them; empty for the default.
void mergeCards(sqlite3* db, QVector<qint64> ids, const QVector<int>& choices);

/// Finds the groups and merges every certain one, all in one savepoint. Returns the groups
/// merged.
QVector<Group> mergeAllCertain(sqlite3* db);

} // namespace Duplicates
