// The dataset's rows as views and the program read them: fetched a page at a time into the
// row cache, and the cursor moved over them.
#include "adoquery.h"

#include "adoqueryrows.h"
#include "dberror.h"
#include "rowcache.h"
#include "sqlite.h"

#include <QSet>

using namespace AdoQueryDetail;

void TADOQuery::fetchPage(int row) const {
    const int first = row - row % kPageRows;
    const int last = qMin(first + kPageRows, int(m_ids.size()));
    QVector<qint64> ids;
    for (int r = first; r < last; ++r) {
        const qint64 id = m_ids.at(r);
        if (id != 0 && (r == row || !m_cache->find(id)))
            ids.append(id);
    }
    fetchRows(ids);
}

void TADOQuery::fetchRows(const QVector<qint64>& ids) const {
    if (ids.isEmpty())
        return;
    sqlite3* handle = db();
    QSet<qint64> missing(ids.cbegin(), ids.cend());
    const int columns = int(m_columns.size());
    {
        Sqlite::Statement st(
            handle, "SELECT * FROM (\n" + m_core + "\n) WHERE \"ID\" IN (" + idList(ids) + ')',
            sqlFailure());
        bindParameters(st);
        while (st.next()) {
            const qint64 id = st.int64(m_idColumn);
            if (!missing.remove(id))
                continue;
            QVector<QVariant> values(columns);
            for (int c = 0; c < columns && c < st.columnCount(); ++c)
                values[c] = st.text(c);
            m_cache->insert(id, std::move(values));
        }
    }
    if (missing.isEmpty())
        return;

    // Rows the program added or changed so that the statement no longer selects them stay
    // in the list (as a static cursor keeps them); read those from the table by column name.
    const QVector<qint64> rest(missing.cbegin(), missing.cend());
    if (!m_table.isEmpty()) {
        Sqlite::Statement st;
        if (st.prepare(handle, (QStringLiteral("SELECT * FROM ") + Sqlite::quoted(m_table) +
                                QStringLiteral(" WHERE \"ID\" IN (") +
                                QString::fromLatin1(idList(rest)) + QLatin1Char(')'))
                                   .toUtf8()) == SQLITE_OK) {
            QVector<int> target(st.columnCount(), -1);
            int idAt = -1;
            for (int c = 0; c < st.columnCount(); ++c) {
                target[c] = m_columnIndex.value(key(st.columnName(c)), -1);
                if (target[c] == m_idColumn)
                    idAt = c;
            }
            st.setFailure(sqlFailure());
            while (idAt >= 0 && st.next()) {
                const qint64 id = st.int64(idAt);
                if (!missing.remove(id))
                    continue;
                QVector<QVariant> values(columns);
                for (int c = 0; c < target.size(); ++c) {
                    if (target[c] >= 0)
                        values[target[c]] = st.text(c);
                }
                m_cache->insert(id, std::move(values));
            }
        }
    }
    // Gone from the database altogether (another program deleted it): an empty row.
    for (qint64 id : qAsConst(missing)) {
        QVector<QVariant> values(columns);
        values[m_idColumn] = QString::number(id);
        m_cache->insert(id, std::move(values));
    }
}

const QVector<QVariant>& TADOQuery::rowValues(int row) const {
    const qint64 id = m_ids.at(row);
    if (id == 0)
        return m_nullRow;
    if (const QVector<QVariant>* values = m_cache->find(id))
        return *values;
    fetchPage(row);
    if (const QVector<QVariant>* values = m_cache->find(id))
        return *values;
    return m_nullRow;
}

QVariant TADOQuery::valueAt(int row, int column) const {
    if (row == m_current && editing())
        return m_buffer.at(column);
    return rowValues(row).at(column);
}

QString TADOQuery::FieldAsString(const QString& column) const {
    checkActive();
    const int c = columnIndex(column);
    if (m_current < 0)
        return QString();
    return valueAt(m_current, c).toString();
}

void TADOQuery::SetFieldAsString(const QString& column, const QString& text) {
    checkActive();
    const int c = columnIndex(column);
    if (!editing())
        fail(QStringLiteral("名片不在编辑状态，不能写入字段。"),
             QStringLiteral("Dataset not in edit or insert mode"));
    // Never a null string: an empty text is stored as empty text, not as a missing value.
    m_buffer[c] = text.isNull() ? QString(QLatin1String("")) : text;
    m_modified[c] = true;
    emit rowChanged(m_current);
}

QStringList TADOQuery::FieldNames() const {
    return m_columns;
}

int TADOQuery::RecordCount() const {
    // Counting is reading: the rows arriving are the dataset's own, as in Eof().
    const_cast<TADOQuery*>(this)->FetchAll();
    return int(m_ids.size());
}

bool TADOQuery::Bof() const {
    return m_ids.isEmpty() || m_current <= 0;
}

bool TADOQuery::Eof() const {
    // At the last row known so far: whether another follows is known once it has arrived.
    if (m_loader && m_current >= int(m_ids.size()) - 1)
        const_cast<TADOQuery*>(this)->learnRows(m_current + 2);
    return m_ids.isEmpty() || m_current >= int(m_ids.size()) - 1;
}

void TADOQuery::setCurrent(int row) {
    if (row == m_current)
        return;
    m_current = row;
    emit currentChanged(row);
}

void TADOQuery::First() {
    checkActive();
    checkBrowseMode();
    if (!m_ids.isEmpty())
        setCurrent(0);
}

void TADOQuery::Prior() {
    checkActive();
    checkBrowseMode();
    if (m_current > 0)
        setCurrent(m_current - 1);
}

void TADOQuery::Next() {
    checkActive();
    checkBrowseMode();
    learnRows(m_current + 2);
    if (m_current < int(m_ids.size()) - 1)
        setCurrent(m_current + 1);
}

void TADOQuery::Last() {
    checkActive();
    checkBrowseMode();
    needAllRows();
    if (!m_ids.isEmpty())
        setCurrent(int(m_ids.size()) - 1);
}

void TADOQuery::MoveTo(int row) {
    checkActive();
    if (row == m_current)
        return;
    checkBrowseMode();
    learnRows(row + 1);
    if (!m_ids.isEmpty())
        setCurrent(qBound(0, row, int(m_ids.size()) - 1));
}

QString TADOQuery::CellText(int row, int column) const {
    if (!Active() || row < 0 || row >= m_ids.size() || column < 0 || column >= m_columns.size())
        return QString();
    if (row == m_current && editing())
        return m_buffer.at(column).toString();
    const qint64 id = m_ids.at(row);
    if (const QVector<QVariant>* values = id ? m_cache->find(id) : nullptr)
        return values->at(column).toString();
    if (QDateTime::currentMSecsSinceEpoch() < m_viewRetryAfter)
        return QString();
    // Views paint from here and cannot take an exception; a failed read shows blanks.
    try {
        return rowValues(row).at(column).toString();
    } catch (const EDatabaseError&) {
        m_viewRetryAfter = QDateTime::currentMSecsSinceEpoch() + kViewRetryMs;
        return QString();
    }
}

QVector<qint64> TADOQuery::RowIds() {
    needAllRows();
    QVector<qint64> ids;
    ids.reserve(m_ids.size());
    for (qint64 id : m_ids) {
        if (id != 0)
            ids.append(id);
    }
    return ids;
}

qint64 TADOQuery::CurrentId() const {
    if (m_current < 0 || m_current >= m_ids.size())
        return 0;
    return m_ids.at(m_current);
}

bool TADOQuery::Locate(qint64 id) {
    checkActive();
    if (id == 0)
        return false;
    int row = int(m_ids.indexOf(id));
    if (row < 0 && m_loader) {
        const int known = int(m_ids.size());
        needAllRows();
        row = int(m_ids.indexOf(id, known));
    }
    if (row < 0)
        return false;
    MoveTo(row);
    return m_current == row;
}
