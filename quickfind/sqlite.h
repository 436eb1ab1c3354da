#pragma once

#include <QString>

#include <sqlite3.h>

#include <string_view>

/// The little of SQLite the quick find needs, failing with the program's error type.
namespace QuickFind::Sql {

/// Throws EDatabaseError saying that `what` (读取, 写入 …) of the index failed, and why.
[[noreturn]] void fail(sqlite3* db, const char* what);
/// Throws EDatabaseError saying that the index is damaged.
[[noreturn]] void corrupt();

/// One prepared statement, finalized when it goes out of scope.
class Stmt {
public:
    Stmt(sqlite3* db, const char* sql, const char* what);
    ~Stmt() { sqlite3_finalize(m_stmt); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    Stmt& bind(int i, qint64 v);
    Stmt& bind(int i, std::string_view blob);
    Stmt& bindText(int i, std::string_view text);
    /// True while there is a row.
    bool step();
    /// Runs a statement that returns no rows, and resets it.
    void run();
    void reset();
    qint64 int64(int c) const { return sqlite3_column_int64(m_stmt, c); }
    std::string_view blob(int c) const;
    std::string_view text(int c) const;

private:
    void check(int rc);
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
    const char* m_what;
};

/// Runs statements that return no rows.
void exec(sqlite3* db, const char* sql, const char* what);

/// A savepoint released by commit() and rolled back otherwise.
class Savepoint {
public:
    Savepoint(sqlite3* db, const char* what);
    ~Savepoint();
    Savepoint(const Savepoint&) = delete;
    Savepoint& operator=(const Savepoint&) = delete;
    void commit();

private:
    sqlite3* m_db;
    const char* m_what;
    bool m_done = false;
};

} // namespace QuickFind::Sql
