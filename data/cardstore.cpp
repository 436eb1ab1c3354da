#include "cardstore.h"

#include "cardindex.h"
#include "dberror.h"
#include "sqlite.h"

#include <QStringList>

namespace CardStore {

namespace {

[[noreturn]] void fail(sqlite3* db, int rc, const QString& file) {
    throw EDatabaseError(Sqlite::errorText(db, rc, file));
}

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

// Ends the transaction unless it was committed, so that nothing half done stays.
class Transaction {
public:
    explicit Transaction(sqlite3* db)
        : m_db(db) {}
    ~Transaction() {
        if (m_open)
            Sqlite::exec(m_db, "ROLLBACK");
    }
    int begin() {
        const int rc = Sqlite::exec(m_db, "BEGIN IMMEDIATE");
        m_open = rc == SQLITE_OK;
        return rc;
    }
    int commit() {
        const int rc = Sqlite::exec(m_db, "COMMIT");
        if (rc == SQLITE_OK)
            m_open = false;
        return rc;
    }

private:
    sqlite3* m_db;
    bool m_open = false;
};

} // namespace

QVector<qint64> addCards(sqlite3* db, const QString& file, const CardSource& next,
                         const Progress& progress, const std::function<void(qint64 id)>& added) {
    Transaction transaction(db);
    int rc = transaction.begin();
    if (rc != SQLITE_OK)
        fail(db, rc, file);
    Sqlite::Statement insert;
    rc = insert.prepare(db, insertStatement());
    if (rc != SQLITE_OK)
        fail(db, rc, file);

    QVector<qint64> ids;
    Card card;
    while (next(&card)) {
        for (int i = 0; i < int(card.values.size()); ++i) {
            // Never NULL: an empty text is stored as empty text, as the editor stores it.
            const QString& value = card.values[i];
            rc = insert.bind(i + 1, value.isNull() ? QString(QLatin1String("")) : value);
            if (rc != SQLITE_OK)
                fail(db, rc, file);
        }
        rc = insert.step();
        if (rc != SQLITE_DONE)
            fail(db, rc, file);
        insert.reset();
        ids.append(sqlite3_last_insert_rowid(db));
        if (added)
            added(ids.last());
        if (progress && !progress(ids.size()))
            return {};
        card = Card();
    }
    // The quick find learns them all at once: far quicker than card by card.
    if (!CardIndex::cardsAdded(db, ids, [&] { return !progress || progress(ids.size()); }))
        return {};
    rc = transaction.commit();
    if (rc != SQLITE_OK)
        fail(db, rc, file);
    return ids;
}

void forEachCard(sqlite3* db, const QString& file, const QString& statement,
                 const QVariantList& parameters,
                 const std::function<void(qint64 id, const Card& card)>& visit) {
    Sqlite::Statement st;
    int rc = st.prepare(db, statement.toUtf8());
    if (rc != SQLITE_OK)
        fail(db, rc, file);
    for (int i = 0; i < parameters.size(); ++i) {
        rc = st.bind(i + 1, parameters.at(i));
        if (rc != SQLITE_OK)
            fail(db, rc, file);
    }
    // Result columns to card fields, by name.
    QVector<int> field(st.columnCount(), -1);
    int idColumn = -1;
    for (int c = 0; c < st.columnCount(); ++c) {
        const QString name = st.columnName(c);
        field[c] = Card::indexOf(name);
        if (name.compare(QLatin1String("ID"), Qt::CaseInsensitive) == 0)
            idColumn = c;
    }
    while ((rc = st.step()) == SQLITE_ROW) {
        Card card;
        for (int c = 0; c < field.size(); ++c) {
            if (field[c] >= 0)
                card.values[field[c]] = st.text(c).toString();
        }
        visit(idColumn >= 0 ? st.int64(idColumn) : 0, card);
    }
    if (rc != SQLITE_DONE)
        fail(db, rc, file);
}

} // namespace CardStore
