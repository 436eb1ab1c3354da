#pragma once

#include <QString>
#include <QVariant>

#include <sqlite3.h>

#include <functional>
#include <string_view>

/// The one way into SQLite: connections and statements that clean up after themselves,
/// and the texts that say what went wrong.
namespace Sqlite {

/// How long a statement waits for another program's short write before giving up: long
/// enough to ride out a save, short enough not to hang the window.
constexpr int kBusyTimeoutMs = 1500;

enum class OpenMode {
    ReadWrite, ///< an existing file; never creates one
    ReadOnly,  ///< an existing file, read only
    Immutable, ///< read only, no locks, no journal played, never through a symbolic link:
               ///< the bytes exactly as they are
    Create,    ///< a new file
    Memory,    ///< a new database in memory; the file name is ignored
};

/// Words a failed call on `db` (SQLite's result code `rc`) as the message the user sees.
using Failure = std::function<QString(sqlite3* db, int rc)>;

/// One connection, closed when it goes out of scope, and the file it was opened on, so that
/// a failure can name it. Every connection refuses what a crafted file could make it do: the
/// defensive setting is on, the schema is not trusted, and double-quoted text is always an
/// identifier.
class Database {
public:
    Database() = default;
    ~Database() { close(); }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    Database(Database&& other) noexcept
        : m_db(other.m_db)
        , m_file(std::move(other.m_file)) {
        other.m_db = nullptr;
    }
    Database& operator=(Database&& other) noexcept;

    /// Opens `file`; returns SQLite's result code. On failure the handle stays open for
    /// errorText() until close(). A connection that `oneThreadAtATime` uses is never used
    /// by two threads at once, so it needs no lock of its own (sqlite3_interrupt excepted).
    int open(const QString& file, OpenMode mode, bool oneThreadAtATime = false);
    void close();
    sqlite3* get() const { return m_db; }
    /// The file given to open(); empty for a database in memory.
    const QString& file() const { return m_file; }
    /// A failed call on this connection in errorText's words, naming its file.
    Failure failure() const;
    explicit operator bool() const { return m_db != nullptr; }
    /// Runs statements that return no rows; returns SQLite's result code.
    int exec(const char* sql) const;

private:
    sqlite3* m_db = nullptr;
    QString m_file;
};

/// The failure of a call on `file`: errorText's words.
Failure fileFailure(const QString& file);

/// One prepared statement, finalized when it goes out of scope. Made with a Failure it
/// prepares at once, and the throwing helpers (set…, next, run) throw EDatabaseError in that
/// failure's words; the plain calls return SQLite's result code for callers that look at it.
class Statement {
public:
    Statement() = default;
    /// Prepares the first statement of `sql` or throws.
    Statement(sqlite3* db, const QByteArray& sql, Failure failure);
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    /// Prepares the first statement of `sql`; returns SQLite's result code.
    /// `consumed` receives the length (in UTF-8 bytes) of the text that statement took up.
    int prepare(sqlite3* db, const QByteArray& sql, int* consumed = nullptr);
    sqlite3_stmt* get() const { return m_stmt; }

    int parameterCount() const { return sqlite3_bind_parameter_count(m_stmt); }
    /// Binds a value as the program means it: null, integer, real, bytes or text.
    int bind(int position, const QVariant& value);
    int step() { return sqlite3_step(m_stmt); }
    int reset() { return sqlite3_reset(m_stmt); }

    /// The words the throwing helpers use from now on.
    void setFailure(Failure failure) { m_failure = std::move(failure); }
    /// Throws the failure of `rc`; SQLITE_OK, SQLITE_ROW and SQLITE_DONE pass.
    void check(int rc) const;
    /// Throwing binds: a value as bind() takes it, an integer, bytes, UTF-8 text.
    Statement& set(int position, const QVariant& value);
    Statement& set(int position, qint64 value);
    Statement& set(int position, std::string_view bytes);
    Statement& setText(int position, std::string_view utf8);
    /// Binds `values` to the first parameters, in order.
    Statement& setAll(const QVariantList& values, int first = 1);
    /// Steps; true while there is a row, false when done.
    bool next();
    /// Runs a statement that returns no rows, and rewinds it.
    void run();
    /// Back to the start, its parameters cleared.
    void rewind();

    int columnCount() const { return sqlite3_column_count(m_stmt); }
    QString columnName(int column) const;
    qint64 int64(int column) const { return sqlite3_column_int64(m_stmt, column); }
    /// A column of the current result row as text; a null QVariant for SQL NULL.
    QVariant text(int column) const;
    /// A column's bytes and its UTF-8 text, valid until the next step.
    std::string_view blob(int column) const;
    std::string_view utf8(int column) const;

private:
    [[noreturn]] void fail(int rc) const;

    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
    Failure m_failure;
};

/// Runs statements that return no rows, or throws.
void run(sqlite3* db, const char* sql, const Failure& failure);

/// Writes rows of `columns` values each, `values` holding them one row after another, with
/// `insert`, the statement up to its VALUES ("INSERT OR REPLACE INTO t (a, b) VALUES"), a few
/// hundred rows to a statement; or throws.
void insertRows(sqlite3* db, const char* insert, int columns, const QVariantList& values,
                const Failure& failure);

/// A transaction rolled back unless commit() ends it, so that nothing half done stays.
class Transaction {
public:
    enum class Start {
        Deferred,  ///< takes the lock at the first write
        Immediate, ///< takes the write lock at once: what it reads stays so until it writes
    };
    /// Begins or throws.
    Transaction(sqlite3* db, Failure failure, Start start = Start::Immediate);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    /// Commits or throws; a failed commit is rolled back.
    void commit();

private:
    sqlite3* m_db;
    Failure m_failure;
    bool m_open = false;
};

/// A savepoint released by commit() and rolled back otherwise; nests inside a transaction
/// or another savepoint.
class Savepoint {
public:
    /// Opens or throws.
    Savepoint(sqlite3* db, Failure failure);
    ~Savepoint();
    Savepoint(const Savepoint&) = delete;
    Savepoint& operator=(const Savepoint&) = delete;
    /// Releases or throws.
    void commit();

private:
    sqlite3* m_db;
    Failure m_failure;
    bool m_done = false;
};

/// Has SQLite count the memory it takes (sqlite3_memory_used), which it does not by default
/// here; only before the process opens its first database.
void countMemory();
/// Whether a result code means another program holds the file.
bool isBusy(int rc);
/// SQLite's own last message for `db` (or for `rc`), the technical part of a message.
QString technicalText(sqlite3* db, int rc);
/// What went wrong with `file`, in words a user can act on, with SQLite's text after it.
QString errorText(sqlite3* db, int rc, const QString& file = QString());
/// Whether a failed write means there is no room: a full disk, a quota or a size limit.
bool isNoRoom(sqlite3* db, int rc);
/// The message for a file another program holds.
QString lockedText(const QString& file);
/// Runs statements that return no rows; returns SQLite's result code.
int exec(sqlite3* db, const char* sql);
/// The first column of each row `sql` gives; `rc` receives SQLITE_OK or the failing code.
QStringList firstColumn(sqlite3* db, const QByteArray& sql, int* rc);
/// `name` as an SQL identifier in double quotes, embedded quotes doubled.
QString quoted(const QString& name);
/// The column names of a table, in order; empty when there is no such table.
QStringList columnsOf(sqlite3* db, const QString& table, int* rc);
/// Why `file` cannot be a whole database, judged by its header; empty when it can be.
/// SQLite itself takes an empty file for a new database and reads a cut-off one until it
/// trips over the missing pages. `unreadable` tells that the file could not be read at all.
/// With `exactSize`, a file longer than its header says is refused too.
QString headerProblem(const QString& file, bool* unreadable = nullptr, bool exactSize = false);
/// A path as the user's system writes it.
QString native(const QString& path);

} // namespace Sqlite
