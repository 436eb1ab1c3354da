#include "keys.h"

#include "finder.h"
#include "schema.h"

#include "core/card.h"
#include "data/adoquery.h"
#include "data/cardstore.h"
#include "data/dberror.h"
#include "data/sqlite.h"
#include "quickfind/cardindex.h"
#include "quickfind/store.h"

#include <QSet>

#include <algorithm>
#include <optional>
#include <vector>

namespace Duplicates {

namespace {

void check(sqlite3* db, int rc) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw EDatabaseError(Sqlite::errorText(db, rc));
}

QStringList keysOf(const Profile& p) {
    QStringList keys;
    for (const Phone& phone : p.phones)
        keys << QLatin1String(phone.mobile ? "m" : "p") + QString::fromStdString(phone.key);
    for (const QString& e : p.emails)
        keys << QLatin1Char('e') + e;
    if (!p.name.isEmpty() && !p.company.isEmpty())
        keys << QLatin1Char('n') + p.name + QChar(0x1f) + p.company;
    keys.removeDuplicates();
    return keys;
}

const char kInsert[] = "INSERT INTO \"dup_keys\" (\"ID\", \"key\") VALUES (?, ?)";
const char kInsertSums[] = "INSERT OR REPLACE INTO \"dup_sums\" (\"ID\", \"sum\") VALUES";

// Writes cards' keys and, when the file keeps them, the checksums they were made from. The
// keys wait, a few thousand at most, to go in in key order: their index filled at random
// would touch a page of it for nearly every key. flush() writes the rest.
class KeyWriter {
public:
    explicit KeyWriter(sqlite3* db, bool withSums)
        : m_db(db) {
        check(db, m_insert.prepare(db, kInsert));
        m_withSums = withSums;
    }
    void write(qint64 id, const Card& card) {
        for (QString& key : keysOf(profileOf(card)))
            m_keys.emplace_back(std::move(key), id);
        if (m_withSums)
            m_sums << id << qint64(QuickFind::Store::cardSum(card));
        if (m_keys.size() >= 8192 || m_sums.size() >= 2 * 8192)
            flush();
    }
    void flush() {
        Sqlite::insertRows(m_db, kInsertSums, 2, m_sums, Sqlite::fileFailure({}));
        m_sums.clear();
        std::sort(m_keys.begin(), m_keys.end());
        for (const auto& [key, id] : m_keys) {
            check(m_db, m_insert.bind(1, id));
            check(m_db, m_insert.bind(2, key));
            check(m_db, m_insert.step());
            m_insert.reset();
        }
        m_keys.clear();
    }

private:
    sqlite3* m_db;
    Sqlite::Statement m_insert;
    bool m_withSums = false;
    QVariantList m_sums; // ID and checksum, card after card
    std::vector<std::pair<QString, qint64>> m_keys;
};

// Undone as a whole unless released.
class Savepoint {
public:
    explicit Savepoint(sqlite3* db)
        : m_db(db) {
        check(db, Sqlite::exec(db, "SAVEPOINT \"dup_keys\""));
    }
    ~Savepoint() {
        if (!m_done) {
            Sqlite::exec(m_db, "ROLLBACK TO \"dup_keys\"");
            Sqlite::exec(m_db, "RELEASE \"dup_keys\"");
        }
    }
    void release() {
        check(m_db, Sqlite::exec(m_db, "RELEASE \"dup_keys\""));
        m_done = true;
    }

private:
    sqlite3* m_db;
    bool m_done = false;
};

// The cards of `ids` that are stored, read a few hundred at a time (one statement each).
void forEachCardOf(sqlite3* db, const QVector<qint64>& ids, const CardStore::CardVisit& visit) {
    constexpr int kChunk = 500;
    for (int first = 0; first < ids.size(); first += kChunk) {
        QStringList list;
        for (qint64 id : ids.mid(first, kChunk))
            list << QString::number(id);
        CardStore::forEachCard(
            db, QStringLiteral("SELECT * FROM \"zl\" WHERE \"ID\" IN (%1)").arg(list.join(',')), {},
            visit);
    }
}

} // namespace

bool hasKeys(sqlite3* db) {
    return keyTables(db) != KeyTables::None;
}

KeyTables keyTables(sqlite3* db) {
    int rc = SQLITE_OK;
    const QStringList names = Sqlite::firstColumn(
        db,
        "SELECT name FROM sqlite_master WHERE type='table' AND name IN ('dup_keys', 'dup_sums')",
        &rc);
    check(db, rc);
    if (!names.contains(QLatin1String("dup_keys")))
        return KeyTables::None;
    return names.contains(QLatin1String("dup_sums")) ? KeyTables::WithSums : KeyTables::KeysOnly;
}

bool rebuildKeys(sqlite3* db, const std::function<bool(qint64 done)>& progress) {
    struct Stopped {};
    Savepoint save(db);
    check(db, Sqlite::exec(db, "DROP TABLE IF EXISTS \"dup_keys\""));
    check(db, Sqlite::exec(db, "DROP TABLE IF EXISTS \"dup_sums\""));
    // The tables filled before the indexes are made, in card order: far quicker at a million
    // cards.
    const QStringList statements = schemaStatements();
    for (const QString& statement : statements)
        if (statement.startsWith(QLatin1String("CREATE TABLE")))
            check(db, Sqlite::exec(db, statement.toUtf8().constData()));
    KeyWriter writer(db, true);
    qint64 done = 0;
    try {
        CardStore::forEachCard(db, QStringLiteral("SELECT * FROM \"zl\""), {},
                               [&](qint64 id, const Card& card) {
                                   writer.write(id, card);
                                   if (progress && !progress(++done))
                                       throw Stopped();
                               });
        writer.flush();
    } catch (const Stopped&) {
        return false; // the savepoint undoes it
    }
    for (const QString& statement : statements)
        if (!statement.startsWith(QLatin1String("CREATE TABLE")))
            check(db, Sqlite::exec(db, statement.toUtf8().constData()));
    save.release();
    trustKeys(db);
    return true;
}

void updateKeys(sqlite3* db, qint64 id, const Card& card) {
    const KeyTables tables = keyTables(db);
    if (tables == KeyTables::None)
        return;
    removeKeys(db, id);
    KeyWriter writer(db, tables == KeyTables::WithSums);
    writer.write(id, card);
    writer.flush();
}

void removeKeys(sqlite3* db, qint64 id) {
    const KeyTables tables = keyTables(db);
    if (tables == KeyTables::None)
        return;
    Sqlite::Statement st;
    check(db, st.prepare(db, "DELETE FROM \"dup_keys\" WHERE \"ID\" = ?"));
    check(db, st.bind(1, id));
    check(db, st.step());
    if (tables != KeyTables::WithSums)
        return;
    check(db, st.prepare(db, "DELETE FROM \"dup_sums\" WHERE \"ID\" = ?"));
    check(db, st.bind(1, id));
    check(db, st.step());
}

namespace {

// The keys of new cards, filed a slice at a time.
class NewCardKeys {
public:
    NewCardKeys(sqlite3* db, const QVector<qint64>& ids)
        : m_db(db)
        , m_ids(ids) {
        const KeyTables tables = ids.isEmpty() ? KeyTables::None : keyTables(db);
        if (tables != KeyTables::None)
            m_writer.emplace(db, tables == KeyTables::WithSums);
    }
    void next(int count) {
        if (!m_writer || m_at >= m_ids.size())
            return;
        forEachCardOf(m_db, m_ids.mid(m_at, count),
                      [&](qint64 id, const Card& card) { m_writer->write(id, card); });
        m_at += count;
    }
    void rest() {
        next(int(m_ids.size()));
        if (m_writer)
            m_writer->flush();
    }

private:
    sqlite3* m_db;
    QVector<qint64> m_ids;
    qsizetype m_at = 0;
    std::optional<KeyWriter> m_writer;
};

} // namespace

void cardsAdded(sqlite3* db, const QVector<qint64>& ids) {
    NewCardKeys(db, ids).rest();
}

void rowWritten(sqlite3* db, const QString& table, qint64 id, RowWrite write) {
    if (!CardIndex::isCardTable(table) || !hasKeys(db))
        return;
    if (write == RowWrite::Deleted) {
        removeKeys(db, id);
        return;
    }
    bool found = false;
    CardStore::forEachCard(db, QStringLiteral("SELECT * FROM \"zl\" WHERE \"ID\"=?"), {id},
                           [&](qint64, const Card& card) {
                               found = true;
                               updateKeys(db, id, card);
                           });
    if (!found)
        removeKeys(db, id);
}

bool fileNewCards(sqlite3* db, const QVector<qint64>& ids, const std::function<bool()>& progress) {
    // Filed between the quick find's runs of cards: its thread mostly waits for its filing
    // threads then, and a slice keeps pace with a run.
    constexpr int kSlice = 1024;
    NewCardKeys keys(db, ids);
    if (!CardIndex::cardsAdded(db, ids, [&] {
            keys.next(kSlice);
            return !progress || progress();
        }))
        return false;
    keys.rest();
    return true;
}

Exchange::ImportOptions importOptions() {
    Exchange::ImportOptions options;
    options.hash = foldedHash;
    options.same = sameAfterFolding;
    options.filing = fileNewCards;
    return options;
}

int resemblingOlder(sqlite3* db, const QVector<qint64>& ids, int pairs) {
    if (ids.isEmpty() || !hasKeys(db))
        return 0;
    catchUpKeys(db);
    const qint64 first = *std::min_element(ids.begin(), ids.end());
    Sqlite::Statement st;
    check(db, st.prepare(db, "SELECT DISTINCT a.\"ID\", b.\"ID\" FROM \"dup_keys\" a "
                             "JOIN \"dup_keys\" b ON b.\"key\" = a.\"key\" AND b.\"ID\" < ?1 "
                             "WHERE a.\"ID\" >= ?1 ORDER BY a.\"ID\" LIMIT ?2"));
    check(db, st.bind(1, first));
    check(db, st.bind(2, qint64(pairs)));
    QVector<QPair<qint64, qint64>> found;
    int rc;
    while ((rc = st.step()) == SQLITE_ROW)
        found.append({st.int64(0), st.int64(1)});
    check(db, rc);
    if (found.isEmpty())
        return 0;
    QSet<qint64> wanted;
    for (const auto& pair : found)
        wanted << pair.first << pair.second;
    QStringList list;
    for (qint64 id : wanted)
        list << QString::number(id);
    QHash<qint64, Profile> profiles;
    CardStore::forEachCard(
        db,
        QStringLiteral("SELECT * FROM \"zl\" WHERE \"ID\" IN (%1)")
            .arg(list.join(QLatin1Char(','))),
        {}, [&](qint64 id, const Card& card) { profiles.insert(id, profileOf(card)); });
    QSet<qint64> resembling;
    for (const auto& pair : found) {
        if (resembling.contains(pair.first) || !profiles.contains(pair.first) ||
            !profiles.contains(pair.second))
            continue;
        if (linkOf(profiles.value(pair.first), profiles.value(pair.second)) != Link::None)
            resembling.insert(pair.first);
    }
    return resembling.size();
}

QVector<Card> cardsOf(sqlite3* db, const QVector<qint64>& ids, QVector<qint64>* found) {
    QHash<qint64, Card> stored;
    forEachCardOf(db, ids, [&](qint64 id, const Card& card) { stored.insert(id, card); });
    QVector<Card> out;
    if (found)
        found->clear();
    for (qint64 id : ids) {
        auto it = stored.constFind(id);
        if (it == stored.constEnd())
            continue;
        out.append(*it);
        if (found)
            found->append(id);
    }
    return out;
}

qint64 sameCardHere(sqlite3* db, const Card& card) {
    QVector<qint64> ids;
    for (const Proposal& p : propose(db, card))
        ids.append(p.id);
    QVector<qint64> found;
    const QVector<Card> cards = cardsOf(db, ids, &found);
    for (int i = 0; i < cards.size(); ++i)
        if (sameAfterFolding(cards[i], card))
            return found[i];
    return 0;
}

QVector<qint64> holdersOfMobileOrEmail(sqlite3* db, const Card& card, qint64 self) {
    QStringList wanted;
    for (const QString& key : keysOf(profileOf(card)))
        if (key.startsWith(QLatin1Char('m')) || key.startsWith(QLatin1Char('e')))
            wanted << key;
    QSet<qint64> found;
    if (wanted.isEmpty())
        return {};
    if (!hasKeys(db)) {
        CardStore::forEachCard(db, QStringLiteral("SELECT * FROM \"zl\""), {},
                               [&](qint64 id, const Card& other) {
                                   for (const QString& key : keysOf(profileOf(other)))
                                       if (wanted.contains(key))
                                           found.insert(id);
                               });
    } else {
        catchUpKeys(db);
        Sqlite::Statement find;
        check(db, find.prepare(db, "SELECT \"ID\" FROM \"dup_keys\" WHERE \"key\" = ?"));
        for (const QString& key : wanted) {
            check(db, find.bind(1, key));
            int rc;
            while ((rc = find.step()) == SQLITE_ROW)
                found.insert(find.int64(0));
            check(db, rc);
            find.reset();
        }
    }
    found.remove(self);
    QVector<qint64> out(found.begin(), found.end());
    std::sort(out.begin(), out.end());
    return out;
}

QVector<Proposal> propose(sqlite3* db, const Card& card, qint64 self) {
    const Profile mine = profileOf(card);
    QVector<Proposal> out;
    auto consider = [&](qint64 id, const Card& other) {
        if (id == self)
            return;
        const Link l = linkOf(mine, profileOf(other));
        if (l != Link::None)
            out.append({id, l == Link::Certain});
    };
    if (!hasKeys(db)) {
        CardStore::forEachCard(db, QStringLiteral("SELECT * FROM \"zl\""), {}, consider);
        return out;
    }
    catchUpKeys(db);
    QSet<qint64> candidates;
    Sqlite::Statement find;
    check(db, find.prepare(db, "SELECT \"ID\" FROM \"dup_keys\" WHERE \"key\" = ? LIMIT ?"));
    for (const QString& key : keysOf(mine)) {
        check(db, find.bind(1, key));
        check(db, find.bind(2, qint64(kLargestBlock) + 1));
        QVector<qint64> found;
        int rc;
        while ((rc = find.step()) == SQLITE_ROW)
            found.append(find.int64(0));
        check(db, rc);
        find.reset();
        // As the whole-file search: a key this many cards share identifies nobody.
        if (found.size() <= kLargestBlock)
            candidates.unite(QSet<qint64>(found.begin(), found.end()));
    }
    candidates.remove(self);
    if (candidates.isEmpty())
        return out;
    QStringList list;
    for (qint64 id : candidates)
        list << QString::number(id);
    CardStore::forEachCard(db,
                           QStringLiteral("SELECT * FROM \"zl\" WHERE \"ID\" IN (%1) ORDER BY "
                                          "\"ID\"")
                               .arg(list.join(QLatin1Char(','))),
                           {}, consider);
    return out;
}

} // namespace Duplicates
