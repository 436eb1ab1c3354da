#include "check.h"

#include "store.h"

#include "data/sqlite.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace QuickFind::Check {

namespace {

using namespace Store;
using Sqlite::Statement;

const qint64 kLastChunk = chunkOf(std::numeric_limits<qint64>::max());

/// The first chunk at or after `from` (anywhere without it) that holds cards of zl or of
/// the index.
std::optional<qint64> nextChunk(sqlite3* db, std::optional<qint64> from) {
    Statement card(db,
                   from ? "SELECT \"ID\" FROM \"zl\" WHERE \"ID\" >= ? ORDER BY \"ID\" LIMIT 1"
                        : "SELECT \"ID\" FROM \"zl\" ORDER BY \"ID\" LIMIT 1",
                   indexFailure("检查"));
    Statement indexed(db,
                      from ? "SELECT \"chunk\" FROM \"quickfind_chunk\" WHERE \"chunk\" >= ? "
                             "ORDER BY \"chunk\" LIMIT 1"
                           : "SELECT \"chunk\" FROM \"quickfind_chunk\" ORDER BY \"chunk\" LIMIT 1",
                      indexFailure("检查"));
    if (from) {
        card.set(1, firstIdOf(*from));
        indexed.set(1, *from);
    }
    std::optional<qint64> next;
    if (card.next())
        next = chunkOf(card.int64(0));
    if (indexed.next())
        next = next ? std::min(*next, indexed.int64(0)) : indexed.int64(0);
    return next;
}

/// Appends the cards of `chunk` known wrongly to `stale`; gives the number of its cards in zl.
std::size_t compareChunk(sqlite3* db, qint64 chunk, const std::vector<qint64>& dirty,
                         bool firstOnly, std::vector<qint64>& stale) {
    std::vector<std::uint32_t> offsets;
    {
        Statement s(db, "SELECT \"ids\" FROM \"quickfind_chunk\" WHERE \"chunk\" = ?",
                    indexFailure("检查"));
        s.set(1, chunk);
        if (s.next())
            offsets = decodeIds(s.blob(0));
    }
    const std::vector<std::uint32_t> sums = readSums(db, chunk);
    const qint64 base = firstIdOf(chunk);
    auto note = [&](qint64 id) {
        if (!std::binary_search(dirty.begin(), dirty.end(), id))
            stale.push_back(id);
    };
    Statement rows(db,
                   ("SELECT \"ID\"" + cardColumns() +
                    (chunk == kLastChunk ? " FROM \"zl\" WHERE \"ID\" >= ? ORDER BY \"ID\""
                                         : " FROM \"zl\" WHERE \"ID\" >= ? AND \"ID\" < ? "
                                           "ORDER BY \"ID\""))
                       .c_str(),
                   indexFailure("检查"));
    rows.set(1, base);
    if (chunk != kLastChunk)
        rows.set(2, firstIdOf(chunk + 1));
    std::size_t count = 0, at = 0;
    while (rows.next() && !(firstOnly && !stale.empty())) {
        const qint64 id = rows.int64(0);
        const std::uint32_t offset = offsetOf(id);
        ++count;
        while (at < offsets.size() && offsets[at] < offset)
            note(base + offsets[at++]); // deleted
        if (at < offsets.size() && offsets[at] == offset) {
            if (at >= sums.size() || sums[at] != cardSum(rowColumns(rows, 1)))
                note(id); // changed in place
            ++at;
        } else {
            note(id); // added
        }
    }
    while (at < offsets.size() && !(firstOnly && !stale.empty()))
        note(base + offsets[at++]);
    return count;
}

} // namespace

std::vector<qint64> staleIds(sqlite3* db, const Options& options, std::size_t* cards) {
    std::vector<qint64> stale;
    std::size_t count = 0;
    std::optional<qint64> from;
    for (;;) {
        // Each chunk compared in one snapshot of zl and the index.
        std::optional<Sqlite::Transaction> snapshot;
        if (options.ownSnapshots)
            snapshot.emplace(db, indexFailure("检查"), Sqlite::Transaction::Start::Deferred);
        const std::vector<qint64> dirty = dirtyIds(db);
        const std::optional<qint64> chunk = nextChunk(db, from);
        bool done = !chunk;
        if (chunk) {
            count += compareChunk(db, *chunk, dirty, options.firstOnly, stale);
            done = *chunk == kLastChunk || (options.firstOnly && !stale.empty());
            from = *chunk + 1;
        }
        if (snapshot)
            snapshot->commit();
        if (done)
            break;
        if (options.between)
            options.between();
    }
    if (cards)
        *cards = count;
    return stale;
}

} // namespace QuickFind::Check
