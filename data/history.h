#pragma once

#include "card.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>
#include <optional>

struct sqlite3;
class TADOQuery;
namespace Sqlite {
class Statement;
}
enum class RowWrite;

/// What each change did to the cards, so that it can be taken back: one row per operation
/// in card_history, and in card_history_rows what each card it changed or deleted was
/// before (the cards it added are only their IDs). Every call works on the caller's
/// connection and in its transaction, and raises the data layer's error when SQLite refuses.
namespace History {

/// The statements that make the tables; a file is ours with or without them.
QStringList schemaStatements();
/// Makes the tables when the file lacks them; SQLite's result code.
int addTables(sqlite3* db);

/// A card as it was: its 24 fields, the day it was added and its UID, or "did not exist".
struct Image {
    bool exists = false;
    Card card;
    QString addedOn;
    QString uid;
};
/// Card `id` as it is now.
Image imageOf(sqlite3* db, qint64 id);

/// Reads cards as imageOf() does, with its statements prepared once, for many cards in a row.
class ImageReader {
public:
    explicit ImageReader(sqlite3* db);
    ~ImageReader();
    ImageReader(const ImageReader&) = delete;
    ImageReader& operator=(const ImageReader&) = delete;
    Image read(qint64 id);

private:
    std::unique_ptr<Sqlite::Statement> m_card;
    std::unique_ptr<Sqlite::Statement> m_uid; // none without the UID table
};

/// The writes made on one connection while it is open are recorded as one operation, in
/// the transactions of those writes: nothing is written until the first of them, and a
/// rolled-back transaction takes its part of the record with it. An Operation opened while
/// another is open on the same connection joins it (a merge inside a larger merge).
class Operation {
public:
    /// How many cards were added, changed and deleted so far.
    struct Counts {
        int added = 0;
        int changed = 0;
        int deleted = 0;
    };

    Operation(sqlite3* db, const QString& description);
    ~Operation();
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    /// The operation open on `db`'s connection in this thread; null when none is.
    static Operation* current(sqlite3* db);

    /// Words the description from the counts each time it is stored (an import's count).
    void setDescriber(std::function<QString(const Counts&)> describer);
    void setDescription(const QString& description);
    /// Card `id` is about to be changed, or deleted: keeps what it is now, the first time.
    void changing(qint64 id, bool deleting = false);
    /// The same with what the caller read before the write.
    void keep(qint64 id, const Image& before, bool deleting = false);
    /// Cards added by this operation.
    void added(const QVector<qint64>& ids);
    /// The cards touched so far are as this operation leaves them: notes what they are now,
    /// so that an undo can tell a change the history did not see. Call it before the
    /// transaction ends; cards added are noted as they are reported.
    void finish();
    /// Marks the operation as the undoing of operation `number`.
    void setUndoes(qint64 number);
    /// The operation's number; 0 while nothing has been recorded.
    qint64 number() const;
    const Counts& counts() const;

private:
    void store();
    void noteLeft(QVector<qint64> ids);
    Operation* m_outer = nullptr;
    sqlite3* m_db;
    QString m_description;
    std::function<QString(const Counts&)> m_describer;
    Counts m_counts;
    qint64 m_number = 0;
    qint64 m_undoes = 0;
    QVector<qint64> m_added;
    std::unique_ptr<Sqlite::Statement> m_insertRow;
    QVector<qint64> m_pending; // kept through this object, not yet noted as left
};

/// For code below the callers that open operations: recorded in the operation open on
/// `db`'s connection, nothing when none is.
void changing(sqlite3* db, qint64 id, bool deleting = false);
void added(sqlite3* db, const QVector<qint64>& ids);

/// Records what a dataset writes, through its BeforeWriteHook and WriteHook: a card written
/// while no operation is open becomes an operation of its own ("添加 赵六", "修改 王五",
/// "删除 李四"); within one, it joins it.
class RowRecorder {
public:
    void before(sqlite3* db, const QString& table, qint64 id, RowWrite write);
    void after(sqlite3* db, const QString& table, qint64 id, RowWrite write);
    /// The word for cards added from now on ("识别" for a recognised one); empty for "添加".
    void setAddVerb(const QString& verb) {
        m_addVerb = verb;
        m_addedWithVerb = 0;
    }
    /// The card last added under the word set, 0 for none since it was set.
    qint64 addedWithVerb() const { return m_addedWithVerb; }

private:
    qint64 m_id = -1; // the row `before` saw, 0 for a new one
    Image m_image;
    QString m_addVerb;
    qint64 m_addedWithVerb = 0;
};
/// Sets the hooks of `dataset` to record its card writes, after what its write hook does;
/// the recorder they share.
std::shared_ptr<RowRecorder> recordWrites(TADOQuery* dataset);

/// One recorded operation, as the list shows it.
struct Entry {
    qint64 number = 0;
    QDateTime time;
    QString description;
    qint64 undoes = 0; ///< the operation this one undid, 0 for none
    bool undone = false;
};
/// The most recent `limit` operations, newest first.
QVector<Entry> recent(sqlite3* db, int limit = 1000);

/// A deleted card that can be brought back: the operation that deleted it, not undone yet.
struct DeletedCard {
    qint64 id = 0;
    qint64 operation = 0;
    QDateTime time;
    QString name;
    QString company;
};
/// Cards deleted and not back, newest first.
QVector<DeletedCard> deletedCards(sqlite3* db, int limit = 1000);

/// Called for each card an undo writes (as the list's write hook is), so that what is kept
/// beside the cards follows.
using RowHook = std::function<void(sqlite3* db, const QString& table, qint64 id, RowWrite write)>;

/// Why operation `number` cannot be undone, in words for the user; empty when it can.
QString undoProblem(sqlite3* db, qint64 number);
/// Puts back every card operation `number` touched as it was before, in one transaction, as
/// an operation of its own; refuses with undoProblem()'s words, changing nothing. Returns
/// the number of the undoing operation. `onlyCard` limits it to one card (bringing back a
/// deleted card). `progress` is told how many cards are back; false stops, and nothing is
/// changed (0 is returned).
qint64 undo(sqlite3* db, const QString& file, qint64 number, const RowHook& hook,
            qint64 onlyCard = 0,
            const std::function<bool(qint64 done, qint64 total)>& progress = {});

/// How long the history is kept: an operation goes only when it is both older than `days`
/// and not among the last `count`.
struct Limits {
    int days = 90;
    int count = 100000;
};
Limits limits(sqlite3* db);
/// Stores shorter (or the default) limits; applied at once and at each later operation.
void setLimits(sqlite3* db, const QString& file, const Limits& limits);
/// Drops what is older than the limits; called within a write transaction.
void trim(sqlite3* db);

/// The description's way of naming a card: its name, or its ID when it has none.
QString cardLabel(const Card& card, qint64 id);

} // namespace History
