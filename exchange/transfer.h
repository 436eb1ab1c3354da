#pragma once

#include "cardfilereader.h"
#include "format.h"

#include "core/progress.h"
#include "data/cardstore.h"

#include <QStringList>
#include <QVariantList>
#include <QVector>

#include <functional>

namespace Sqlite {
class Database;
}

namespace Exchange {

struct ImportResult {
    QVector<qint64> ids;    ///< the new cards, in the order they were added
    QList<Skipped> skipped; ///< entries left out or changed, each naming its line (and file)
    int duplicates = 0;     ///< cards passed over because they are here already
    bool cancelled = false; ///< nothing was added
};

/// What a caller adds to an import: another sense in which a card is here already, and more
/// filing of the new cards in the same transaction. Empty members change nothing.
struct ImportOptions {
    /// Equal for cards that may say the same; `same` then decides.
    std::function<quint64(const Card& card)> hash;
    std::function<bool(const Card& a, const Card& b)> same;
    /// Files the new cards in place of the quick find's own filing (it must do that too).
    CardStore::Filing filing;
    /// Makes the picture a card's file held (its bytes) into the JPEG kept with the card;
    /// empty when it is no picture. Without it such pictures are left out.
    std::function<QByteArray(const QByteArray& picture)> keepPicture;
};

/// Reads the cards of every file and adds them to the database in one transaction: all of
/// them, or none when a file cannot be read, the database refuses, or the user cancels. A
/// card whose UID is here already, or whose 24 fields equal a card here, is passed over.
/// Each card keeps the UID its vCard gave it, or is given one, and the picture its vCard held
/// as its front (through `options.keepPicture`); a damaged one is left out and said. `fileCards`
/// files the new cards for the quick find in the same transaction (the caller knows it; this layer
/// does not); `options` may take its place. `progress` counts the bytes read while Importing, then
/// stands while the cards are Filing.
ImportResult importFiles(const Sqlite::Database& db, const QStringList& files,
                         const CardStore::Filing& fileCards, Core::Progress* progress = nullptr,
                         const ImportOptions& options = {});

/// Writes the cards with these IDs, in this order, to `path`. The file appears whole or not
/// at all. Returns how many cards were written; 0 and no file when cancelled. A vCard
/// carries each card's UID, made and stored first for a card that has none. Refuses a path
/// that leads to the database, its journal or its backup. `withPictures` adds each card's
/// kept picture (its front) to a format that takes one (writesPictures).
int exportCards(const Sqlite::Database& db, const QVector<qint64>& ids, const QString& path,
                Format format, Core::Progress* progress = nullptr, bool withPictures = false);
/// Whether a card's picture goes into files of this format: vCard 3.0 and 4.0.
bool writesPictures(Format format);

/// How many cards the database holds.
qint64 cardCount(const Sqlite::Database& db);

/// The IDs of the cards a statement lists, in its order.
QVector<qint64> cardIds(const Sqlite::Database& db, const QString& statement,
                        const QVariantList& parameters);

} // namespace Exchange
