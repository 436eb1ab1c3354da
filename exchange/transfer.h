#pragma once

#include "cardreader.h"
#include "format.h"

#include <QStringList>
#include <QVariantList>
#include <QVector>

#include <functional>

struct sqlite3;

namespace Exchange {

/// Told how far the work is (in the units of `total`); false cancels.
using TransferProgress = std::function<bool(qint64 done, qint64 total)>;

struct ImportResult {
    QVector<qint64> ids;    ///< the new cards, in the order they were added
    QList<Skipped> skipped; ///< entries left out, each naming its line (and file)
    bool cancelled = false; ///< nothing was added
};

/// Reads the cards of every file and adds them to the database in one transaction: all of
/// them, or none when a file cannot be read, the database refuses, or the user cancels.
ImportResult importFiles(sqlite3* db, const QString& databaseFile, const QStringList& files,
                         const TransferProgress& progress = {});

/// Writes the cards with these IDs, in this order, to `path`. The file appears whole or not
/// at all. Returns how many cards were written; 0 and no file when cancelled.
int exportCards(sqlite3* db, const QString& databaseFile, const QVector<qint64>& ids,
                const QString& path, Format format, const TransferProgress& progress = {});

/// The IDs of the cards a statement lists, in its order.
QVector<qint64> cardIds(sqlite3* db, const QString& databaseFile, const QString& statement,
                        const QVariantList& parameters);

} // namespace Exchange
