#pragma once

#include <QByteArray>
#include <QStringList>
#include <QVector>

struct sqlite3;
namespace Sqlite {
class Database;
}

/// The pictures a card was read from (its front, and a back the user adds), kept as JPEG
/// bytes in a side table by card ID, so zl never changes. A deleted card's pictures stay
/// hidden while the history can still bring the card back, and come back with it. Calls on
/// a bare connection work in the caller's transaction; all raise the data layer's error
/// when SQLite refuses.
namespace CardPicture {

enum class Side {
    Front = 0,
    Back = 1,
};

/// The statements that make the table; a file is ours with or without it.
QStringList schemaStatements();
/// Makes the table when the file lacks it; SQLite's result code.
int addTable(sqlite3* db);

/// Stores a side of card `id`, replacing the one it had.
void store(sqlite3* db, qint64 id, Side side, const QByteArray& jpeg);
/// The JPEG bytes of a side of card `id`; empty when it has none.
QByteArray read(sqlite3* db, qint64 id, Side side);
/// The sides card `id` has, front first.
QVector<Side> sides(sqlite3* db, qint64 id);
/// How many cards have a picture.
qint64 cardsWithPictures(sqlite3* db);

/// Stores a side of card `id` in a transaction of its own; refused with words for the
/// user when the card is no longer there.
void replace(const Sqlite::Database& db, qint64 id, Side side, const QByteArray& jpeg);
/// Removes a side of card `id` in a transaction of its own (the back goes with the front).
void remove(const Sqlite::Database& db, qint64 id, Side side);

/// Card `id` was deleted: its pictures are put aside for an undo. Pictures of cards deleted
/// earlier go for good once the history no longer holds those cards.
void cardDeleted(sqlite3* db, qint64 id);
/// Card `id` was written: one put back by an undo gets its pictures back.
void cardWritten(sqlite3* db, qint64 id);
/// Drops the pictures of deleted cards the history no longer holds.
void purge(sqlite3* db, qint64 keep = 0);

} // namespace CardPicture
