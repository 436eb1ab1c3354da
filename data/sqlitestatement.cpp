#include "sqlitestatement.h"

#include <QByteArray>
#include <QFile>

int SqliteStatement::prepare(sqlite3* db, const QByteArray& sql, int* consumed) {
    sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &m_stmt, &tail);
    if (consumed)
        *consumed = tail ? int(tail - sql.constData()) : int(sql.size());
    return rc;
}

int SqliteStatement::bind(int position, const QVariant& value) {
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

QString SqliteStatement::columnName(int column) const {
    return QString::fromUtf8(sqlite3_column_name(m_stmt, column));
}

QVariant SqliteStatement::text(int column) const {
    if (sqlite3_column_type(m_stmt, column) == SQLITE_NULL)
        return QVariant();
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    // A non-null empty string, so that "" and NULL stay apart in the buffer.
    return QVariant(bytes ? QString::fromUtf8(bytes, size) : QString(QLatin1String("")));
}

namespace Sqlite {

QString errorText(sqlite3* db, int rc) {
    const int primary = rc & 0xff;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        return QStringLiteral("The database file is locked by another program (%1)")
            .arg(QString::fromUtf8(sqlite3_errstr(rc)));
    if (db && sqlite3_errcode(db) != SQLITE_OK)
        return QString::fromUtf8(sqlite3_errmsg(db));
    return QString::fromUtf8(sqlite3_errstr(rc));
}

int exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
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

QString headerProblem(const QString& file, bool* unreadable) {
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
        return QStringLiteral("the file is empty");
    const QByteArray header = f.read(100);
    if (header.size() < 100 || !header.startsWith(QByteArrayLiteral("SQLite format 3\0")))
        return QStringLiteral("not a database file");
    quint32 pageSize = bigEndian(header, 16, 2);
    if (pageSize == 1)
        pageSize = 65536;
    if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0)
        return QStringLiteral("damaged header");
    const quint32 changeCounter = bigEndian(header, 24, 4);
    const quint32 pageCount = bigEndian(header, 28, 4);
    const quint32 validFor = bigEndian(header, 92, 4);
    // The page count in the header is only to be trusted while it is marked valid.
    if (size < qint64(pageSize) ||
        (validFor == changeCounter && pageCount > 0 && size < qint64(pageCount) * qint64(pageSize)))
        return QStringLiteral("the file is truncated");
    return QString();
}

} // namespace Sqlite
