#pragma once

#include "cardfilereader.h"
#include "format.h"

#include "core/progress.h"

#include <QStringList>
#include <QVariantList>
#include <QVector>

#include <functional>

struct sqlite3;

namespace Exchange {

struct ImportResult {
    QVector<qint64> ids;    ///< the new cards, in the order they were added
    QList<Skipped> skipped; ///< entries left out or changed, each naming its line (and file)
    int duplicates = 0;     ///< cards passed over because they are here already
    bool cancelled = false; ///< nothing was added
};

/// Reads the cards of every file and adds them to the database in one transaction: all of
/// them, or none when a file cannot be read, the database refuses, or the user cancels. A
/// card whose UID is here already, or whose 24 fields equal a card here, is passed over.
/// Each card keeps the UID its vCard gave it, or is given one. `progress` counts the bytes
/// read while Importing, then stands while the cards are Filing for the quick find.
ImportResult importFiles(sqlite3* db, const QString& databaseFile, const QStringList& files,
                         Core::Progress* progress = nullptr);

/// Writes the cards with these IDs, in this order, to `path`. The file appears whole or not
/// at all. Returns how many cards were written; 0 and no file when cancelled. A vCard
/// carries each card's UID, made and stored first for a card that has none. Refuses a path
/// that leads to the database, its journal or its backup.
int exportCards(sqlite3* db, const QString& databaseFile, const QVector<qint64>& ids,
                const QString& path, Format format, Core::Progress* progress = nullptr);

/// How many cards the database holds.
qint64 cardCount(sqlite3* db, const QString& databaseFile);

/// The IDs of the cards a statement lists, in its order.
QVector<qint64> cardIds(sqlite3* db, const QString& databaseFile, const QString& statement,
                        const QVariantList& parameters);

} // namespace Exchange
