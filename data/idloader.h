#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantList>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "sqlite.h"

/// Reads the row identities ("ID") of a statement over a read-only connection of its own:
/// the first ones at once, the rest on a thread of its own once started, handed over in
/// batches, so that a list can be shown before all of its rows are known.
///
/// One statement reads every identity, so they are all of one moment: its read lock keeps
/// other programs from committing until the last one is read.
class IdLoader {
public:
    /// Appends about `max` more identities to `out` (it may give more): SQLITE_ROW while more
    /// may come, SQLITE_DONE at the end, else SQLite's error code. It may throw EError.
    using Step = std::function<int(QVector<qint64>& out, qsizetype max)>;
    /// Makes the steps that read identities over `reader`, the loader's connection.
    using Source = std::function<Step(sqlite3* reader)>;

    /// Reads `SELECT "ID" FROM (statement)` from `file`, with the statement's "?" bound to
    /// `parameters`: the first `firstRows` before returning, the rest on a thread once
    /// started. `ready` is called on that thread when identities or the end become ready
    /// while none were waiting to be taken.
    IdLoader(const QString& file, const QByteArray& statement, const QVariantList& parameters,
             qsizetype firstRows, std::function<void()> ready);
    /// The same for the identities `source` gives, read over the loader's connection.
    IdLoader(const QString& file, const Source& source, qsizetype firstRows,
             std::function<void()> ready);
    /// The same over `reader`, a read-only connection of the caller's that outlives the
    /// loader and is used by nothing else meanwhile: its cache stays warm from one list to
    /// the next.
    IdLoader(sqlite3* reader, const Source& source, qsizetype firstRows,
             std::function<void()> ready);
    /// Stops reading and waits for the thread.
    ~IdLoader();
    IdLoader(const IdLoader&) = delete;
    IdLoader& operator=(const IdLoader&) = delete;

    /// Starts reading the rest, if it was not started yet.
    void start();
    /// Waits until `count` identities have been read in all, or reading has ended, appending
    /// them to `ids` as they come; starts reading the rest if need be. True once reading has
    /// ended and everything was taken.
    bool takeUntil(QVector<qint64>& ids, qsizetype count);
    /// Appends the identities read since the last call to `ids`; true once reading has ended
    /// and everything was taken.
    bool take(QVector<qint64>& ids);

    /// Whether reading has ended (everything may not have been taken yet).
    bool ended() const;
    /// After the end: SQLite's result code, SQLITE_OK or SQLITE_DONE when all went well.
    int result() const;
    /// After a failed end: what went wrong, in words a user can act on.
    QString errorText() const;

    /// Test seam: called on the loader's thread before it reads past the first rows, with
    /// the flag that tells it to stop; an empty function removes it.
    static void setBeforeTheRestForTesting(std::function<void(const std::atomic<bool>&)> hook);

private:
    /// Steps until `rows` more identities were read or the statement ended; false at its end.
    bool read(qsizetype rows, bool handOver);
    void run();
    void end(int rc, const QString& why = QString());
    void hand(QVector<qint64>& batch, bool end);
    /// Makes the steps over m_reader and reads the first rows.
    void begin(const Source& source, qsizetype firstRows);

    QString m_file;
    Sqlite::Database m_db;
    sqlite3* m_reader = nullptr; // m_db's, or the caller's
    Sqlite::Statement m_statement;
    Step m_step;             // after m_db: gone before it
    QVector<qint64> m_batch; // read and not yet handed over
    std::function<void()> m_ready;
    bool m_started = false;
    bool m_announce = false; // set before the thread starts; the caller takes what came first
    std::atomic<bool> m_stop{false};
    std::atomic<qsizetype> m_wanted;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<QVector<qint64>> m_handed; // batches not taken yet
    qsizetype m_count = 0;                 // identities handed over in all
    bool m_ended = false;
    bool m_announced = false; // `ready` was called and nothing was taken since
    int m_result = 0;
    QString m_errorText;

    std::thread m_thread;
};
