#pragma once

#include <QString>
#include <QVariant>

#include <sqlite3.h>

/// One prepared statement on a raw connection handle, finalized when it goes out of scope.
///
/// The datasets talk to SQLite directly rather than through QSqlQuery: reading the row
/// identities of a large table that way is many times faster.
class SqliteStatement {
public:
    SqliteStatement() = default;
    ~SqliteStatement() { sqlite3_finalize(m_stmt); }
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    /// Prepares the first statement of `sql`; returns SQLite's result code.
    /// `consumed` receives the length (in UTF-8 bytes) of the text that statement took up.
    int prepare(sqlite3* db, const QByteArray& sql, int* consumed = nullptr);
    sqlite3_stmt* get() const { return m_stmt; }

    int parameterCount() const { return sqlite3_bind_parameter_count(m_stmt); }
    /// Binds a value as the program means it: null, integer, real, bytes or text.
    int bind(int position, const QVariant& value);
    int step() { return sqlite3_step(m_stmt); }

    int columnCount() const { return sqlite3_column_count(m_stmt); }
    QString columnName(int column) const;
    qint64 int64(int column) const { return sqlite3_column_int64(m_stmt, column); }
    /// A column of the current result row as text; a null QVariant for SQL NULL.
    QVariant text(int column) const;

private:
    sqlite3_stmt* m_stmt = nullptr;
};

namespace Sqlite {

/// SQLite's last message for `db`, with a plainer wording for a busy (locked) file.
QString errorText(sqlite3* db, int rc);
/// Runs a statement that returns no rows; returns SQLite's result code.
int exec(sqlite3* db, const char* sql);
/// `name` as an SQL identifier in double quotes, embedded quotes doubled.
QString quoted(const QString& name);
/// Why `file` cannot be a whole database, judged by its header; empty when it can be.
/// SQLite itself takes an empty file for a new database and reads a cut-off one until it
/// trips over the missing pages. `unreadable` tells that the file could not be read at all.
QString headerProblem(const QString& file, bool* unreadable = nullptr);

} // namespace Sqlite
