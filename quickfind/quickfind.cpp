#include "quickfind.h"

#include "cardtext.h"
#include "data/dberror.h"
#include "data/fieldmap.h"
#include "postings.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The index: cards are taken in chunks of 65536 IDs. For each chunk, quickfind_chunk holds
// its card IDs, and quickfind_block the keys of its cards (pieces of text, phone digits,
// starts of spellings) in key order, prefix-compressed, each with the positions of the cards
// having it, packed. Keys with many cards keep them in quickfind_part instead, cut so that no
// row needs overflow pages. A change to a card only puts its ID in quickfind_dirty: such
// cards are read from zl and checked one by one, until enough of them make it worth folding
// them into their chunk again.

namespace QuickFind {

namespace {

constexpr int kFormat = 1;
constexpr int kChunkBits = 16;
constexpr std::uint32_t kChunkIds = 1u << kChunkBits;
// Cards checked one by one at every find before their chunks are rewritten.
constexpr qint64 kDirtyLimit = 512;
// Above this share of cards changed behind our back, building again is cheaper.
constexpr double kRebuildShare = 0.25;

const char* const kTables[] = {"quickfind_meta", "quickfind_chunk", "quickfind_block",
                               "quickfind_part", "quickfind_dirty"};

[[noreturn]] void fail(sqlite3* db, const QString& what) {
    throw EDatabaseError(
        QStringLiteral("快速查找的索引%1失败：%2。请关闭其他正在使用该文件的程序后再试；"
                       "如仍失败，请从备份恢复。")
            .arg(what, QString::fromUtf8(sqlite3_errmsg(db))));
}

[[noreturn]] void corrupt() {
    throw EDatabaseError(QStringLiteral("快速查找的索引已损坏。请重新打开程序，索引将重新建立。"));
}

/// One prepared statement, finalized when it goes out of scope.
class Stmt {
public:
    Stmt(sqlite3* db, const char* sql, const QString& what)
        : m_db(db)
        , m_what(what) {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            fail(db, what);
    }
    ~Stmt() { sqlite3_finalize(m_stmt); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    Stmt& bind(int i, qint64 v) {
        check(sqlite3_bind_int64(m_stmt, i, v));
        return *this;
    }
    Stmt& bind(int i, std::string_view blob) {
        check(sqlite3_bind_blob64(m_stmt, i, blob.data(), sqlite3_uint64(blob.size()),
                                  SQLITE_TRANSIENT));
        return *this;
    }
    Stmt& bindText(int i, const char* text) {
        check(sqlite3_bind_text(m_stmt, i, text, -1, SQLITE_TRANSIENT));
        return *this;
    }
    /// True while there is a row.
    bool step() {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            fail(m_db, m_what);
        return false;
    }
    void run() {
        step();
        reset();
    }
    void reset() {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    qint64 int64(int c) const { return sqlite3_column_int64(m_stmt, c); }
    std::string_view blob(int c) const {
        const void* p = sqlite3_column_blob(m_stmt, c);
        return p ? std::string_view(static_cast<const char*>(p),
                                    std::size_t(sqlite3_column_bytes(m_stmt, c)))
                 : std::string_view();
    }
    std::string_view text(int c) const {
        const unsigned char* p = sqlite3_column_text(m_stmt, c);
        return p ? std::string_view(reinterpret_cast<const char*>(p),
                                    std::size_t(sqlite3_column_bytes(m_stmt, c)))
                 : std::string_view();
    }

private:
    void check(int rc) {
        if (rc != SQLITE_OK)
            fail(m_db, m_what);
    }
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
    QString m_what;
};

void exec(sqlite3* db, const char* sql, const QString& what) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(db, what);
}

/// A savepoint released on commit() and rolled back otherwise.
class Savepoint {
public:
    Savepoint(sqlite3* db, const QString& what)
        : m_db(db) {
        exec(db, "SAVEPOINT quickfind", what);
    }
    ~Savepoint() {
        if (!m_done) {
            sqlite3_exec(m_db, "ROLLBACK TO quickfind", nullptr, nullptr, nullptr);
            sqlite3_exec(m_db, "RELEASE quickfind", nullptr, nullptr, nullptr);
        }
    }
    void commit(const QString& what) {
        exec(m_db, "RELEASE quickfind", what);
        m_done = true;
    }

private:
    sqlite3* m_db;
    bool m_done = false;
};

QString what(const char* verb) {
    return QString::fromUtf8(verb);
}

/// "select" of the 24 written columns, ID first.
std::string cardColumns() {
    std::string sql;
    for (const FieldMapEntry& e : kFieldMap) {
        sql += ", \"";
        sql += e.column;
        sql += '"';
    }
    return sql;
}

std::array<std::string_view, 24> rowColumns(const Stmt& s, int first) {
    std::array<std::string_view, 24> columns;
    for (int i = 0; i < 24; ++i)
        columns[std::size_t(i)] = s.text(first + i);
    return columns;
}

qint64 chunkOf(qint64 id) {
    return id >> kChunkBits; // arithmetic: negative IDs get chunks of their own
}

std::uint32_t offsetOf(qint64 id) {
    return std::uint32_t(id & (kChunkIds - 1));
}

// Largest row that still fits a table page without overflow pages, less room for the keys.
int blockTarget(sqlite3* db) {
    Stmt s(db, "PRAGMA page_size", what("读取"));
    const int page = s.step() ? int(s.int64(0)) : 4096;
    const int maxLocal = (page - 12) * 64 / 255 - 23;
    return std::clamp(maxLocal - 80, 100, 4000);
}

// ---- Writing a chunk ---------------------------------------------------------------------

/// Writes one chunk's keys, given in key order, as blocks and parts.
class ChunkWriter {
public:
    explicit ChunkWriter(sqlite3* db)
        : m_target(blockTarget(db))
        , m_block(db,
                  "INSERT INTO \"quickfind_block\" (\"chunk\", \"first\", \"data\") "
                  "VALUES (?, ?, ?)",
                  what("写入"))
        , m_part(db,
                 "INSERT INTO \"quickfind_part\" (\"chunk\", \"key\", \"part\", \"data\") "
                 "VALUES (?, ?, ?, ?)",
                 what("写入"))
        , m_chunkRow(
              db, "INSERT OR REPLACE INTO \"quickfind_chunk\" (\"chunk\", \"ids\") VALUES (?, ?)",
              what("写入")) {}

    void begin(qint64 chunk, const std::vector<std::uint32_t>& offsets) {
        m_chunk = chunk;
        m_universe = std::uint32_t(offsets.size());
        m_data.clear();
        m_first.clear();
        m_previous.clear();
        std::string ids;
        Postings::encode(offsets.data(), offsets.size(), kChunkIds, ids);
        m_chunkRow.bind(1, chunk).bind(2, ids).run();
    }

    void add(std::string_view key, const std::vector<std::uint32_t>& ranks) {
        m_posting.clear();
        Postings::encode(ranks.data(), ranks.size(), m_universe, m_posting);
        const bool big = int(m_posting.size()) > m_target / 2;
        if (big)
            writeParts(key, ranks);
        std::size_t shared = 0;
        while (shared < key.size() && shared < m_previous.size() &&
               key[shared] == m_previous[shared])
            ++shared;
        m_entry.clear();
        Postings::putVarint(m_entry, shared);
        Postings::putVarint(m_entry, key.size() - shared);
        m_entry.append(key.data() + shared, key.size() - shared);
        Postings::putVarint(m_entry, big ? 0 : m_posting.size());
        if (!big)
            m_entry += m_posting;
        if (!m_data.empty() && int(m_data.size() + m_entry.size()) > m_target) {
            flush();
            // A block starts with its key in full.
            m_entry.clear();
            Postings::putVarint(m_entry, 0);
            Postings::putVarint(m_entry, key.size());
            m_entry.append(key.data(), key.size());
            Postings::putVarint(m_entry, big ? 0 : m_posting.size());
            if (!big)
                m_entry += m_posting;
        }
        if (m_data.empty())
            m_first.assign(key.data(), key.size());
        m_data += m_entry;
        m_previous.assign(key.data(), key.size());
    }

    void finish() { flush(); }

private:
    void flush() {
        if (m_data.empty())
            return;
        m_block.bind(1, m_chunk).bind(2, m_first).bind(3, m_data).run();
        m_data.clear();
    }

    // Cut into ranges of positions each small enough for a row of its own.
    void writeParts(std::string_view key, const std::vector<std::uint32_t>& ranks) {
        std::size_t parts = m_posting.size() / std::size_t(m_target) + 1;
        std::vector<std::string> pieces;
        std::vector<std::uint32_t> slice;
        for (;;) {
            pieces.clear();
            bool fits = true;
            std::size_t at = 0;
            for (std::size_t p = 0; p < parts && fits; ++p) {
                const std::uint32_t lo = std::uint32_t(std::uint64_t(m_universe) * p / parts);
                const std::uint32_t hi = std::uint32_t(std::uint64_t(m_universe) * (p + 1) / parts);
                slice.clear();
                while (at < ranks.size() && ranks[at] < hi)
                    slice.push_back(ranks[at++] - lo);
                if (slice.empty())
                    continue;
                std::string piece;
                Postings::putVarint(piece, lo);
                Postings::putVarint(piece, hi - lo);
                Postings::encode(slice.data(), slice.size(), hi - lo, piece);
                fits = int(piece.size()) <= m_target;
                pieces.push_back(std::move(piece));
            }
            if (fits)
                break;
            parts *= 2;
        }
        for (std::size_t p = 0; p < pieces.size(); ++p)
            m_part.bind(1, m_chunk).bind(2, key).bind(3, qint64(p)).bind(4, pieces[p]).run();
    }

    int m_target;
    Stmt m_block, m_part, m_chunkRow;
    qint64 m_chunk = 0;
    std::uint32_t m_universe = 0;
    std::string m_data, m_first, m_previous, m_posting, m_entry;
};

// ---- Collecting the keys of many cards --------------------------------------------------

/// Key → positions of the cards having it, for one chunk being built. The cards' keys go in
/// a card at a time; the table lookups of one card are prefetched together, which is most of
/// the time a build takes.
class Collector {
public:
    Collector() {
        m_table.assign(std::size_t(1) << 16, Slot{0, 0});
        m_seen.assign(kSeenSize, Seen{0, 0, 0});
    }

    /// Notes a key of the current card; repeats are dropped.
    void key(const char* p, std::size_t n) {
        const std::uint64_t h = hash(p, n);
        // Repeats within the card, against a small table that stays in cache.
        if (m_pending.size() * 2 >= m_seen.size())
            growSeen();
        const std::size_t mask = m_seen.size() - 1;
        for (std::size_t i = std::size_t(h) & mask;; i = (i + 1) & mask) {
            Seen& s = m_seen[i];
            if (s.generation != m_generation) {
                s = Seen{h, std::uint32_t(m_pending.size()), m_generation};
                break;
            }
            const Pending& k = m_pending[s.index];
            if (s.hash == h && k.length == n && std::memcmp(bytesOf(k), p, n) == 0)
                return;
        }
        // Copied: the caller may reuse its buffer for the next key.
        m_pending.push_back(Pending{h, std::uint32_t(m_bytes.size()), std::uint32_t(n)});
        m_bytes.append(p, n);
    }

    /// Files the current card's keys under position `rank`.
    void endCard(std::uint32_t rank) {
        const std::size_t mask = m_table.size() - 1;
        for (const Pending& k : m_pending)
            __builtin_prefetch(&m_table[std::size_t(k.hash) & mask]);
        m_found.resize(m_pending.size());
        for (std::size_t i = 0; i < m_pending.size(); ++i) {
            m_found[i] = find(m_pending[i]);
            if (m_found[i] != kNone)
                __builtin_prefetch(&m_entries[m_found[i]]);
        }
        for (std::size_t i = 0; i < m_pending.size(); ++i) {
            const Pending& k = m_pending[i];
            std::uint32_t e = m_found[i];
            if (e == kNone)
                e = insert(k);
            Entry& entry = m_entries[e];
            if (entry.count == 0)
                Postings::putVarint(entry.gaps, rank);
            else
                Postings::putVarint(entry.gaps, rank - entry.last);
            entry.last = rank;
            ++entry.count;
        }
        m_pending.clear();
        m_bytes.clear();
        ++m_generation;
        if (m_generation == 0) { // wrapped: no stale mark may look current
            std::fill(m_seen.begin(), m_seen.end(), Seen{0, 0, 0});
            m_generation = 1;
        }
        if (m_entries.size() * 2 > m_table.size())
            grow();
    }

    /// Hands every key with its positions to `writer`, in key order; then empties.
    void writeTo(ChunkWriter& writer) {
        std::vector<std::uint32_t> order(m_entries.size());
        for (std::uint32_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [this](std::uint32_t a, std::uint32_t b) {
            return keyOf(m_entries[a]) < keyOf(m_entries[b]);
        });
        std::vector<std::uint32_t> ranks;
        for (const std::uint32_t i : order) {
            const Entry& e = m_entries[i];
            ranks.clear();
            const auto* p = reinterpret_cast<const unsigned char*>(e.gaps.data());
            const auto* end = p + e.gaps.size();
            std::uint64_t v = 0, at = 0;
            bool first = true;
            while (p < end && Postings::getVarint(p, end, v)) {
                at = first ? v : at + v;
                first = false;
                ranks.push_back(std::uint32_t(at));
            }
            writer.add(keyOf(e), ranks);
        }
        m_entries.clear();
        m_entries.shrink_to_fit();
        m_longKeys.clear();
        m_hashes.clear();
        m_hashes.shrink_to_fit();
        m_table.assign(std::size_t(1) << 16, Slot{0, 0});
    }

private:
    static constexpr std::size_t kInlineKey = 23;
    static constexpr std::size_t kSeenSize = 1024;
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    struct Pending {
        std::uint64_t hash;
        std::uint32_t at; // in m_bytes
        std::uint32_t length;
    };
    const char* bytesOf(const Pending& k) const { return m_bytes.data() + k.at; }
    // One cache line: the key inline (longer ones in m_longKeys), and the gaps (inline too
    // while they are few).
    struct Entry {
        std::uint32_t last = 0;
        std::uint32_t count = 0;
        std::string gaps; // varint gaps between positions
        std::uint8_t length = 0;
        char key[kInlineKey] = {};
    };
    struct Seen {
        std::uint64_t hash;
        std::uint32_t index;      // into m_pending
        std::uint32_t generation; // the card it belongs to
    };
    struct Slot {
        std::uint32_t check; // high half of the hash
        std::uint32_t entry; // index + 1, 0 for free
    };

    std::string_view keyOf(const Entry& e) const {
        if (e.length <= kInlineKey)
            return std::string_view(e.key, e.length);
        std::uint32_t at = 0;
        std::memcpy(&at, e.key, sizeof at);
        return std::string_view(m_longKeys.data() + at, e.length);
    }

    void growSeen() {
        std::vector<Seen> seen(m_seen.size() * 2, Seen{0, 0, 0});
        const std::size_t mask = seen.size() - 1;
        for (std::uint32_t j = 0; j < m_pending.size(); ++j) {
            std::size_t i = std::size_t(m_pending[j].hash) & mask;
            while (seen[i].generation == m_generation)
                i = (i + 1) & mask;
            seen[i] = Seen{m_pending[j].hash, j, m_generation};
        }
        m_seen.swap(seen);
    }

    std::uint32_t find(const Pending& k) const {
        const std::size_t mask = m_table.size() - 1;
        const std::uint32_t check = std::uint32_t(k.hash >> 32);
        for (std::size_t i = std::size_t(k.hash) & mask;; i = (i + 1) & mask) {
            const Slot s = m_table[i];
            if (s.entry == 0)
                return kNone;
            if (s.check == check) {
                const Entry& e = m_entries[s.entry - 1];
                if (keyOf(e) == std::string_view(bytesOf(k), k.length))
                    return s.entry - 1;
            }
        }
    }

    std::uint32_t insert(const Pending& k) {
        const std::size_t mask = m_table.size() - 1;
        std::size_t i = std::size_t(k.hash) & mask;
        while (m_table[i].entry != 0)
            i = (i + 1) & mask;
        Entry e;
        e.length = std::uint8_t(std::min<std::uint32_t>(k.length, 255));
        if (k.length <= kInlineKey) {
            std::memcpy(e.key, bytesOf(k), k.length);
        } else {
            const std::uint32_t at = std::uint32_t(m_longKeys.size());
            m_longKeys.append(bytesOf(k), e.length);
            std::memcpy(e.key, &at, sizeof at);
        }
        m_entries.push_back(std::move(e));
        m_hashes.push_back(k.hash);
        m_table[i] = Slot{std::uint32_t(k.hash >> 32), std::uint32_t(m_entries.size())};
        return std::uint32_t(m_entries.size() - 1);
    }

    static std::uint64_t hash(const char* p, std::size_t n) {
        std::uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
        while (n >= 8) {
            std::uint64_t w;
            std::memcpy(&w, p, 8);
            h = (h ^ w) * 0xBF58476D1CE4E5B9ull;
            h ^= h >> 31;
            p += 8;
            n -= 8;
        }
        std::uint64_t w = 0;
        std::memcpy(&w, p, n);
        h = (h ^ w) * 0x94D049BB133111EBull;
        return (h ^ (h >> 29)) | 1; // never 0: 0 marks a free place
    }

    void grow() {
        std::vector<Slot> table(m_table.size() * 2, Slot{0, 0});
        const std::size_t mask = table.size() - 1;
        for (std::uint32_t i = 0; i < m_entries.size(); ++i) {
            std::size_t at = std::size_t(m_hashes[i]) & mask;
            while (table[at].entry != 0)
                at = (at + 1) & mask;
            table[at] = Slot{std::uint32_t(m_hashes[i] >> 32), i + 1};
        }
        m_table.swap(table);
    }

    std::vector<Slot> m_table;
    std::vector<Entry> m_entries;
    std::string m_longKeys;
    std::vector<std::uint64_t> m_hashes;
    std::vector<Seen> m_seen;
    std::uint32_t m_generation = 1;
    std::vector<Pending> m_pending;
    std::string m_bytes; // the current card's keys
    std::vector<std::uint32_t> m_found;
};

// ---- Reading ----------------------------------------------------------------------------

/// One chunk's card IDs, as offsets from the chunk's first ID.
std::vector<std::uint32_t> decodeIds(std::string_view blob) {
    std::vector<std::uint32_t> offsets;
    if (!Postings::decode(reinterpret_cast<const unsigned char*>(blob.data()), blob.size(),
                          kChunkIds, offsets))
        corrupt();
    return offsets;
}

/// Looks keys up in the blocks and parts.
class Reader {
public:
    explicit Reader(sqlite3* db)
        : m_block(db,
                  "SELECT \"data\" FROM \"quickfind_block\" WHERE \"chunk\" = ? AND \"first\" <= ? "
                  "ORDER BY \"first\" DESC LIMIT 1",
                  what("读取"))
        , m_parts(db,
                  "SELECT \"data\" FROM \"quickfind_part\" WHERE \"chunk\" = ? AND \"key\" = ? "
                  "ORDER BY \"part\"",
                  what("读取")) {}

    /// Sets the bits of the cards of chunk `chunk` (of `universe` cards) that have `key`.
    void lookup(qint64 chunk, std::uint32_t universe, std::string_view key, std::uint64_t* bits) {
        m_block.bind(1, chunk).bind(2, key);
        if (m_block.step()) {
            const std::string_view data = m_block.blob(0);
            const auto* p = reinterpret_cast<const unsigned char*>(data.data());
            const auto* end = p + data.size();
            std::string current;
            while (p < end) {
                std::uint64_t shared = 0, suffix = 0, size = 0;
                if (!Postings::getVarint(p, end, shared) || !Postings::getVarint(p, end, suffix) ||
                    shared > current.size() || suffix > std::uint64_t(end - p))
                    corrupt();
                current.resize(shared);
                current.append(reinterpret_cast<const char*>(p), suffix);
                p += suffix;
                if (!Postings::getVarint(p, end, size) || size > std::uint64_t(end - p))
                    corrupt();
                const int order = std::string_view(current).compare(key);
                if (order > 0)
                    break;
                if (order == 0) {
                    if (size == 0) {
                        m_block.reset();
                        readParts(chunk, universe, key, bits);
                        return;
                    }
                    if (!Postings::decodeBits(p, size, universe, 0, bits))
                        corrupt();
                    break;
                }
                p += size;
            }
        }
        m_block.reset();
    }

private:
    void readParts(qint64 chunk, std::uint32_t universe, std::string_view key,
                   std::uint64_t* bits) {
        m_parts.bind(1, chunk).bind(2, key);
        while (m_parts.step()) {
            const std::string_view data = m_parts.blob(0);
            const auto* p = reinterpret_cast<const unsigned char*>(data.data());
            const auto* end = p + data.size();
            std::uint64_t lo = 0, span = 0;
            if (!Postings::getVarint(p, end, lo) || !Postings::getVarint(p, end, span) ||
                lo + span > universe ||
                !Postings::decodeBits(p, std::size_t(end - p), std::uint32_t(span),
                                      std::uint32_t(lo), bits))
                corrupt();
        }
        m_parts.reset();
    }

    Stmt m_block, m_parts;
};

/// Every key of one chunk in key order, with the positions of its cards.
class ChunkScan {
public:
    ChunkScan(sqlite3* db, qint64 chunk, std::uint32_t universe)
        : m_blocks(
              db, "SELECT \"data\" FROM \"quickfind_block\" WHERE \"chunk\" = ? ORDER BY \"first\"",
              what("读取"))
        , m_parts(db,
                  "SELECT \"key\", \"data\" FROM \"quickfind_part\" WHERE \"chunk\" = ? "
                  "ORDER BY \"key\", \"part\"",
                  what("读取"))
        , m_universe(universe) {
        m_blocks.bind(1, chunk);
        m_parts.bind(1, chunk);
        m_partsLeft = m_parts.step();
    }

    /// The next key and its positions; false at the end.
    bool next(std::string& key, std::vector<std::uint32_t>& ranks) {
        ranks.clear();
        while (m_p == m_end) {
            if (!m_blocks.step())
                return false;
            m_data.assign(m_blocks.blob(0));
            m_p = reinterpret_cast<const unsigned char*>(m_data.data());
            m_end = m_p + m_data.size();
        }
        std::uint64_t shared = 0, suffix = 0, size = 0;
        if (!Postings::getVarint(m_p, m_end, shared) || !Postings::getVarint(m_p, m_end, suffix) ||
            shared > m_key.size() || suffix > std::uint64_t(m_end - m_p))
            corrupt();
        m_key.resize(shared);
        m_key.append(reinterpret_cast<const char*>(m_p), suffix);
        m_p += suffix;
        if (!Postings::getVarint(m_p, m_end, size) || size > std::uint64_t(m_end - m_p))
            corrupt();
        key = m_key;
        if (size > 0) {
            if (!Postings::decode(m_p, size, m_universe, ranks))
                corrupt();
            m_p += size;
            return true;
        }
        // Parts come in the same key order as the blocks.
        while (m_partsLeft && m_parts.blob(0) < std::string_view(m_key))
            m_partsLeft = m_parts.step();
        while (m_partsLeft && m_parts.blob(0) == std::string_view(m_key)) {
            const std::string_view data = m_parts.blob(1);
            const auto* p = reinterpret_cast<const unsigned char*>(data.data());
            const auto* end = p + data.size();
            std::uint64_t lo = 0, span = 0;
            const std::size_t before = ranks.size();
            if (!Postings::getVarint(p, end, lo) || !Postings::getVarint(p, end, span) ||
                lo + span > m_universe ||
                !Postings::decode(p, std::size_t(end - p), std::uint32_t(span), ranks))
                corrupt();
            for (std::size_t i = before; i < ranks.size(); ++i)
                ranks[i] += std::uint32_t(lo);
            m_partsLeft = m_parts.step();
        }
        return true;
    }

private:
    Stmt m_blocks, m_parts;
    std::uint32_t m_universe;
    bool m_partsLeft = false;
    std::string m_data, m_key;
    const unsigned char* m_p = nullptr;
    const unsigned char* m_end = nullptr;
};

std::vector<qint64> dirtyIds(sqlite3* db) {
    std::vector<qint64> ids;
    Stmt s(db, "SELECT \"ID\" FROM \"quickfind_dirty\" ORDER BY \"ID\"", what("读取"));
    while (s.step())
        ids.push_back(s.int64(0));
    return ids;
}

/// Reads single cards from zl.
class CardReader {
public:
    explicit CardReader(sqlite3* db)
        : m_stmt(db, ("SELECT \"ID\"" + cardColumns() + " FROM \"zl\" WHERE \"ID\" = ?").c_str(),
                 what("读取")) {}
    /// Fills `text` with card `id`; false when there is no such card.
    bool read(qint64 id, CardText& text) {
        m_stmt.bind(1, id);
        const bool found = m_stmt.step();
        if (found)
            text.assign(rowColumns(m_stmt, 1));
        m_stmt.reset();
        return found;
    }

private:
    Stmt m_stmt;
};

// ---- Folding changed cards into their chunk ---------------------------------------------

struct Override {
    qint64 id = 0;
    const Card* card = nullptr; // null: deleted
};

/// Rewrites chunk `chunk` with its dirty cards as zl (or `override`) has them now.
void mergeChunk(sqlite3* db, qint64 chunk, const std::vector<qint64>& dirty,
                const std::optional<Override>& override) {
    std::vector<std::uint32_t> oldOffsets;
    {
        Stmt s(db, "SELECT \"ids\" FROM \"quickfind_chunk\" WHERE \"chunk\" = ?", what("读取"));
        s.bind(1, chunk);
        if (s.step())
            oldOffsets = decodeIds(s.blob(0));
    }
    // The chunk's dirty cards as they are now.
    std::vector<std::uint32_t> changed; // offsets
    std::vector<CardText> texts;
    {
        CardReader reader(db);
        for (const qint64 id : dirty) {
            if (chunkOf(id) != chunk)
                continue;
            changed.push_back(offsetOf(id));
            CardText t;
            bool present = false;
            if (override && override->id == id) {
                present = override->card != nullptr;
                if (present)
                    t.assign(*override->card);
            } else {
                present = reader.read(id, t);
            }
            if (present)
                texts.push_back(std::move(t));
            else
                changed.back() |= 0x80000000u; // gone
        }
    }
    std::vector<std::uint32_t> newOffsets;
    std::vector<std::int64_t> remap(oldOffsets.size(), -1);
    std::vector<std::uint32_t> newOfChanged; // rank of each present changed card
    {
        std::size_t i = 0, j = 0;
        std::vector<std::uint32_t> present, all;
        for (const std::uint32_t c : changed) {
            all.push_back(c & 0x7FFFFFFFu);
            if (!(c & 0x80000000u))
                present.push_back(c);
        }
        auto isChanged = [&](std::uint32_t off) {
            return std::binary_search(all.begin(), all.end(), off);
        };
        // `present` follows `dirty`, which is ascending.
        while (i < oldOffsets.size() || j < present.size()) {
            if (j == present.size() || (i < oldOffsets.size() && oldOffsets[i] < present[j])) {
                if (!isChanged(oldOffsets[i])) {
                    remap[i] = std::int64_t(newOffsets.size());
                    newOffsets.push_back(oldOffsets[i]);
                }
                ++i;
            } else {
                if (i < oldOffsets.size() && oldOffsets[i] == present[j])
                    ++i;
                newOfChanged.push_back(std::uint32_t(newOffsets.size()));
                newOffsets.push_back(present[j]);
                ++j;
            }
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
            added.emplace_back(std::move(k), newOfChanged[c]);
    }
    std::sort(added.begin(), added.end());

    // Old keys in order, merged with the new ones, into fresh rows.
    std::vector<std::pair<std::string, std::vector<std::uint32_t>>> old;
    {
        ChunkScan scan(db, chunk, std::uint32_t(oldOffsets.size()));
        std::string key;
        std::vector<std::uint32_t> ranks;
        while (scan.next(key, ranks)) {
            std::vector<std::uint32_t> kept;
            for (const std::uint32_t r : ranks) {
                if (r < remap.size() && remap[r] >= 0)
                    kept.push_back(std::uint32_t(remap[r]));
            }
            old.emplace_back(key, std::move(kept));
        }
    }
    for (const char* sql : {"DELETE FROM \"quickfind_block\" WHERE \"chunk\" = ?",
                            "DELETE FROM \"quickfind_part\" WHERE \"chunk\" = ?",
                            "DELETE FROM \"quickfind_chunk\" WHERE \"chunk\" = ?"})
        Stmt(db, sql, what("写入")).bind(1, chunk).run();
    if (!newOffsets.empty()) {
        ChunkWriter writer(db);
        writer.begin(chunk, newOffsets);
        std::size_t a = 0;
        std::vector<std::uint32_t> ranks;
        auto addNew = [&](const std::string& key, std::vector<std::uint32_t>& into) {
            while (a < added.size() && added[a].first == key)
                into.push_back(added[a++].second);
        };
        for (auto& [key, kept] : old) {
            while (a < added.size() && added[a].first < key) {
                const std::string k = added[a].first;
                ranks.clear();
                addNew(k, ranks);
                std::sort(ranks.begin(), ranks.end());
                writer.add(k, ranks);
            }
            addNew(key, kept);
            std::sort(kept.begin(), kept.end());
            if (!kept.empty())
                writer.add(key, kept);
        }
        while (a < added.size()) {
            const std::string k = added[a].first;
            ranks.clear();
            addNew(k, ranks);
            std::sort(ranks.begin(), ranks.end());
            writer.add(k, ranks);
        }
        writer.finish();
    }
    Stmt(db, "DELETE FROM \"quickfind_dirty\" WHERE \"ID\" >= ? AND \"ID\" < ?", what("写入"))
        .bind(1, chunk << kChunkBits)
        .bind(2, (chunk + 1) << kChunkBits)
        .run();
}

/// Folds all dirty cards into their chunks once there are too many of them.
void mergeIfNeeded(sqlite3* db, const std::optional<Override>& override, bool always = false) {
    const std::vector<qint64> dirty = dirtyIds(db);
    if (dirty.empty() || (!always && qint64(dirty.size()) < kDirtyLimit))
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
    Stmt(db, "INSERT OR IGNORE INTO \"quickfind_dirty\" (\"ID\") VALUES (?)", what("写入"))
        .bind(1, id)
        .run();
}

// ---- Finding ----------------------------------------------------------------------------

using Bits = std::vector<std::uint64_t>;

QVector<qint64> scanAll(sqlite3* db, const std::vector<std::string>& words) {
    QVector<qint64> ids;
    Stmt s(db, ("SELECT \"ID\"" + cardColumns() + " FROM \"zl\" ORDER BY \"ID\"").c_str(),
           what("读取"));
    CardText text;
    while (s.step()) {
        text.assign(rowColumns(s, 1));
        if (std::all_of(words.begin(), words.end(),
                        [&](const std::string& w) { return text.matches(w); }))
            ids.push_back(s.int64(0));
    }
    return ids;
}

} // namespace

QStringList schemaStatements() {
    return {
        QStringLiteral("CREATE TABLE \"quickfind_meta\" (\"name\" TEXT PRIMARY KEY NOT NULL, "
                       "\"value\" TEXT NOT NULL)"),
        QStringLiteral("CREATE TABLE \"quickfind_chunk\" (\"chunk\" INTEGER PRIMARY KEY, "
                       "\"ids\" BLOB NOT NULL)"),
        QStringLiteral("CREATE TABLE \"quickfind_block\" (\"chunk\" INTEGER NOT NULL, "
                       "\"first\" BLOB NOT NULL, \"data\" BLOB NOT NULL, "
                       "PRIMARY KEY (\"chunk\", \"first\")) WITHOUT ROWID"),
        QStringLiteral("CREATE TABLE \"quickfind_part\" (\"chunk\" INTEGER NOT NULL, "
                       "\"key\" BLOB NOT NULL, \"part\" INTEGER NOT NULL, \"data\" BLOB NOT NULL, "
                       "PRIMARY KEY (\"chunk\", \"key\", \"part\")) WITHOUT ROWID"),
        QStringLiteral("CREATE TABLE \"quickfind_dirty\" (\"ID\" INTEGER PRIMARY KEY)"),
    };
}

bool isBuilt(sqlite3* db) {
    Stmt tables(db,
                "SELECT count(*) FROM \"sqlite_master\" WHERE \"type\" = 'table' AND \"name\" IN "
                "('quickfind_meta', 'quickfind_chunk', 'quickfind_block', 'quickfind_part', "
                "'quickfind_dirty')",
                what("读取"));
    if (!tables.step() || tables.int64(0) != 5)
        return false;
    Stmt format(db, "SELECT \"value\" FROM \"quickfind_meta\" WHERE \"name\" = 'format'",
                what("读取"));
    return format.step() && format.text(0) == std::to_string(kFormat);
}

bool build(sqlite3* db, const Progress& progress) {
    Savepoint save(db, what("建立"));
    for (const char* table : kTables)
        exec(db, ("DROP TABLE IF EXISTS \"" + std::string(table) + "\"").c_str(), what("建立"));
    for (const QString& sql : schemaStatements())
        exec(db, sql.toUtf8().constData(), what("建立"));

    qint64 total = 0;
    {
        Stmt count(db, "SELECT count(*) FROM \"zl\"", what("建立"));
        if (count.step())
            total = count.int64(0);
    }
    if (progress && !progress(0, total))
        return false;

    Stmt cards(db, ("SELECT \"ID\"" + cardColumns() + " FROM \"zl\" ORDER BY \"ID\"").c_str(),
               what("建立"));
    ChunkWriter writer(db);
    Collector collector;
    CardText text;
    std::vector<std::uint32_t> offsets;
    qint64 chunk = 0, done = 0;
    auto flush = [&] {
        if (offsets.empty())
            return;
        writer.begin(chunk, offsets);
        collector.writeTo(writer);
        writer.finish();
        offsets.clear();
    };
    while (cards.step()) {
        const qint64 id = cards.int64(0);
        if (offsets.empty() || chunkOf(id) != chunk) {
            flush();
            chunk = chunkOf(id);
        }
        const std::uint32_t rank = std::uint32_t(offsets.size());
        offsets.push_back(offsetOf(id));
        text.assign(rowColumns(cards, 1));
        text.forEachKey([&](const char* p, std::size_t n) { collector.key(p, n); });
        collector.endCard(rank);
        ++done;
        if (progress && done % 1024 == 0 && !progress(done, total))
            return false;
    }
    flush();
    Stmt meta(db, "INSERT INTO \"quickfind_meta\" (\"name\", \"value\") VALUES ('format', ?)",
              what("建立"));
    meta.bindText(1, std::to_string(kFormat).c_str()).run();
    if (progress && !progress(done, total))
        return false;
    save.commit(what("建立"));
    return true;
}

bool repair(sqlite3* db, const Progress& progress) {
    if (!isBuilt(db))
        return build(db, progress);
    std::vector<qint64> inTable;
    {
        Stmt s(db, "SELECT \"ID\" FROM \"zl\" ORDER BY \"ID\"", what("检查"));
        while (s.step())
            inTable.push_back(s.int64(0));
    }
    std::vector<qint64> indexed;
    {
        Stmt s(db, "SELECT \"chunk\", \"ids\" FROM \"quickfind_chunk\" ORDER BY \"chunk\"",
               what("检查"));
        while (s.step()) {
            const qint64 base = s.int64(0) << kChunkBits;
            for (const std::uint32_t off : decodeIds(s.blob(1)))
                indexed.push_back(base + off);
        }
    }
    const std::vector<qint64> dirty = dirtyIds(db);
    std::vector<qint64> differ, stale;
    std::set_symmetric_difference(inTable.begin(), inTable.end(), indexed.begin(), indexed.end(),
                                  std::back_inserter(differ));
    std::set_difference(differ.begin(), differ.end(), dirty.begin(), dirty.end(),
                        std::back_inserter(stale));
    if (stale.empty())
        return false;
    if (double(stale.size()) > kRebuildShare * double(std::max<std::size_t>(inTable.size(), 1)))
        return build(db, progress);
    Savepoint save(db, what("修复"));
    for (const qint64 id : stale)
        markDirty(db, id);
    mergeIfNeeded(db, std::nullopt);
    save.commit(what("修复"));
    return true;
}

void updateCard(sqlite3* db, qint64 id, const Card& card) {
    if (!isBuilt(db))
        return;
    markDirty(db, id);
    mergeIfNeeded(db, Override{id, &card});
}

void removeCard(sqlite3* db, qint64 id) {
    if (!isBuilt(db))
        return;
    markDirty(db, id);
    mergeIfNeeded(db, Override{id, nullptr});
}

QVector<qint64> find(sqlite3* db, const QString& text) {
    const std::vector<std::string> words = wordsOf(text);
    if (!isBuilt(db))
        return scanAll(db, words);

    std::vector<WordPlan> plans;
    for (const std::string& w : words)
        plans.push_back(planWord(w));
    // Exact words first: they narrow the chunk before anything needs reading card by card.
    std::stable_sort(plans.begin(), plans.end(),
                     [](const WordPlan& a, const WordPlan& b) { return a.exact() && !b.exact(); });

    const std::vector<qint64> dirty = dirtyIds(db);
    QVector<qint64> result;
    Reader reader(db);
    CardReader cards(db);
    CardText card;
    Bits all, sure, candidate, scratch, dirtyBits;
    std::vector<Bits> sureOf(plans.size());

    Stmt chunks(db, "SELECT \"chunk\", \"ids\" FROM \"quickfind_chunk\" ORDER BY \"chunk\"",
                what("读取"));
    while (chunks.step()) {
        const qint64 chunk = chunks.int64(0);
        const std::vector<std::uint32_t> offsets = decodeIds(chunks.blob(1));
        const std::uint32_t n = std::uint32_t(offsets.size());
        const std::size_t words64 = (n + 63) / 64;
        all.assign(words64, ~std::uint64_t(0));
        if (n % 64)
            all.back() = (std::uint64_t(1) << (n % 64)) - 1;
        // Changed cards are looked at on their own below.
        const qint64 base = chunk << kChunkBits;
        for (auto it = std::lower_bound(dirty.begin(), dirty.end(), base);
             it != dirty.end() && *it < base + qint64(kChunkIds); ++it) {
            const auto at = std::lower_bound(offsets.begin(), offsets.end(), offsetOf(*it));
            if (at != offsets.end() && *at == offsetOf(*it)) {
                const std::size_t r = std::size_t(at - offsets.begin());
                all[r / 64] &= ~(std::uint64_t(1) << (r % 64));
            }
        }
        bool any = true;
        for (std::size_t w = 0; w < plans.size() && any; ++w) {
            const WordPlan& plan = plans[w];
            Bits& s = sureOf[w];
            s.assign(words64, 0);
            for (const std::string& key : plan.sure)
                reader.lookup(chunk, n, key, s.data());
            candidate.assign(words64, 0);
            if (!plan.exact()) {
                if (!plan.allOf.empty()) {
                    for (std::size_t g = 0; g < plan.allOf.size(); ++g) {
                        scratch.assign(words64, 0);
                        reader.lookup(chunk, n, plan.allOf[g], scratch.data());
                        if (g == 0)
                            candidate = scratch;
                        else
                            for (std::size_t i = 0; i < words64; ++i)
                                candidate[i] &= scratch[i];
                    }
                }
                for (const std::string& key : plan.anyOf)
                    reader.lookup(chunk, n, key, candidate.data());
            }
            any = false;
            for (std::size_t i = 0; i < words64; ++i) {
                all[i] &= s[i] | candidate[i];
                any = any || all[i];
            }
        }
        if (!any)
            continue;
        for (std::size_t i = 0; i < words64; ++i) {
            for (std::uint64_t bits = all[i]; bits; bits &= bits - 1) {
                const std::size_t r = i * 64 + std::size_t(__builtin_ctzll(bits));
                const qint64 id = base + offsets[r];
                bool ok = true;
                bool loaded = false;
                for (std::size_t w = 0; w < plans.size() && ok; ++w) {
                    if (sureOf[w][r / 64] & (std::uint64_t(1) << (r % 64)))
                        continue;
                    if (!loaded) {
                        loaded = true;
                        if (!cards.read(id, card)) {
                            ok = false;
                            break;
                        }
                    }
                    ok = card.matches(plans[w].word);
                }
                if (ok)
                    result.push_back(id);
            }
        }
    }
    // Changed cards, as zl has them now.
    QVector<qint64> changed;
    for (const qint64 id : dirty) {
        if (!cards.read(id, card))
            continue;
        if (std::all_of(plans.begin(), plans.end(),
                        [&](const WordPlan& p) { return card.matches(p.word); }))
            changed.push_back(id);
    }
    if (!changed.isEmpty()) {
        QVector<qint64> merged;
        merged.reserve(result.size() + changed.size());
        std::merge(result.begin(), result.end(), changed.begin(), changed.end(),
                   std::back_inserter(merged));
        result.swap(merged);
    }
    return result;
}

} // namespace QuickFind
