#include "adoquery.h"

#include "adoconnection.h"
#include "adoqueryrows.h"
#include "dberror.h"
#include "idloader.h"
#include "rowcache.h"
#include "sqlite.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSet>

#include <limits>

namespace {

// The statement's first table: the one "from" names, quoted or not.
QString writeTable(const QString& statement) {
    static const QRegularExpression from(
        QStringLiteral("\\bfrom\\s+(\"(?:[^\"]|\"\")+\"|\\[[^\\]]+\\]|`[^`]+`|[^\\s;,()]+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = from.match(statement);
    if (!m.hasMatch())
        return QString();
    QString name = m.captured(1);
    const QChar open = name.front();
    if (open == QLatin1Char('"'))
        return name.mid(1, name.size() - 2).replace(QLatin1String("\"\""), QLatin1String("\""));
    if (open == QLatin1Char('[') || open == QLatin1Char('`'))
        return name.mid(1, name.size() - 2);
    return name;
}

} // namespace

using namespace AdoQueryDetail;

QString TStrings::Text() const {
    QString text;
    for (const QString& line : m_lines)
        text += line + QLatin1String("\r\n");
    return text;
}

TADOQuery::TADOQuery(const QString& name, QObject* parent)
    : QObject(parent)
    , m_cache(std::make_unique<RowCache>(kCachedRows)) {
    setObjectName(name);
    m_appendTimer.setSingleShot(true);
    connect(&m_appendTimer, &QTimer::timeout, this, &TADOQuery::takeIds);
    m_restTimer.setSingleShot(true);
    connect(&m_restTimer, &QTimer::timeout, this, &TADOQuery::readTheRest);
}

TADOQuery::~TADOQuery() {
    m_loader.reset();
    if (m_connection)
        m_connection->detach(this);
}

void TADOQuery::setConnection(TADOConnection* connection) {
    if (connection == m_connection)
        return;
    Close();
    if (m_connection)
        m_connection->detach(this);
    m_connection = connection;
    if (m_connection)
        m_connection->attach(this);
}

void TADOQuery::fail(const QString& message, const QString& technical) const {
    // What happened in the user's words; the component's own text last, for whoever helps.
    throw EDatabaseError(message + QStringLiteral("\n(") + name() + QLatin1String(": ") +
                         technical + QLatin1Char(')'));
}

QString TADOQuery::sqlErrorText(sqlite3* handle, int rc) const {
    const QString file = m_connection ? m_connection->databaseFile() : QString();
    QString text = Sqlite::errorText(handle, rc, file);
    // errorText ends with SQLite's own text in brackets; name the dataset in it.
    const int open = int(text.lastIndexOf(QStringLiteral("\n(")));
    if (open >= 0)
        text.insert(open + 2, name() + QLatin1String(": "));
    return text;
}

Sqlite::Failure TADOQuery::sqlFailure() const {
    return [this](sqlite3* handle, int rc) { return sqlErrorText(handle, rc); };
}

template <class F> void TADOQuery::inTransaction(sqlite3* handle, F write) {
    // Immediate: the check and the write see the same rows, and no other program writes
    // between them.
    Sqlite::Transaction transaction(handle, sqlFailure());
    write();
    transaction.commit();
}

QString TADOQuery::changedSince(sqlite3* handle, qint64 id, const QVector<QVariant>& expected,
                                bool* gone) const {
    *gone = false;
    Sqlite::Statement st(handle,
                         (QStringLiteral("SELECT * FROM ") + Sqlite::quoted(m_table) +
                          QStringLiteral(" WHERE \"ID\"=?"))
                             .toUtf8(),
                         sqlFailure());
    if (!st.set(1, id).next()) {
        *gone = true;
        return QString();
    }
    // Every column the rows were read with, those the program does not show included.
    for (int c = 0; c < st.columnCount(); ++c) {
        const int at = m_columnIndex.value(key(st.columnName(c)), -1);
        if (at >= 0 && at < expected.size() && st.text(c) != expected.at(at))
            return st.columnName(c);
    }
    return QString();
}

void TADOQuery::checkActive() const {
    if (m_state == dsInactive)
        fail(QStringLiteral(
                 "名片列表现在没有打开，不能进行这项操作。请点“修        改”重新打开名片列表"
                 "（查询之后也可以点“返        回”），然后再试。"),
             QStringLiteral("Cannot perform this operation on a closed dataset"));
}

sqlite3* TADOQuery::db() const {
    sqlite3* handle = m_connection ? m_connection->handle() : nullptr;
    if (!handle)
        fail(QStringLiteral("与数据库的连接已经关闭。请退出并重新启动本程序。"),
             QStringLiteral("The connection is closed"));
    return handle;
}

int TADOQuery::columnIndex(const QString& column) const {
    const auto it = m_columnIndex.constFind(key(column));
    if (it == m_columnIndex.constEnd())
        fail(QStringLiteral("名片列表中没有“%1”这个字段。").arg(column),
             QStringLiteral("Field '%1' not found").arg(column));
    return it.value();
}

void TADOQuery::bindParameters(Sqlite::Statement& statement) const {
    const int count = qMin(int(m_params.size()), statement.parameterCount());
    statement.setAll(m_params.mid(0, count));
}

QString TADOQuery::tableName() const {
    return m_table;
}

void TADOQuery::Open() {
    if (Active())
        return;
    if (!m_connection)
        fail(QStringLiteral("名片列表没有连接到数据库。"), QStringLiteral("Missing Connection"));
    // Like the database component, a dataset opens its connection when it needs it.
    m_connection->Open();
    sqlite3* handle = db();

    const QByteArray text = SQL.Text().toUtf8();
    Sqlite::Statement statement;
    statement.setFailure(sqlFailure());
    int consumed = 0;
    statement.check(statement.prepare(handle, text, &consumed));
    if (!statement.get())
        fail(QStringLiteral("查询语句是空的。"), QStringLiteral("The statement text is empty"));
    if (statement.columnCount() == 0)
        fail(QStringLiteral("查询语句不返回名片。"),
             QStringLiteral("The statement returns no rows"));
    if (Parameters.size() > statement.parameterCount())
        fail(QStringLiteral("查询语句的参数个数不对。"),
             QStringLiteral("The statement takes %1 parameters, %2 were given")
                 .arg(statement.parameterCount())
                 .arg(Parameters.size()));

    QStringList columns;
    QHash<QString, int> index;
    for (int i = 0; i < statement.columnCount(); ++i) {
        const QString column = statement.columnName(i);
        columns << column;
        if (!index.contains(key(column)))
            index.insert(key(column), i);
    }
    const int idColumn = index.value(QStringLiteral("id"), -1);
    if (idColumn < 0)
        fail(QStringLiteral("查询结果中没有“ID”字段。"),
             QStringLiteral("The statement's result has no \"ID\" column"));

    QByteArray core = text.left(consumed);
    while (!core.isEmpty() && (core.endsWith(';') || core.endsWith(' ') || core.endsWith('\r') ||
                               core.endsWith('\n') || core.endsWith('\t')))
        core.chop(1);

    m_params = Parameters;
    m_core = core;
    // Only the identities now, and at first only those of the first rows; the values are
    // read when rows are looked at.
    QVector<qint64> ids;
    if (IdSource)
        ids = IdSource(handle);
    else
        startLoading(handle, ids);

    m_columns = columns;
    m_columnIndex = index;
    m_idColumn = idColumn;
    m_table = writeTable(QString::fromUtf8(core));
    m_nullRow = QVector<QVariant>(columns.size());
    m_loadError.clear();
    m_ids = std::move(ids);
    m_cache->clear();
    m_buffer.clear();
    m_modified.clear();
    m_current = m_ids.isEmpty() ? -1 : 0;
    m_beforeInsert = -1;
    m_viewRetryAfter = 0;
    m_state = dsBrowse;
    emit stateChanged();
    emit reset();
    emit currentChanged(m_current);
}

QVector<qint64> TADOQuery::readIds(sqlite3* handle) const {
    QVector<qint64> ids;
    Sqlite::Statement idQuery(handle, "SELECT \"ID\" FROM (\n" + m_core + "\n)", sqlFailure());
    bindParameters(idQuery);
    while (idQuery.next())
        ids.append(idQuery.int64(0));
    return ids;
}

void TADOQuery::startLoading(sqlite3* handle, QVector<qint64>& ids) {
    // Another connection sees only what is committed: inside a transaction of the program's
    // own, or on a database without a file, the identities are read here, all at once.
    const char* file = sqlite3_db_filename(handle, "main");
    if (file && *file && sqlite3_get_autocommit(handle)) {
        auto ready = [this] {
            QMetaObject::invokeMethod(this, &TADOQuery::idsReady, Qt::QueuedConnection);
        };
        const auto stream = [this, handle](sqlite3* reader) { return IdStream(handle, reader); };
        sqlite3* reader = IdStream && IdStreamReader ? IdStreamReader() : nullptr;
        auto loader = reader     ? std::make_unique<IdLoader>(reader, stream, kFirstRows, ready)
                      : IdStream ? std::make_unique<IdLoader>(QString::fromUtf8(file), stream,
                                                              kFirstRows, ready)
                                 : std::make_unique<IdLoader>(QString::fromUtf8(file), m_core,
                                                              m_params, kFirstRows, ready);
        if (!loader->take(ids)) {
            m_loader = std::move(loader);
            m_appendedAt = monotonicMs();
            m_restAsked = false;
            m_restTimer.start(kReadTheRestAfterMs);
            return;
        }
        if (loader->result() == SQLITE_DONE)
            return;
        // Whatever kept the loader from reading is told by reading here.
        ids.clear();
    }
    if (!IdStream) {
        ids = readIds(handle);
        return;
    }
    const auto step = IdStream(handle, handle);
    int rc = SQLITE_ROW;
    while (rc == SQLITE_ROW)
        rc = step(ids, std::numeric_limits<int>::max() / 2);
    if (rc != SQLITE_DONE)
        throw EDatabaseError(sqlErrorText(handle, rc));
}

void TADOQuery::RowsShown() {
    // Once the drawing is done: the reader would only slow it down.
    if (m_loader && !m_restAsked) {
        m_restAsked = true;
        QMetaObject::invokeMethod(this, &TADOQuery::readTheRest, Qt::QueuedConnection);
    }
}

void TADOQuery::readTheRest() {
    m_restTimer.stop();
    if (m_loader)
        m_loader->start();
}

void TADOQuery::idsReady() {
    if (!m_loader)
        return;
    // The last rows are shown at once; the others wait for their turn.
    const qint64 wait = m_appendedAt + kAppendEveryMs - monotonicMs();
    if (m_loader->ended() || wait <= 0)
        takeIds();
    else if (!m_appendTimer.isActive())
        m_appendTimer.start(int(wait));
}

void TADOQuery::takeIds() {
    takeIdsUntil(0);
}

void TADOQuery::takeIdsUntil(qsizetype count) {
    m_appendTimer.stop();
    if (!m_loader)
        return;
    const int known = int(m_ids.size());
    const bool ended =
        count > m_ids.size() ? m_loader->takeUntil(m_ids, count) : m_loader->take(m_ids);
    if (ended) {
        if (m_loader->result() != SQLITE_DONE) {
            // Name the dataset in SQLite's bracketed text, as sqlErrorText does.
            m_loadError = m_loader->errorText();
            const int open = int(m_loadError.lastIndexOf(QStringLiteral("\n(")));
            if (open >= 0)
                m_loadError.insert(open + 2, name() + QLatin1String(": "));
        }
        m_loader.reset();
    }
    m_appendedAt = monotonicMs();
    if (m_ids.size() > known)
        emit rowsAppended(known, int(m_ids.size()) - 1);
    if (!m_loadError.isEmpty() && ended)
        emit loadFailed(m_loadError);
    if (ended)
        emit loadEnded();
}

void TADOQuery::learnRows(int count) {
    if (m_loader && m_ids.size() < count)
        takeIdsUntil(count);
}

void TADOQuery::FetchAll() {
    if (m_loader)
        takeIdsUntil(std::numeric_limits<qsizetype>::max());
}

void TADOQuery::needAllRows() {
    FetchAll();
    if (!m_loadError.isEmpty())
        throw EDatabaseError(m_loadError);
}

void TADOQuery::Close() {
    // Stops the reading of identities first: nothing arrives for a closed dataset.
    m_loader.reset();
    m_appendTimer.stop();
    m_restTimer.stop();
    m_loadError.clear();
    if (!Active())
        return;
    m_state = dsInactive;
    m_ids.clear();
    m_ids.squeeze();
    m_cache->clear();
    m_buffer.clear();
    m_modified.clear();
    m_columns.clear();
    m_columnIndex.clear();
    m_nullRow.clear();
    m_current = -1;
    emit stateChanged();
    emit reset();
    emit currentChanged(-1);
}

void TADOQuery::checkBrowseMode() {
    if (!editing())
        return;
    if (m_modified.contains(true))
        Post();
    else
        Cancel();
}

void TADOQuery::Insert() {
    checkActive();
    // The new row is the last one: after every row of the statement.
    needAllRows();
    checkBrowseMode();
    m_beforeInsert = m_current;
    m_ids.append(0);
    m_current = int(m_ids.size()) - 1;
    m_buffer = QVector<QVariant>(m_columns.size());
    m_modified = QVector<bool>(m_columns.size(), false);
    m_state = dsInsert;
    emit rowInserted(m_current);
    emit currentChanged(m_current);
    emit stateChanged();
}

void TADOQuery::Edit() {
    checkActive();
    if (editing())
        return;
    if (m_ids.isEmpty()) {
        Insert();
        return;
    }
    m_buffer = rowValues(m_current);
    m_modified = QVector<bool>(m_columns.size(), false);
    m_expected.clear();
    m_state = dsEdit;
    emit stateChanged();
}

void TADOQuery::EditChecked(const QVector<QVariant>& loaded) {
    checkActive();
    if (editing())
        return;
    Edit();
    if (m_state == dsEdit)
        m_expected = loaded;
}

QVector<QVariant> TADOQuery::CurrentValues() const {
    checkActive();
    if (m_current < 0)
        return {};
    if (editing())
        return m_buffer;
    return rowValues(m_current);
}

void TADOQuery::refreshRow(int row) {
    const qint64 id = m_ids.at(row);
    m_cache->remove(id);
    try {
        fetchRows({id});
    } catch (const EDatabaseError&) {
        // Read again when it is next looked at.
    }
    emit rowChanged(row);
}

void TADOQuery::dropRow(int row) {
    const qint64 id = m_ids.at(row);
    m_ids.removeAt(row);
    m_cache->remove(id);
    m_current = qMin(row, int(m_ids.size()) - 1);
    emit rowRemoved(row);
    emit currentChanged(m_current);
}

void TADOQuery::Post() {
    checkActive();
    if (!editing())
        return;
    writePending();
}

void TADOQuery::writePending() {
    if (m_table.isEmpty())
        fail(QStringLiteral("这个列表不能修改：查询语句没有指明表。"),
             QStringLiteral("Cannot change the rows: the statement names no table"));
    sqlite3* handle = db();
    // A dataset still reading its identities holds the file against writers.
    m_connection->finishReading();
    QStringList names;
    QVariantList values;
    for (int i = 0; i < m_columns.size(); ++i) {
        if (m_modified.at(i)) {
            names << Sqlite::quoted(m_columns.at(i));
            values << m_buffer.at(i);
        }
    }
    const QString table = Sqlite::quoted(m_table);
    qint64 id = m_ids.at(m_current);
    if (m_state == dsInsert) {
        QString sql = QStringLiteral("INSERT INTO ") + table;
        if (names.isEmpty()) {
            sql += QStringLiteral(" DEFAULT VALUES");
        } else {
            QStringList marks;
            for (int i = 0; i < names.size(); ++i)
                marks << QStringLiteral("?");
            sql += QStringLiteral(" (") + names.join(QLatin1Char(',')) +
                   QStringLiteral(") VALUES (") + marks.join(QLatin1Char(',')) + QLatin1Char(')');
        }
        // The card and what the quick find knows of it are stored together or not at all.
        inTransaction(handle, [&] {
            if (BeforeWriteHook)
                BeforeWriteHook(handle, m_table, 0, RowWrite::Written);
            Sqlite::Statement(handle, sql.toUtf8(), sqlFailure()).setAll(values).next();
            id = sqlite3_last_insert_rowid(handle);
            if (WriteHook)
                WriteHook(handle, m_table, id, RowWrite::Written);
        });
        m_ids[m_current] = id;
    } else if (!names.isEmpty()) {
        QStringList sets;
        for (const QString& name : qAsConst(names))
            sets << name + QStringLiteral("=?");
        const QString sql = QStringLiteral("UPDATE ") + table + QStringLiteral(" SET ") +
                            sets.join(QLatin1Char(',')) + QStringLiteral(" WHERE \"ID\"=?");
        auto update = [&] {
            if (BeforeWriteHook)
                BeforeWriteHook(handle, m_table, id, RowWrite::Written);
            Sqlite::Statement(handle, sql.toUtf8(), sqlFailure())
                .setAll(values)
                .set(int(values.size()) + 1, id)
                .next();
            const bool done = sqlite3_changes(handle) > 0;
            if (done && WriteHook)
                WriteHook(handle, m_table, id, RowWrite::Written);
            return done;
        };
        bool updated = false;
        QString changed;
        if (m_expected.isEmpty()) {
            inTransaction(handle, [&] { updated = update(); });
        } else {
            // Optimistic locking: written only over the values that were loaded.
            bool gone = false;
            inTransaction(handle, [&] {
                changed = changedSince(handle, id, m_expected, &gone);
                if (!gone && changed.isEmpty())
                    updated = update();
            });
        }
        if (!changed.isEmpty()) {
            refreshRow(m_current);
            fail(QStringLiteral("这张名片已被其他程序修改，这次的修改没有保存，"
                                "输入的内容还在编辑框里。请重新载入（再点一次“修        改”）"
                                "它现在的内容后再修改！"),
                 QStringLiteral("Row cannot be located for updating. Some values may have been "
                                "changed since it was last read (%1)")
                     .arg(changed));
        }
        if (!updated) {
            // Gone from the table: nothing to keep editing, and nothing to list any more.
            m_state = dsBrowse;
            m_buffer.clear();
            m_modified.clear();
            m_expected.clear();
            emit stateChanged();
            dropRow(m_current);
            fail(QStringLiteral("这张名片已被其他程序删除，这次的修改没有保存，"
                                "输入的内容还在编辑框里。列表中也已去掉这张名片。"),
                 QStringLiteral("Row cannot be located for updating"));
        }
        if (m_modified.at(m_idColumn)) {
            bool ok = false;
            const qint64 newId = m_buffer.at(m_idColumn).toLongLong(&ok);
            if (ok) {
                m_cache->remove(id);
                id = newId;
                m_ids[m_current] = id;
            }
        }
    }
    m_cache->remove(id);
    const QVector<QVariant> written = m_buffer;
    m_state = dsBrowse;
    m_buffer.clear();
    m_modified.clear();
    m_expected.clear();
    // Read back what the database made of the row ("ID", defaults); keep what was written
    // if that read fails, the row is stored either way.
    try {
        fetchRows({id});
    } catch (const EDatabaseError&) {
        m_cache->insert(id, written);
    }
    emit rowChanged(m_current);
    emit stateChanged();
}

void TADOQuery::Cancel() {
    m_expected.clear();
    if (m_state == dsInsert) {
        const int row = m_current;
        m_ids.removeAt(row);
        m_state = dsBrowse;
        m_buffer.clear();
        m_modified.clear();
        m_current = qMin(m_beforeInsert, int(m_ids.size()) - 1);
        emit rowRemoved(row);
        emit currentChanged(m_current);
        emit stateChanged();
    } else if (m_state == dsEdit) {
        m_state = dsBrowse;
        m_buffer.clear();
        m_modified.clear();
        emit rowChanged(m_current);
        emit stateChanged();
    }
}

bool TADOQuery::Delete() {
    checkActive();
    if (m_state == dsInsert) {
        Cancel();
        return true;
    }
    if (m_ids.isEmpty())
        fail(QStringLiteral("列表中没有名片，不能进行这项操作。"),
             QStringLiteral("Cannot perform this operation on an empty dataset"));
    // The rows after the deleted one move up: all of them must be known.
    needAllRows();
    m_connection->finishReading();
    if (m_table.isEmpty())
        fail(QStringLiteral("这个列表不能修改：查询语句没有指明表。"),
             QStringLiteral("Cannot change the rows: the statement names no table"));
    Cancel();
    sqlite3* handle = db();
    const int row = m_current;
    const qint64 id = m_ids.at(row);
    // The row as the list shows it is the one the user chose to delete.
    const QVector<QVariant> shown = rowValues(row);
    bool gone = false;
    QString changed;
    inTransaction(handle, [&] {
        changed = changedSince(handle, id, shown, &gone);
        if (gone || !changed.isEmpty())
            return;
        if (BeforeWriteHook)
            BeforeWriteHook(handle, m_table, id, RowWrite::Deleted);
        Sqlite::Statement(handle,
                          (QStringLiteral("DELETE FROM ") + Sqlite::quoted(m_table) +
                           QStringLiteral(" WHERE \"ID\"=?"))
                              .toUtf8(),
                          sqlFailure())
            .set(1, id)
            .next();
        if (WriteHook)
            WriteHook(handle, m_table, id, RowWrite::Deleted);
    });
    if (!changed.isEmpty()) {
        refreshRow(row);
        fail(QStringLiteral("这张名片已被其他程序修改，没有删除。列表中现在显示的是它修改后的内容，"
                            "请看过后再决定是否删除。"),
             QStringLiteral("Row cannot be located for deleting. Some values may have been "
                            "changed since it was last read (%1)")
                 .arg(changed));
    }
    dropRow(row);
    return !gone;
}
