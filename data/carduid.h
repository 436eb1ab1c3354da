#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

struct sqlite3;

/// A stable identity for each card, for other programs that sync cards (vCard's UID): kept
/// from the vCard that brought the card, else made once (when the card is imported or first
/// exported). Kept in a side table by card ID, so
/// zl never changes. Every call works on the caller's connection and in its transaction, and
/// raises the data layer's error when SQLite refuses.
namespace CardUid {

/// The statements that make the table; a file is ours with or without it.
QStringList schemaStatements();
/// Makes the table when the file lacks it (an older file); SQLite's result code.
int addTable(sqlite3* db);

/// The UID of card `id`; empty when it has none yet.
QString uidOf(sqlite3* db, qint64 id);
/// The card that has this UID; 0 when none has.
qint64 idOf(sqlite3* db, const QString& uid);
/// The UID of card `id`, made and stored first when it has none.
QString ensure(sqlite3* db, qint64 id);
/// Gives card `id` this UID, replacing the one it had.
void set(sqlite3* db, qint64 id, const QString& uid);
/// Card `id` was deleted: its UID goes with it.
void cardDeleted(sqlite3* db, qint64 id);

/// The same for many cards in one transaction (an import): the table made once, the
/// statements and the file's identity kept between the calls.
class Batch {
public:
    explicit Batch(sqlite3* db);
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
    qint64 idOf(const QString& uid);
    QString ensure(qint64 id);
    /// ensure() for each of `ids`, then flush().
    void ensureAll(const std::vector<qint64>& ids);
    /// Gives card `id` this UID; each card once.
    void set(qint64 id, const QString& uid);
    /// Writes the UIDs given so far. They wait, a few thousand at most, to be written in UID
    /// order: an index filled in its own order touches each of its pages once, where one
    /// filled at random writes them out and reads them back again and again. Call it before
    /// the transaction ends.
    void flush();

private:
    struct Statements;
    /// The UID card `id` has, queued or written; empty when none.
    QString storedUid(qint64 id);

    sqlite3* m_db;
    std::unique_ptr<Statements> m_st;
    QString m_identity;
    qint64 m_highest; // the highest ID with a UID
    std::vector<std::pair<QString, qint64>> m_queue;
    QHash<QString, qint64> m_queuedIds;
    QHash<qint64, QString> m_queuedUids;
};

/// The UID ensure() makes for card `id`, without storing it: "urn:uuid:" and a UUID drawn
/// from the file's identity and the ID, so it is the same each time.
QString madeUid(sqlite3* db, qint64 id);

} // namespace CardUid
