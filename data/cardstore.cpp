#include "cardstore.h"

#include "history.h"
#include "sqlite.h"

#include <QStringList>

namespace CardStore {

namespace {

QByteArray insertStatement() {
    QStringList names;
    QStringList marks;
    for (const FieldMapEntry& field : kFieldMap) {
        names << Sqlite::quoted(QString::fromUtf8(field.column));
        marks << QStringLiteral("?");
    }
    return (QStringLiteral("INSERT INTO \"zl\" (") + names.join(QLatin1Char(',')) +
            QStringLiteral(") VALUES (") + marks.join(QLatin1Char(',')) + QLatin1Char(')'))
        .toUtf8();
}

// SQLite's own cache is a few pages of this file's size: a large import would write its
// index pages out and read them back again and again. Set for the import, then put back.
class BulkCache {
public:
    explicit BulkCache(sqlite3* db)
        : m_db(db) {
        int rc = SQLITE_OK;
        m_before = Sqlite::firstColumn(db, "PRAGMA cache_size", &rc).value(0).toLongLong();
        // Negative is in KiB; a positive count of pages is left as it is.
        if (rc == SQLITE_OK && m_before < 0 && m_before > -kBulkCacheKb)
            Sqlite::exec(db,
                         ("PRAGMA cache_size=" + QByteArray::number(-kBulkCacheKb)).constData());
        else
            m_before = 0;
    }
    ~BulkCache() {
        if (m_before != 0)
            Sqlite::exec(m_db, ("PRAGMA cache_size=" + QByteArray::number(m_before)).constData());
    }
    BulkCache(const BulkCache&) = delete;
    BulkCache& operator=(const BulkCache&) = delete;

private:
    static constexpr qint64 kBulkCacheKb = 16384;
    sqlite3* m_db;
    qint64 m_before = 0;
};

} // namespace

QVector<qint64> addCards(const Sqlite::Database& database, const CardSource& next,
                         const Progress& progress, const std::function<void(qint64 id)>& added,
                         const Filing& filing) {
    sqlite3* db = database.get();
    const Sqlite::Failure failure = database.failure();
    const BulkCache cache(db);
    Sqlite::Transaction transaction(db, failure);
    Sqlite::Statement insert(db, insertStatement(), failure);

    QVector<qint64> ids;
    Card card;
    while (next(&card)) {
        for (int i = 0; i < int(card.values.size()); ++i) {
            // Never NULL: an empty text is stored as empty text, as the editor stores it.
            const QString& value = card.values[i];
            insert.set(i + 1, value.isNull() ? QString(QLatin1String("")) : value);
        }
        insert.next();
        insert.reset();
        ids.append(sqlite3_last_insert_rowid(db));
        if (added)
            added(ids.last());
        if (progress && !progress(ids.size()))
            return {};
        card = Card();
    }
    // One record of the IDs, however many: undoing deletes them again.
    History::added(db, ids);
    // The quick find learns them all at once: far quicker than card by card.
    if (filing && !filing(db, ids, [&] { return !progress || progress(ids.size()); }))
        return {};
    transaction.commit();
    return ids;
}

namespace {

void eachCard(sqlite3* db, const Sqlite::Failure& failure, const QString& statement,
              const QVariantList& parameters, const CardVisit& visit) {
    Sqlite::Statement st(db, statement.toUtf8(), failure);
    st.setAll(parameters);
    // Result columns to card fields, by name.
    QVector<int> field(st.columnCount(), -1);
    int idColumn = -1;
    for (int c = 0; c < st.columnCount(); ++c) {
        const QString name = st.columnName(c);
        field[c] = Card::indexOf(name);
        if (name.compare(QLatin1String("ID"), Qt::CaseInsensitive) == 0)
            idColumn = c;
    }
    while (st.next()) {
        Card card;
        for (int c = 0; c < field.size(); ++c) {
            if (field[c] >= 0)
                card.values[field[c]] = st.text(c).toString();
        }
        visit(idColumn >= 0 ? st.int64(idColumn) : 0, card);
    }
}

} // namespace

void forEachCard(const Sqlite::Database& db, const QString& statement,
                 const QVariantList& parameters, const CardVisit& visit) {
    eachCard(db.get(), db.failure(), statement, parameters, visit);
}

void forEachCard(sqlite3* db, const QString& statement, const QVariantList& parameters,
                 const CardVisit& visit) {
    eachCard(db, Sqlite::fileFailure(QString()), statement, parameters, visit);
}

} // namespace CardStore
