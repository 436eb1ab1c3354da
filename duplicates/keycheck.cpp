// The duplicate keys checked against zl, for cards written by a program that does not keep
// them: each card's checksum as its keys were made, compared with the card as it is now.
#include "keys.h"

#include "core/card.h"
#include "data/sqlite.h"
#include "quickfind/store.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace Duplicates {

namespace {

// Out of line beyond this share of the cards, the keys are made again: quicker than card by
// card.
constexpr double kRebuildShare = 0.25;

Sqlite::Failure keyFailure() {
    return Sqlite::fileFailure({});
}

qint64 dataVersion(sqlite3* db) {
    Sqlite::Statement s(db, "PRAGMA data_version", keyFailure());
    return s.next() ? s.int64(0) : -1;
}

// Where a connection stands: its own mark and SQLite's data version, which only another
// connection's commit moves. The mark tells a connection from one that SQLite later gives the
// same handle (the window's, opened again after a restore): it lives in the connection's
// temporary database, which goes with it.
struct Standing {
    qint64 mark = 0;
    qint64 version = -1;
    bool operator==(const Standing& o) const { return mark == o.mark && version == o.version; }
};

Standing standingOf(sqlite3* db) {
    Standing s;
    {
        Sqlite::Statement read(db, "PRAGMA temp.user_version", keyFailure());
        s.mark = read.next() ? read.int64(0) : 0;
    }
    if (s.mark == 0) {
        static std::atomic<int> marks{0};
        s.mark = ++marks;
        Sqlite::Statement set(
            db, ("PRAGMA temp.user_version = " + QByteArray::number(s.mark)).constData(),
            keyFailure());
        set.run();
    }
    s.version = dataVersion(db);
    return s;
}

// Per connection, where it stood when the keys were last known in line with zl.
std::mutex g_trustMutex;
std::unordered_map<sqlite3*, Standing> g_trusted;

bool trusted(sqlite3* db) {
    const Standing now = standingOf(db);
    const std::lock_guard<std::mutex> lock(g_trustMutex);
    const auto it = g_trusted.find(db);
    return it != g_trusted.end() && it->second == now;
}

struct OutOfLine {
    std::vector<qint64> written; // added or changed: keys made again
    std::vector<qint64> gone;    // deleted: keys dropped
    qint64 cards = 0;
};

// Both tables in ID order, side by side.
OutOfLine compare(sqlite3* db) {
    OutOfLine out;
    Sqlite::Statement cards(
        db,
        ("SELECT \"ID\"" + QuickFind::Store::cardColumns() + " FROM \"zl\" ORDER BY \"ID\"")
            .c_str(),
        keyFailure());
    Sqlite::Statement sums(db, "SELECT \"ID\", \"sum\" FROM \"dup_sums\" ORDER BY \"ID\"",
                           keyFailure());
    bool haveSum = sums.next();
    while (cards.next()) {
        const qint64 id = cards.int64(0);
        ++out.cards;
        while (haveSum && sums.int64(0) < id) {
            out.gone.push_back(sums.int64(0));
            haveSum = sums.next();
        }
        const auto sum = qint64(QuickFind::Store::cardSum(QuickFind::Store::rowColumns(cards, 1)));
        if (haveSum && sums.int64(0) == id) {
            if (sums.int64(1) != sum)
                out.written.push_back(id);
            haveSum = sums.next();
        } else {
            out.written.push_back(id);
        }
    }
    for (; haveSum; haveSum = sums.next())
        out.gone.push_back(sums.int64(0));
    return out;
}

} // namespace

void trustKeys(sqlite3* db) {
    const Standing now = standingOf(db);
    const std::lock_guard<std::mutex> lock(g_trustMutex);
    g_trusted[db] = now;
}

bool keysInLine(sqlite3* db) {
    return keyTables(db) == KeyTables::WithSums && trusted(db);
}

bool catchUpKeys(sqlite3* db, const std::function<bool(qint64 done)>& progress) {
    const KeyTables tables = keyTables(db);
    if (tables == KeyTables::None)
        return false;
    if (tables == KeyTables::KeysOnly)
        return rebuildKeys(db, progress);
    if (trusted(db))
        return true;
    const OutOfLine out = compare(db);
    if (double(out.written.size() + out.gone.size()) >
        kRebuildShare * double(std::max<qint64>(out.cards, 8)))
        return rebuildKeys(db, progress);
    if (!out.written.empty() || !out.gone.empty()) {
        Sqlite::Savepoint save(db, keyFailure());
        for (const qint64 id : out.gone)
            removeKeys(db, id);
        QVector<qint64> written;
        for (const qint64 id : out.written) {
            removeKeys(db, id);
            written.append(id);
        }
        cardsAdded(db, written);
        save.commit();
    }
    trustKeys(db);
    return true;
}

} // namespace Duplicates
