#include "sqlite.h"

#include "data/dberror.h"

namespace QuickFind::Sql {

void fail(sqlite3* db, const char* what) {
    throw EDatabaseError(
        QStringLiteral("快速查找的索引%1失败：%2。请关闭其他正在使用该文件的程序后再试；"
                       "如仍失败，请从备份恢复。")
            .arg(QString::fromUtf8(what), QString::fromUtf8(sqlite3_errmsg(db))));
}

void corrupt() {
    throw EDatabaseError(QStringLiteral("快速查找的索引已损坏。请重新打开程序，索引将重新建立。"));
}

Stmt::Stmt(sqlite3* db, const char* sql, const char* what)
    : m_db(db)
    , m_what(what) {
    if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
        fail(db, what);
}

Stmt& Stmt::bind(int i, qint64 v) {
    check(sqlite3_bind_int64(m_stmt, i, v));
    return *this;
}

Stmt& Stmt::bind(int i, std::string_view blob) {
    check(
        sqlite3_bind_blob64(m_stmt, i, blob.data(), sqlite3_uint64(blob.size()), SQLITE_TRANSIENT));
    return *this;
}

Stmt& Stmt::bindText(int i, std::string_view text) {
    check(sqlite3_bind_text64(m_stmt, i, text.data(), sqlite3_uint64(text.size()), SQLITE_TRANSIENT,
                              SQLITE_UTF8));
    return *this;
}

bool Stmt::step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        fail(m_db, m_what);
    return false;
}

void Stmt::run() {
    step();
    reset();
}

void Stmt::reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

std::string_view Stmt::blob(int c) const {
    const void* p = sqlite3_column_blob(m_stmt, c);
    return p ? std::string_view(static_cast<const char*>(p),
                                std::size_t(sqlite3_column_bytes(m_stmt, c)))
             : std::string_view();
}

std::string_view Stmt::text(int c) const {
    const unsigned char* p = sqlite3_column_text(m_stmt, c);
    return p ? std::string_view(reinterpret_cast<const char*>(p),
                                std::size_t(sqlite3_column_bytes(m_stmt, c)))
             : std::string_view();
}

void Stmt::check(int rc) {
    if (rc != SQLITE_OK)
        fail(m_db, m_what);
}

void exec(sqlite3* db, const char* sql, const char* what) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(db, what);
}

Savepoint::Savepoint(sqlite3* db, const char* what)
    : m_db(db)
    , m_what(what) {
    exec(db, "SAVEPOINT quickfind", what);
}

Savepoint::~Savepoint() {
    if (!m_done) {
        sqlite3_exec(m_db, "ROLLBACK TO quickfind", nullptr, nullptr, nullptr);
        sqlite3_exec(m_db, "RELEASE quickfind", nullptr, nullptr, nullptr);
    }
}

void Savepoint::commit() {
    exec(m_db, "RELEASE quickfind", m_what);
    m_done = true;
}

} // namespace QuickFind::Sql
