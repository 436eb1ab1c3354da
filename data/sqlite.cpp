#include "sqlite.h"

#include "core/error.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QUrl>

#include <algorithm>
#include <cerrno>

namespace Sqlite {

namespace {

// Never moved to a file: see Database::open.
constexpr int kStatementJournalInMemory = -1;
// Enough that a statement journal is kept per few hundred rows, few enough that the
// statement stays small to prepare.
constexpr int kRowsPerStatement = 256;
bool g_countMemory = false;

} // namespace

void countMemory() {
    g_countMemory = true;
}

Database& Database::operator=(Database&& other) noexcept {
    if (this != &other) {
        close();
        m_db = other.m_db;
        m_file = std::move(other.m_file);
        other.m_db = nullptr;
    }
    return *this;
}

int Database::open(const QString& file, OpenMode mode, bool oneThreadAtATime) {
    // Each write inside a transaction keeps the pages it changes in a statement journal, which
    // by default goes to a temporary file once it holds 64 KiB: one of our 64 KiB pages. A
    // bulk write then copied every page it touched to that file, statement after statement.
    // Held in memory, the journal of one statement is dropped when it ends. It must never move
    // to a file later: SQLite then writes it in pieces as large as that limit, and a piece of
    // 128 KiB or more fails as "disk full". Our statements change a row at a time, so their
    // journals hold a few pages; kept in small blocks they also cost little to allocate.
    // Only takes before SQLite's first use in the process; later it is refused, and harmless.
    static const bool configured =
        sqlite3_config(SQLITE_CONFIG_STMTJRNL_SPILL, kStatementJournalInMemory) == SQLITE_OK &&
        // Counting its memory, SQLite takes a lock shared by every connection on each
        // allocation and free: a twentieth of an import's processor time. Nothing reads it.
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, int(g_countMemory)) == SQLITE_OK;
    (void)configured;
    close();
    m_file = mode == OpenMode::Memory ? QString() : file;
    // By URI, so that a missing file is refused rather than made, and "immutable" can be said.
    QString query;
    int flags = SQLITE_OPEN_URI | (oneThreadAtATime ? SQLITE_OPEN_NOMUTEX : 0);
    switch (mode) {
    case OpenMode::ReadWrite:
        query = QStringLiteral("?mode=rw");
        flags |= SQLITE_OPEN_READWRITE;
        break;
    case OpenMode::ReadOnly:
        query = QStringLiteral("?mode=ro");
        flags |= SQLITE_OPEN_READONLY;
        break;
    case OpenMode::Immutable:
        query = QStringLiteral("?mode=ro&immutable=1");
        flags |= SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW;
        break;
    case OpenMode::Create:
        query = QStringLiteral("?mode=rwc");
        flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
        break;
    case OpenMode::Memory:
        flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_MEMORY;
        break;
    }
    const QString uri =
        mode == OpenMode::Memory
            ? QStringLiteral("file::memory:")
            : QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()).toString(QUrl::FullyEncoded) +
                  query;
    const int rc = sqlite3_open_v2(uri.toUtf8().constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK)
        return rc;
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    // A file from elsewhere cannot make this program load code.
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
    return SQLITE_OK;
}

void Database::close() {
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_file.clear();
}

Failure Database::failure() const {
    return fileFailure(m_file);
}

int Database::exec(const char* sql) const {
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
}

Failure fileFailure(const QString& file) {
    return [file](sqlite3* db, int rc) { return errorText(db, rc, file); };
}

Statement::Statement(sqlite3* db, const QByteArray& sql, Failure failure)
    : m_failure(std::move(failure)) {
    check(prepare(db, sql));
}

void Statement::fail(int rc) const {
    throw EDatabaseError(m_failure ? m_failure(m_db, rc) : errorText(m_db, rc));
}

void Statement::check(int rc) const {
    if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE)
        fail(rc);
}

Statement& Statement::set(int position, const QVariant& value) {
    check(bind(position, value));
    return *this;
}

Statement& Statement::set(int position, qint64 value) {
    check(sqlite3_bind_int64(m_stmt, position, value));
    return *this;
}

Statement& Statement::set(int position, std::string_view bytes) {
    check(sqlite3_bind_blob64(m_stmt, position, bytes.data(), sqlite3_uint64(bytes.size()),
                              SQLITE_TRANSIENT));
    return *this;
}

Statement& Statement::setText(int position, std::string_view utf8) {
    check(sqlite3_bind_text64(m_stmt, position, utf8.data(), sqlite3_uint64(utf8.size()),
                              SQLITE_TRANSIENT, SQLITE_UTF8));
    return *this;
}

Statement& Statement::setAll(const QVariantList& values, int first) {
    for (int i = 0; i < values.size(); ++i)
        set(first + i, values.at(i));
    return *this;
}

bool Statement::next() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        fail(rc);
    return false;
}

void Statement::run() {
    next();
    rewind();
}

void Statement::rewind() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

std::string_view Statement::blob(int column) const {
    const void* p = sqlite3_column_blob(m_stmt, column);
    return p ? std::string_view(static_cast<const char*>(p),
                                std::size_t(sqlite3_column_bytes(m_stmt, column)))
             : std::string_view();
}

std::string_view Statement::utf8(int column) const {
    const unsigned char* p = sqlite3_column_text(m_stmt, column);
    return p ? std::string_view(reinterpret_cast<const char*>(p),
                                std::size_t(sqlite3_column_bytes(m_stmt, column)))
             : std::string_view();
}

void run(sqlite3* db, const char* sql, const Failure& failure) {
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        throw EDatabaseError(failure ? failure(db, rc) : errorText(db, rc));
}

void insertRows(sqlite3* db, const char* insert, int columns, const QVariantList& values,
                const Failure& failure) {
    // In a transaction, a statement that may stop halfway (OR REPLACE, a NOT NULL column)
    // keeps a journal of its own, and copies into it every page it changes that the
    // transaction changed before: a statement for each row copied a whole 64 KiB page per row.
    Q_ASSERT(columns > 0 && values.size() % columns == 0);
    const int perStatement = std::clamp(
        sqlite3_limit(db, SQLITE_LIMIT_VARIABLE_NUMBER, -1) / columns, 1, kRowsPerStatement);
    QByteArray row = "(" + QByteArray("?,").repeated(columns);
    row.back() = ')';
    const auto prepared = [&](Statement& st, int rows) {
        QByteArray sql = QByteArray(insert) + ' ' + row;
        for (int r = 1; r < rows; ++r)
            sql += ',' + row;
        st.setFailure(failure);
        st.check(st.prepare(db, sql));
    };
    const int rows = int(values.size() / columns);
    Statement full;
    for (int first = 0; first < rows; first += perStatement) {
        const int count = std::min(perStatement, rows - first);
        Statement last;
        Statement& st = count == perStatement ? full : last;
        if (!st.get())
            prepared(st, count);
        for (int i = 0; i < count * columns; ++i)
            st.set(i + 1, values.at(first * columns + i));
        st.run();
    }
}

Transaction::Transaction(sqlite3* db, Failure failure, Start start)
    : m_db(db)
    , m_failure(std::move(failure)) {
    run(db, start == Start::Immediate ? "BEGIN IMMEDIATE" : "BEGIN", m_failure);
    m_open = true;
}

Transaction::~Transaction() {
    if (m_open)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
    run(m_db, "COMMIT", m_failure);
    m_open = false;
}

Savepoint::Savepoint(sqlite3* db, Failure failure)
    : m_db(db)
    , m_failure(std::move(failure)) {
    run(db, "SAVEPOINT part", m_failure);
}

Savepoint::~Savepoint() {
    if (!m_done) {
        sqlite3_exec(m_db, "ROLLBACK TO part", nullptr, nullptr, nullptr);
        sqlite3_exec(m_db, "RELEASE part", nullptr, nullptr, nullptr);
    }
}

void Savepoint::commit() {
    run(m_db, "RELEASE part", m_failure);
    m_done = true;
}

int Statement::prepare(sqlite3* db, const QByteArray& sql, int* consumed) {
    m_db = db;
    sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &m_stmt, &tail);
    if (consumed)
        *consumed = tail ? int(tail - sql.constData()) : int(sql.size());
    return rc;
}

int Statement::bind(int position, const QVariant& value) {
    if (value.isNull())
        return sqlite3_bind_null(m_stmt, position);
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
        return sqlite3_bind_int64(m_stmt, position, value.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return sqlite3_bind_double(m_stmt, position, value.toDouble());
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return sqlite3_bind_blob64(m_stmt, position, bytes.constData(),
                                   sqlite3_uint64(bytes.size()), SQLITE_TRANSIENT);
    }
    default: {
        const QByteArray utf8 = value.toString().toUtf8();
        return sqlite3_bind_text64(m_stmt, position, utf8.constData(), sqlite3_uint64(utf8.size()),
                                   SQLITE_TRANSIENT, SQLITE_UTF8);
    }
    }
}

QString Statement::columnName(int column) const {
    return QString::fromUtf8(sqlite3_column_name(m_stmt, column));
}

QVariant Statement::text(int column) const {
    if (sqlite3_column_type(m_stmt, column) == SQLITE_NULL)
        return QVariant();
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    if (!bytes || size == 0) {
        // A non-null empty string, so that "" and NULL stay apart in the buffer.
        return QVariant(QString(QLatin1String("")));
    }
    // Every text reads back exactly as stored: a leading U+FEFF is a character, not a mark.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return QVariant(QString(decoder.decode(QByteArrayView(bytes, size))));
}

bool isBusy(int rc) {
    const int primary = rc & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

QString technicalText(sqlite3* db, int rc) {
    if (db && sqlite3_errcode(db) != SQLITE_OK)
        return QString::fromUtf8(sqlite3_errmsg(db));
    return QString::fromUtf8(sqlite3_errstr(rc));
}

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

namespace {

// The file on a line of its own, so that it is never broken in two; without a file the
// sentence just ends.
QString named(const QString& file) {
    return file.isEmpty() ? QStringLiteral("。") : QStringLiteral("：\n%1\n").arg(native(file));
}

} // namespace

QString lockedText(const QString& file) {
    return QStringLiteral(
               "数据库文件正被其他程序使用，暂时不能读写%1"
               "可能是本程序的另一个窗口、另一个正在运行的本程序，或打开了它的数据库工具。"
               "请关闭它或等它完成后重试。")
        .arg(named(file));
}

bool isNoRoom(sqlite3* db, int rc) {
    if ((rc & 0xff) == SQLITE_FULL)
        return true;
    if ((rc & 0xff) != SQLITE_IOERR || !db)
        return false;
    // SQLite calls a write refused for want of room an I/O error; the system's code says more.
    const int err = sqlite3_system_errno(db);
    return err == ENOSPC || err == EFBIG
#ifdef EDQUOT
           || err == EDQUOT
#endif
        ;
}

QString errorText(sqlite3* db, int rc, const QString& file) {
    const QString detail = technicalText(db, rc);
    QString text;
    if (isNoRoom(db, rc)) {
        text = QStringLiteral("磁盘空间不足，数据库文件无法写入，这次的改动没有保存%1"
                              "请删除不需要的文件、释放磁盘空间后重试。")
                   .arg(named(file));
    } else {
        switch (rc & 0xff) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            text = lockedText(file);
            break;
        case SQLITE_READONLY:
            if (rc == SQLITE_READONLY_DBMOVED)
                text = QStringLiteral("数据库文件在本程序运行时被删除、移动或替换%1"
                                      "本程序不再写入它，这次的改动没有保存。"
                                      "请退出并重新启动本程序。")
                           .arg(named(file));
            else if (rc == SQLITE_READONLY_DIRECTORY)
                text = QStringLiteral("数据库文件所在的文件夹不允许写入，这次的改动没有保存%1"
                                      "请检查这个文件夹的写入权限后重试。")
                           .arg(named(file));
            else
                text = QStringLiteral("数据库文件是只读的，这次的改动没有保存%1"
                                      "请检查该文件和它所在文件夹的写入权限后重试。")
                           .arg(named(file));
            break;
        case SQLITE_CANTOPEN:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            text = QStringLiteral("无法打开数据库文件%1"
                                  "请确认它存在，并检查该文件和它所在文件夹的读写权限。")
                       .arg(named(file));
            break;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            text =
                QStringLiteral("数据库文件已损坏，或不是本程序的数据库%1"
                               "请用备份替换它（系统 → 恢复数据），或用 mkvelmora 新建一个数据库。")
                    .arg(named(file));
            break;
        case SQLITE_IOERR:
            text = QStringLiteral("读写数据库文件时发生磁盘错误%1"
                                  "请检查磁盘和磁盘空间后重试。")
                       .arg(named(file));
            break;
        case SQLITE_NOMEM:
            text = QStringLiteral("内存不足，数据库操作没有完成。请关闭其他程序后重试。");
            break;
        case SQLITE_TOOBIG:
            text = QStringLiteral("要保存的内容太大，数据库无法存放。请缩短后重试。");
            break;
        case SQLITE_INTERRUPT:
            text = QStringLiteral("数据库操作已取消。");
            break;
        default:
            text = QStringLiteral("数据库操作失败，没有完成%1"
                                  "请重试；如果一再出现，请用备份恢复数据库（系统 → 恢复数据）。")
                       .arg(named(file));
            break;
        }
    }
    // The technical text last, in ASCII brackets, for whoever helps the user.
    return text.trimmed() + QStringLiteral("\n(") + detail + QLatin1Char(')');
}

int exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

QStringList firstColumn(sqlite3* db, const QByteArray& sql, int* rc) {
    QStringList values;
    Statement st;
    *rc = st.prepare(db, sql);
    if (*rc != SQLITE_OK)
        return values;
    while ((*rc = st.step()) == SQLITE_ROW)
        values << st.text(0).toString();
    if (*rc == SQLITE_DONE)
        *rc = SQLITE_OK;
    return values;
}

QStringList columnsOf(sqlite3* db, const QString& table, int* rc) {
    Statement st;
    *rc = st.prepare(db, "SELECT \"name\" FROM pragma_table_info(?)");
    if (*rc == SQLITE_OK)
        *rc = st.bind(1, table);
    QStringList names;
    if (*rc != SQLITE_OK)
        return names;
    while ((*rc = st.step()) == SQLITE_ROW)
        names << st.text(0).toString();
    if (*rc == SQLITE_DONE)
        *rc = SQLITE_OK;
    return names;
}

QString quoted(const QString& name) {
    QString text = name;
    text.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

namespace {

quint32 bigEndian(const QByteArray& bytes, int offset, int size) {
    quint32 value = 0;
    for (int i = 0; i < size; ++i)
        value = (value << 8) | quint8(bytes.at(offset + i));
    return value;
}

} // namespace

QString headerProblem(const QString& file, bool* unreadable, bool exactSize) {
    if (unreadable)
        *unreadable = false;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        if (unreadable)
            *unreadable = true;
        return f.errorString();
    }
    const qint64 size = f.size();
    if (size == 0)
        return QStringLiteral("文件是空的");
    const QByteArray header = f.read(100);
    if (header.size() < 100 || !header.startsWith(QByteArrayLiteral("SQLite format 3\0")))
        return QStringLiteral("不是数据库文件");
    quint32 pageSize = bigEndian(header, 16, 2);
    if (pageSize == 1)
        pageSize = 65536;
    if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0)
        return QStringLiteral("文件头已损坏");
    const quint32 changeCounter = bigEndian(header, 24, 4);
    const quint32 pageCount = bigEndian(header, 28, 4);
    const quint32 validFor = bigEndian(header, 92, 4);
    // The page count in the header is only to be trusted while it is marked valid.
    if (size < qint64(pageSize) ||
        (validFor == changeCounter && pageCount > 0 && size < qint64(pageCount) * qint64(pageSize)))
        return QStringLiteral("文件不完整（被截断）");
    // A copy made by this program ends where its last page ends; anything after it is
    // not ours and would only be copied along.
    if (exactSize && (validFor != changeCounter || pageCount == 0 ||
                      size != qint64(pageCount) * qint64(pageSize)))
        return QStringLiteral("文件大小与文件头记载的不符");
    return QString();
}

} // namespace Sqlite
