#pragma once

#include "card.h"

#include <QString>
#include <QVariantList>
#include <QVector>

#include <functional>

struct sqlite3;

namespace Sqlite {
class Database;
}

/// Cards in and out in bulk, for import, export and the tools.
namespace CardStore {

/// Yields the next card; false when there are no more.
using CardSource = std::function<bool(Card* card)>;
/// Told how many cards are done; false cancels.
using Progress = std::function<bool(qint64 done)>;
/// Files the new cards `ids` elsewhere in the same transaction (the quick find does);
/// false when `progress` said stop.
using Filing = std::function<bool(sqlite3* db, const QVector<qint64>& ids,
                                  const std::function<bool()>& progress)>;

/// Adds every card `next` yields in one transaction: all of them or, on an error or a
/// cancel, none. `added` is told each new card's ID in that transaction, `filing` all of
/// them at the end of it. Returns the new cards' IDs in the order they were added; empty
/// when cancelled.
QVector<qint64> addCards(const Sqlite::Database& db, const CardSource& next,
                         const Progress& progress = {},
                         const std::function<void(qint64 id)>& added = {},
                         const Filing& filing = {});

using CardVisit = std::function<void(qint64 id, const Card& card)>;
/// Calls `visit` for each card the statement lists, in its order, reading as it goes.
void forEachCard(const Sqlite::Database& db, const QString& statement,
                 const QVariantList& parameters, const CardVisit& visit);
/// The same on a bare connection, whose failures name no file.
void forEachCard(sqlite3* db, const QString& statement, const QVariantList& parameters,
                 const CardVisit& visit);

} // namespace CardStore
