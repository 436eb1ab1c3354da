#include "quickfind.h"

#include "builder.h"
#include "cardtext.h"
#include "check.h"
#include "finder.h"
#include "store.h"

#include "data/schema.h"
#include "data/sqlite.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// A change to a card only puts its ID in quickfind_dirty: such cards are read from zl and
// checked one by one at every find, until there are enough of them to rewrite their chunks.

namespace QuickFind {

namespace {

using namespace Store;
using Sqlite::Statement;

constexpr int kFormat = Schema::kQuickFindFormat;
// Cards checked one by one at every find before their chunks are rewritten.
constexpr qint64 kDirtyLimit = 512;
// Above this share of cards changed behind our back, building again is cheaper.
constexpr double kRebuildShare = 0.25;

const char* const kTables[] = {"quickfind_meta", "quickfind_chunk", "quickfind_block",
                               "quickfind_part", "quickfind_dirty", "quickfind_sum"};

// ---- Folding changed cards into their chunk ---------------------------------------------

/// A card whose new content the caller gives, because zl may not hold it yet.
struct Override {
    qint64 id = 0;
    const Card* card = nullptr; // null: deleted
};

/// Rewrites chunk `chunk` with its dirty cards as zl (or `override`) has them now.
void mergeChunk(sqlite3* db, qint64 chunk, const std::vector<qint64>& dirty,
                const std::optional<Override>& override) {
    std::vector<std::uint32_t> oldOffsets;
    const std::vector<std::uint32_t> oldSums = readSums(db, chunk);
    {
        Statement s(db, "SELECT \"ids\" FROM \"quickfind_chunk\" WHERE \"chunk\" = ?",
                    indexFailure("读取"));
        s.set(1, chunk);
        if (s.next())
            oldOffsets = decodeIds(s.blob(0));
    }
    // The chunk's dirty cards as they are now: those still there, and all of them.
    std::vector<std::uint32_t> present, changed, presentSums;
    std::vector<CardText> texts;
    {
        CardReader reader(db);
        for (const qint64 id : dirty) {
            if (chunkOf(id) != chunk)
                continue;
            changed.push_back(offsetOf(id));
            CardText t;
            bool there = false;
            std::uint32_t sum = 0;
            if (override && override->id == id) {
                there = override->card != nullptr;
                if (there) {
                    t.assign(*override->card);
                    sum = cardSum(*override->card);
                }
            } else {
                there = reader.read(id, t, &sum);
            }
            if (there) {
                present.push_back(offsetOf(id));
                presentSums.push_back(sum);
                texts.push_back(std::move(t));
            }
        }
    }
    // Old ranks to new ones (-1: gone or changed), and the ranks of the present changed cards.
    std::vector<std::uint32_t> newOffsets, newSums;
    std::vector<std::int64_t> remap(oldOffsets.size(), -1);
    std::vector<std::uint32_t> rankOfPresent;
    for (std::size_t i = 0, j = 0; i < oldOffsets.size() || j < present.size();) {
        if (j == present.size() || (i < oldOffsets.size() && oldOffsets[i] < present[j])) {
            if (!std::binary_search(changed.begin(), changed.end(), oldOffsets[i])) {
                remap[i] = std::int64_t(newOffsets.size());
                newOffsets.push_back(oldOffsets[i]);
                newSums.push_back(i < oldSums.size() ? oldSums[i] : 0);
            }
            ++i;
        } else {
            if (i < oldOffsets.size() && oldOffsets[i] == present[j])
                ++i;
            rankOfPresent.push_back(std::uint32_t(newOffsets.size()));
            newOffsets.push_back(present[j]);
            newSums.push_back(presentSums[j]);
            ++j;
        }
    }
    // Keys of the changed cards, sorted.
    std::vector<std::pair<std::string, std::uint32_t>> added;
    for (std::size_t c = 0; c < texts.size(); ++c) {
        std::vector<std::string> keys;
        texts[c].forEachKey([&](const char* p, std::size_t n) { keys.emplace_back(p, n); });
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        for (std::string& k : keys)
            added.emplace_back(std::move(k), rankOfPresent[c]);
    }
    std::sort(added.begin(), added.end());

    // The old keys in order, merged with the new ones, into fresh rows.
    ChunkEncoder encoder(blockTarget(db));
    if (!newOffsets.empty()) {
        encoder.begin(chunk, newOffsets);
        ChunkScan scan(db, chunk, std::uint32_t(oldOffsets.size())); // done before the delete
        std::string key;
        std::vector<std::uint32_t> ranks, kept;
        std::size_t a = 0;
        auto addNewUpTo = [&](const std::string* limit) {
            while (a < added.size() && (!limit || added[a].first < *limit)) {
                const std::string k = added[a].first;
                kept.clear();
                while (a < added.size() && added[a].first == k)
                    kept.push_back(added[a++].second);
                encoder.add(k, kept);
            }
        };
        while (!oldOffsets.empty() && scan.next(key, ranks)) {
            addNewUpTo(&key);
            kept.clear();
            for (const std::uint32_t r : ranks) {
                if (r < remap.size() && remap[r] >= 0)
                    kept.push_back(std::uint32_t(remap[r]));
            }
            while (a < added.size() && added[a].first == key)
                kept.push_back(added[a++].second);
            std::sort(kept.begin(), kept.end());
            if (!kept.empty())
                encoder.add(key, kept);
        }
        addNewUpTo(nullptr);
        encoder.finish();
    }
    removeChunk(db, chunk);
    RowWriter(db).write(encoder.rows());
    if (!newOffsets.empty())
        writeSums(db, chunk, newSums);
    Statement(db, "DELETE FROM \"quickfind_dirty\" WHERE \"ID\" >= ? AND \"ID\" < ?",
              indexFailure("写入"))
        .set(1, firstIdOf(chunk))
        .set(2, firstIdOf(chunk + 1))
        .run();
}

/// Folds the dirty cards into their chunks once there are too many of them.
void mergeIfNeeded(sqlite3* db, const std::optional<Override>& override) {
    const std::vector<qint64> dirty = dirtyIds(db);
    if (qint64(dirty.size()) < kDirtyLimit)
        return;
    std::vector<qint64> chunks;
    for (const qint64 id : dirty) {
        if (chunks.empty() || chunks.back() != chunkOf(id))
            chunks.push_back(chunkOf(id));
    }
    for (const qint64 c : chunks)
        mergeChunk(db, c, dirty, override);
}

void markDirty(sqlite3* db, qint64 id) {
    Statement(db, "INSERT OR IGNORE INTO \"quickfind_dirty\" (\"ID\") VALUES (?)",
              indexFailure("写入"))
        .set(1, id)
        .run();
}

// ---- Filing many cards at once ------------------------------------------------------------

/// Files the cards of zl into fresh rows of their chunks: every card, or those of `chunks`
/// (ascending), whose rows must be gone. `progress` is called every 1024 cards and at the
/// end with the cards done; false from it stops, leaving the rows half written.
bool fileCards(sqlite3* db, const std::optional<std::vector<qint64>>& chunks,
               const std::function<bool(qint64)>& progress, int workers = 0) {
    RowWriter writer(db);
    Build::Pipeline pipeline(
        blockTarget(db),
        [&writer](const Row* rows, std::size_t count) { writer.write(rows, count); }, workers);
    std::vector<std::uint32_t> offsets, sums;
    qint64 chunk = 0, done = 0;
    auto endChunk = [&] {
        pipeline.endChunk(chunk, offsets);
        writeSums(db, chunk, sums);
        offsets.clear();
        sums.clear();
    };
    auto file = [&](Statement& cards) {
        while (cards.next()) {
            const qint64 id = cards.int64(0);
            if (!offsets.empty() && chunkOf(id) != chunk)
                endChunk();
            chunk = chunkOf(id);
            const std::uint32_t rank = std::uint32_t(offsets.size());
            offsets.push_back(offsetOf(id));
            const std::array<std::string_view, kFieldCount> columns = rowColumns(cards, 1);
            sums.push_back(cardSum(columns));
            pipeline.addCard(columns, rank);
            ++done;
            if (done % 1024 == 0) {
                pipeline.writeRows(false);
                if (!progress(done))
                    return false;
            }
        }
        return true;
    };
    const std::string select = "SELECT \"ID\"" + cardColumns() + " FROM \"zl\"";
    if (!chunks) {
        Statement cards(db, (select + " ORDER BY \"ID\"").c_str(), indexFailure("建立"));
        if (!file(cards))
            return false;
    } else {
        Statement cards(db, (select + " WHERE \"ID\" >= ? AND \"ID\" < ? ORDER BY \"ID\"").c_str(),
                        indexFailure("写入"));
        for (const qint64 c : *chunks) {
            cards.set(1, firstIdOf(c)).set(2, firstIdOf(c + 1));
            if (!file(cards))
                return false;
            cards.rewind();
        }
    }
    if (!offsets.empty())
        endChunk();
    pipeline.writeRows(true);
    return progress(done);
}

// ---- Finding ----------------------------------------------------------------------------

QVector<qint64> scanAll(sqlite3* db, const std::vector<std::string>& words) {
    QVector<qint64> ids;
    Statement s(db, ("SELECT \"ID\"" + cardColumns() + " FROM \"zl\" ORDER BY \"ID\"").c_str(),
                indexFailure("读取"));
    CardText text;
    while (s.next()) {
        text.assign(rowColumns(s, 1));
        if (std::all_of(words.begin(), words.end(),
                        [&](const std::string& w) { return text.matches(w); }))
            ids.push_back(s.int64(0));
    }
    return ids;
}

// Per connection, SQLite's data version when the index was last known to be in line with
// zl: while no other connection has written since, the index's sure hits are trusted.
std::mutex g_trustMutex;
std::unordered_map<sqlite3*, qint64> g_trusted;

qint64 dataVersion(sqlite3* db) {
    Statement s(db, "PRAGMA data_version", indexFailure("读取"));
    return s.next() ? s.int64(0) : -1;
}

void trustNow(sqlite3* db) {
    const qint64 version = dataVersion(db);
    const std::lock_guard<std::mutex> lock(g_trustMutex);
    g_trusted[db] = version;
}

} // namespace

// The first find of a connection trusts what was checked when the file was opened.
bool writtenSinceCheck(sqlite3* db) {
    const qint64 version = dataVersion(db);
    const std::lock_guard<std::mutex> lock(g_trustMutex);
    const auto it = g_trusted.find(db);
    if (it == g_trusted.end()) {
        g_trusted.emplace(db, version);
        return false;
    }
    return it->second != version;
}

QStringList schemaStatements() {
    return Schema::quickFindStatements();
}

bool isBuilt(sqlite3* db) {
    Statement tables(
        db,
        "SELECT count(*) FROM \"sqlite_master\" WHERE \"type\" = 'table' AND \"name\" IN "
        "('quickfind_meta', 'quickfind_chunk', 'quickfind_block', 'quickfind_part', "
        "'quickfind_dirty', 'quickfind_sum')",
        indexFailure("读取"));
    if (!tables.next() || tables.int64(0) != 6)
        return false;
    Statement format(db, "SELECT \"value\" FROM \"quickfind_meta\" WHERE \"name\" = 'format'",
                     indexFailure("读取"));
    return format.next() && format.utf8(0) == std::to_string(kFormat);
}

bool build(sqlite3* db, const Progress& progress, int threads) {
    Sqlite::Savepoint save(db, indexFailure("建立"));
    for (const char* table : kTables)
        Sqlite::run(db, ("DROP TABLE IF EXISTS \"" + std::string(table) + "\"").c_str(),
                    indexFailure("建立"));
    for (const QString& sql : schemaStatements())
        Sqlite::run(db, sql.toUtf8().constData(), indexFailure("建立"));

    qint64 total = 0;
    {
        Statement count(db, "SELECT count(*) FROM \"zl\"", indexFailure("建立"));
        if (count.next())
            total = count.int64(0);
    }
    if (progress && !progress(0, total))
        return false;

    if (!fileCards(
            db, std::nullopt, [&](qint64 done) { return !progress || progress(done, total); },
            threads))
        return false;
    Statement(db, "INSERT INTO \"quickfind_meta\" (\"name\", \"value\") VALUES ('format', ?)",
              indexFailure("建立"))
        .setText(1, std::to_string(kFormat))
        .run();
    save.commit();
    trustNow(db);
    return true;
}

bool ensureReady(sqlite3* db, const Progress& progress) {
    if (!isBuilt(db))
        return build(db, progress);
    repair(db);
    return true;
}

bool isCurrent(sqlite3* db, const std::function<void()>& between) {
    Check::Options options;
    options.firstOnly = true;
    options.ownSnapshots = bool(between);
    options.between = between;
    return isBuilt(db) && Check::staleIds(db, options).empty();
}

bool repair(sqlite3* db, const Progress& progress) {
    if (!isBuilt(db))
        return build(db, progress);
    std::size_t cards = 0;
    const std::vector<qint64> stale = Check::staleIds(db, Check::Options{}, &cards);
    if (stale.empty()) {
        trustNow(db);
        return false;
    }
    if (double(stale.size()) > kRebuildShare * double(std::max<std::size_t>(cards, 1)))
        return build(db, progress);
    Sqlite::Savepoint save(db, indexFailure("修复"));
    for (const qint64 id : stale)
        markDirty(db, id);
    mergeIfNeeded(db, std::nullopt);
    save.commit();
    trustNow(db);
    return true;
}

void updateCard(sqlite3* db, qint64 id, const Card& card) {
    if (!isBuilt(db))
        return;
    Sqlite::Savepoint save(
        db, indexFailure("写入")); // all or nothing, whatever the caller does on failure
    markDirty(db, id);
    mergeIfNeeded(db, Override{id, &card});
    save.commit();
}

bool cardsAdded(sqlite3* db, const QVector<qint64>& ids, const std::function<bool()>& progress) {
    if (ids.isEmpty() || !isBuilt(db))
        return true;
    Sqlite::Savepoint save(db, indexFailure("写入"));
    if (ids.size() < kDirtyLimit) {
        Statement mark(db, "INSERT OR IGNORE INTO \"quickfind_dirty\" (\"ID\") VALUES (?)",
                       indexFailure("写入"));
        for (const qint64 id : ids) {
            mark.set(1, id).run();
        }
        mergeIfNeeded(db, std::nullopt);
        save.commit();
        return true;
    }
    // Many cards: merging them a few hundred at a time would rewrite their chunks again and
    // again; those chunks are filed afresh from zl instead, as a build does.
    std::vector<qint64> chunks;
    for (const qint64 id : ids)
        chunks.push_back(chunkOf(id));
    std::sort(chunks.begin(), chunks.end());
    chunks.erase(std::unique(chunks.begin(), chunks.end()), chunks.end());
    Statement forget(db, "DELETE FROM \"quickfind_dirty\" WHERE \"ID\" >= ? AND \"ID\" < ?",
                     indexFailure("写入"));
    for (const qint64 c : chunks) {
        removeChunk(db, c);
        forget.set(1, firstIdOf(c)).set(2, firstIdOf(c + 1)).run();
    }
    if (!fileCards(db, chunks, [&](qint64) { return !progress || progress(); }))
        return false;
    save.commit();
    return true;
}

void removeCard(sqlite3* db, qint64 id) {
    if (!isBuilt(db))
        return;
    Sqlite::Savepoint save(db, indexFailure("写入"));
    markDirty(db, id);
    mergeIfNeeded(db, Override{id, nullptr});
    save.commit();
}

QVector<qint64> nameMatchesFirst(sqlite3* db, const QString& text, const QVector<qint64>& ids) {
    if (ids.size() > kRankedAtMost || ids.size() < 2)
        return ids;
    const std::vector<std::string> words = wordsOf(text);
    Statement name(db, "SELECT \"姓名\" FROM \"zl\" WHERE \"ID\" = ?", indexFailure("读取"));
    QVector<qint64> first, rest;
    std::array<std::string_view, kFieldCount> columns{};
    CardText card;
    for (const qint64 id : ids) {
        name.set(1, id);
        bool named = false;
        if (name.next()) {
            columns[std::size_t(Field::Name)] = name.utf8(0);
            card.assign(columns);
            named = std::any_of(words.begin(), words.end(),
                                [&card](const std::string& w) { return card.matches(w); });
        }
        name.rewind();
        (named ? first : rest).push_back(id);
    }
    return first + rest;
}

QVector<qint64> scan(sqlite3* db, const QString& text) {
    return scanAll(db, wordsOf(text));
}

QVector<qint64> find(sqlite3* db, const QString& text) {
    QVector<qint64> result;
    Finder finder(db, text, isBuilt(db) && writtenSinceCheck(db));
    while (finder.next(result, std::numeric_limits<int>::max() / 2)) {
    }
    return result;
}

} // namespace QuickFind
