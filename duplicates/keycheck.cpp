// The duplicate keys checked against zl, for cards written by a program that does not keep
// them: each card's checksum as its keys were made, compared with the card as it is now.
#include "keys.h"

#include "core/card.h"
#include "core/error.h"
#include "data/sqlite.h"
#include "quickfind/store.h"

#ifdef __linux__
#include <sys/resource.h>
#endif

#include <algorithm>
#include <atomic>
#include <limits>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace Duplicates {

namespace {

// Out of line beyond this share of the cards, the keys are made again: quicker than card by
// card.
constexpr double kRebuildShare = 0.25;
// Compared beside the window a run of this many IDs at a time: a few milliseconds' read.
constexpr qint64 kIdsAtATime = 8192;
// Beside the window's start, on a busy machine, the comparison comes last.
constexpr int kBesideNiceness = 10;
// Fewer cards the first save compares itself in a few milliseconds.
constexpr qint64 kCheckFromCards = 5000;

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

// Both tables in ID order, side by side, over the IDs from `from` to before `to`.
void compare(sqlite3* db, qint64 from, qint64 to, OutOfLine& out) {
    Sqlite::Statement cards(db,
                            ("SELECT \"ID\"" + QuickFind::Store::cardColumns() +
                             " FROM \"zl\" WHERE \"ID\" >= ? AND \"ID\" < ? ORDER BY \"ID\"")
                                .c_str(),
                            keyFailure());
    Sqlite::Statement sums(db,
                           "SELECT \"ID\", \"sum\" FROM \"dup_sums\" WHERE \"ID\" >= ? AND "
                           "\"ID\" < ? ORDER BY \"ID\"",
                           keyFailure());
    cards.set(1, from).set(2, to);
    sums.set(1, from).set(2, to);
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
}

OutOfLine compare(sqlite3* db) {
    OutOfLine out;
    compare(db, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(), out);
    return out;
}

// The checks made beside the window, each for one connection.
std::mutex g_checksMutex;
std::unordered_map<sqlite3*, KeyCheck*> g_checks;

// The comparison another connection made for `db`, when it still holds.
std::optional<OutOfLine> checkedBeside(sqlite3* db) {
    KeyCheck* check = nullptr;
    {
        const std::lock_guard<std::mutex> lock(g_checksMutex);
        const auto it = g_checks.find(db);
        if (it == g_checks.end())
            return std::nullopt;
        check = it->second;
        g_checks.erase(it);
    }
    return check->take(db);
}

} // namespace

bool KeyCheck::worthwhile(sqlite3* db) {
    // The highest ID, not a count: it is at hand in the index, and never fewer than the cards.
    Sqlite::Statement highest(db, "SELECT max(\"ID\") FROM \"zl\"", keyFailure());
    return highest.next() && highest.int64(0) >= kCheckFromCards;
}

KeyCheck::KeyCheck(sqlite3* db, const QString& file)
    : m_db(db) {
    const Standing now = standingOf(db);
    m_mark = now.mark;
    m_version = now.version;
    m_result = std::async(std::launch::async, [file] {
#ifdef __linux__
        // Linux gives this thread alone the lower priority.
        setpriority(PRIO_PROCESS, 0, kBesideNiceness);
#endif
        std::optional<OutOfLine> out;
        Sqlite::Database own;
        if (own.open(file, Sqlite::OpenMode::ReadOnly, true) != SQLITE_OK)
            return out;
        try {
            qint64 last = 0;
            Sqlite::Statement highest(own.get(),
                                      "SELECT max((SELECT max(\"ID\") FROM \"zl\"), "
                                      "(SELECT max(\"ID\") FROM \"dup_sums\"))",
                                      keyFailure());
            if (highest.next())
                last = highest.int64(0);
            highest.rewind();
            out.emplace();
            // A run of IDs at a time, each in a read of its own: a save of the window waits
            // for one short run at most, never for the whole file, however slowly this
            // thread is given the processor.
            for (qint64 from = std::numeric_limits<qint64>::min(); from <= last;) {
                const qint64 to = std::max<qint64>(from, 0) + kIdsAtATime;
                Sqlite::Transaction read(own.get(), keyFailure(),
                                         Sqlite::Transaction::Start::Deferred);
                compare(own.get(), from, to, *out);
                read.commit();
                from = to;
            }
        } catch (const EError&) {
            out.reset();
        }
        return out;
    });
    const std::lock_guard<std::mutex> lock(g_checksMutex);
    g_checks[db] = this;
}

KeyCheck::~KeyCheck() {
    {
        const std::lock_guard<std::mutex> lock(g_checksMutex);
        const auto it = g_checks.find(m_db);
        if (it != g_checks.end() && it->second == this)
            g_checks.erase(it);
    }
    if (m_result.valid())
        m_result.wait();
}

void KeyCheck::wait() const {
    if (m_result.valid())
        m_result.wait();
}

bool KeyCheck::used() const {
    return m_used;
}

std::optional<OutOfLine> KeyCheck::take(sqlite3* db) {
    if (!m_result.valid())
        return std::nullopt;
    std::optional<OutOfLine> out = m_result.get();
    // Another connection under the same handle, or another program's commit since the check
    // began: the result says nothing of the file as it is now.
    if (!out || !(standingOf(db) == Standing{m_mark, m_version}))
        return std::nullopt;
    m_used = true;
    return out;
}

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
    // Compared beside the window since it opened: the cards need not all be read now.
    std::optional<OutOfLine> checked = checkedBeside(db);
    const OutOfLine out = checked ? std::move(*checked) : compare(db);
    if (double(out.written.size() + out.gone.size()) >
        kRebuildShare * double(std::max<qint64>(out.cards, 8)))
        return rebuildKeys(db, progress);
    if (!out.written.empty() || !out.gone.empty()) {
        Sqlite::Savepoint save(db, keyFailure());
        // Every one gets the keys of its card as it is now, none when it is gone: a card the
        // window wrote again under an ID the comparison beside it found gone (an undone
        // delete) keeps its keys.
        QVector<qint64> written;
        for (const std::vector<qint64>* ids : {&out.written, &out.gone}) {
            for (const qint64 id : *ids) {
                removeKeys(db, id);
                written.append(id);
            }
        }
        cardsAdded(db, written);
        save.commit();
    }
    trustKeys(db);
    return true;
}

} // namespace Duplicates
