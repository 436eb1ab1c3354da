#include "sqlitestatement.h"

#include <QByteArray>

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

} // namespace Sqlite
