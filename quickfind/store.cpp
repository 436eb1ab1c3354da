#include "store.h"

#include "postings.h"

#include "core/error.h"

#include <algorithm>

namespace QuickFind {

Sqlite::Failure indexFailure(const char* what) {
    return [what](sqlite3* db, int) {
        return QStringLiteral("快速查找的索引%1失败：%2。请关闭其他正在使用该文件的程序后再试；"
                              "如仍失败，请从备份恢复。")
            .arg(QString::fromUtf8(what), QString::fromUtf8(sqlite3_errmsg(db)));
    };
}

void corrupt() {
    throw EDatabaseError(QStringLiteral("快速查找的索引已损坏。请重新打开程序，索引将重新建立。"));
}

} // namespace QuickFind

namespace QuickFind::Store {

namespace {

// A block's entry: the length it shares with the key before and the length of the rest (one
// byte of two halves when both are small, else 0xF0 and two varints), the rest of the key,
// the packed ranks (an empty posting: they are in parts). False when the block is malformed.
bool readEntry(const unsigned char*& p, const unsigned char* end, std::string& key,
               std::uint64_t& size) {
    std::uint64_t shared = 0, suffix = 0;
    if (p >= end)
        return false;
    if ((*p >> 4) != 0xF) { // both lengths small: one byte
        shared = *p >> 4;
        suffix = *p++ & 0xF;
    } else if (!(++p, Postings::getVarint(p, end, shared)) ||
               !Postings::getVarint(p, end, suffix)) {
        return false;
    }
    if (shared > key.size() || suffix > std::uint64_t(end - p))
        return false;
    key.resize(shared);
    key.append(reinterpret_cast<const char*>(p), suffix);
    p += suffix;
    return Postings::getVarint(p, end, size) && size <= std::uint64_t(end - p);
}

// A part: its range of ranks, and the ranks in it.
template <class Decode>
bool readPart(std::string_view data, std::uint32_t universe, Decode decode) {
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    const auto* end = p + data.size();
    std::uint64_t lo = 0, span = 0;
    return Postings::getVarint(p, end, lo) && Postings::getVarint(p, end, span) &&
           lo + span <= universe &&
           decode(p, std::size_t(end - p), std::uint32_t(span), std::uint32_t(lo));
}

} // namespace

std::string cardColumns() {
    std::string sql;
    for (const Field field : kFields) {
        sql += ", \"";
        sql += columnName(field);
        sql += '"';
    }
    return sql;
}

std::array<std::string_view, kFieldCount> rowColumns(const Sqlite::Statement& s, int first) {
    std::array<std::string_view, kFieldCount> columns;
    for (int i = 0; i < kFieldCount; ++i)
        columns[std::size_t(i)] = s.utf8(first + i);
    return columns;
}

std::uint32_t cardSum(const std::array<std::string_view, kFieldCount>& columns) {
    // FNV-1a over each column and its length, folded to 32 bits.
    std::uint64_t h = 14695981039346656037ull;
    auto mix = [&h](unsigned char c) {
        h ^= c;
        h *= 1099511628211ull;
    };
    for (const std::string_view c : columns) {
        for (const char ch : c)
            mix(static_cast<unsigned char>(ch));
        for (std::size_t n = c.size(); n; n >>= 8)
            mix(static_cast<unsigned char>(n & 0xFF));
        mix(0xFF);
    }
    return std::uint32_t(h ^ (h >> 32));
}

std::uint32_t cardSum(const Card& card) {
    std::array<QByteArray, kFieldCount> utf8;
    std::array<std::string_view, kFieldCount> columns;
    for (std::size_t i = 0; i < std::size_t(kFieldCount); ++i) {
        utf8[i] = card.values[i].toUtf8();
        columns[i] = std::string_view(utf8[i].constData(), std::size_t(utf8[i].size()));
    }
    return cardSum(columns);
}

std::vector<std::uint32_t> readSums(sqlite3* db, qint64 chunk) {
    Sqlite::Statement s(db, "SELECT \"sums\" FROM \"quickfind_sum\" WHERE \"chunk\" = ?",
                        indexFailure("读取"));
    s.set(1, chunk);
    std::vector<std::uint32_t> sums;
    if (s.next()) {
        const std::string_view blob = s.blob(0);
        sums.resize(blob.size() / 4);
        for (std::size_t i = 0; i < sums.size(); ++i) {
            const auto* p = reinterpret_cast<const unsigned char*>(blob.data()) + 4 * i;
            sums[i] = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                      std::uint32_t(p[3]) << 24;
        }
    }
    return sums;
}

void writeSums(sqlite3* db, qint64 chunk, const std::vector<std::uint32_t>& sums) {
    std::string blob;
    blob.reserve(sums.size() * 4);
    for (const std::uint32_t v : sums) {
        for (int b = 0; b < 4; ++b)
            blob += char((v >> (8 * b)) & 0xFF);
    }
    Sqlite::Statement(
        db, "INSERT OR REPLACE INTO \"quickfind_sum\" (\"chunk\", \"sums\") VALUES (?, ?)",
        indexFailure("写入"))
        .set(1, chunk)
        .set(2, blob)
        .run();
}

int blockTarget(sqlite3* db) {
    Sqlite::Statement s(db, "PRAGMA page_size", indexFailure("读取"));
    const int page = s.next() ? int(s.int64(0)) : 4096;
    const int maxLocal = (page - 12) * 64 / 255 - 23;
    return std::clamp(maxLocal - 80, 100, 4000); // room for the key and the record header
}

// ---- ChunkEncoder --------------------------------------------------------------------------

void ChunkEncoder::begin(qint64 chunk, const std::vector<std::uint32_t>& offsets) {
    beginKeys(chunk, std::uint32_t(offsets.size()));
    Row row{Row::Chunk, chunk, {}, 0, {}};
    Postings::encode(offsets.data(), offsets.size(), kChunkIds, row.data);
    pushRow(std::move(row));
}

void ChunkEncoder::beginKeys(qint64 chunk, std::uint32_t universe) {
    m_chunk = chunk;
    m_universe = universe;
    m_rows.clear();
    m_data.clear();
    m_first.clear();
    m_previous.clear();
}

void ChunkEncoder::pushRow(Row&& row) {
    m_rows.push_back(std::move(row));
    if (m_sink && m_rows.size() >= 256)
        m_sink(m_rows);
}

void ChunkEncoder::add(std::string_view key, const std::vector<std::uint32_t>& ranks) {
    m_posting.clear();
    Postings::encode(ranks.data(), ranks.size(), m_universe, m_posting);
    const bool big = int(m_posting.size()) > m_target / 2;
    if (big)
        addParts(key, ranks);
    auto entry = [&](std::size_t shared) {
        m_entry.clear();
        const std::size_t suffix = key.size() - shared;
        if (shared < 15 && suffix < 16) {
            m_entry += char((shared << 4) | suffix);
        } else {
            m_entry += '\xF0';
            Postings::putVarint(m_entry, shared);
            Postings::putVarint(m_entry, suffix);
        }
        m_entry.append(key.data() + shared, key.size() - shared);
        Postings::putVarint(m_entry, big ? 0 : m_posting.size());
        if (!big)
            m_entry += m_posting;
    };
    std::size_t shared = 0;
    while (shared < key.size() && shared < m_previous.size() && key[shared] == m_previous[shared])
        ++shared;
    entry(shared);
    if (!m_data.empty() && int(m_data.size() + m_entry.size()) > m_target) {
        flush();
        entry(0); // a block starts with its key in full
    }
    if (m_data.empty())
        m_first.assign(key.data(), key.size());
    m_data += m_entry;
    m_previous.assign(key.data(), key.size());
}

void ChunkEncoder::finish() {
    flush();
    if (m_sink && !m_rows.empty())
        m_sink(m_rows);
}

void ChunkEncoder::flush() {
    if (m_data.empty())
        return;
    pushRow(Row{Row::Block, m_chunk, m_first, 0, m_data});
    m_data.clear();
}

// Cut into ranges of ranks each small enough for a row of its own.
void ChunkEncoder::addParts(std::string_view key, const std::vector<std::uint32_t>& ranks) {
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
        pushRow(Row{Row::Part, m_chunk, std::string(key), qint64(p), std::move(pieces[p])});
}

// ---- RowWriter ----------------------------------------------------------------------------

RowWriter::RowWriter(sqlite3* db)
    : m_chunk(db, "INSERT OR REPLACE INTO \"quickfind_chunk\" (\"chunk\", \"ids\") VALUES (?, ?)",
              indexFailure("写入"))
    , m_block(db,
              "INSERT INTO \"quickfind_block\" (\"chunk\", \"first\", \"data\") VALUES (?, ?, ?)",
              indexFailure("写入"))
    , m_part(db,
             "INSERT INTO \"quickfind_part\" (\"chunk\", \"key\", \"part\", \"data\") "
             "VALUES (?, ?, ?, ?)",
             indexFailure("写入")) {}

void RowWriter::write(const Row* rows, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const Row& r = rows[i];
        switch (r.table) {
        case Row::Chunk:
            m_chunk.set(1, r.chunk).set(2, r.data).run();
            break;
        case Row::Block:
            m_block.set(1, r.chunk).set(2, r.key).set(3, r.data).run();
            break;
        case Row::Part:
            m_part.set(1, r.chunk).set(2, r.key).set(3, r.part).set(4, r.data).run();
            break;
        }
    }
}

void removeChunk(sqlite3* db, qint64 chunk) {
    for (const char* sql : {"DELETE FROM \"quickfind_block\" WHERE \"chunk\" = ?",
                            "DELETE FROM \"quickfind_part\" WHERE \"chunk\" = ?",
                            "DELETE FROM \"quickfind_chunk\" WHERE \"chunk\" = ?",
                            "DELETE FROM \"quickfind_sum\" WHERE \"chunk\" = ?"})
        Sqlite::Statement(db, sql, indexFailure("写入")).set(1, chunk).run();
}

std::vector<std::uint32_t> decodeIds(std::string_view blob) {
    std::vector<std::uint32_t> offsets;
    if (!Postings::decode(reinterpret_cast<const unsigned char*>(blob.data()), blob.size(),
                          kChunkIds, offsets))
        corrupt();
    return offsets;
}

// ---- Reader -------------------------------------------------------------------------------

Reader::Reader(sqlite3* db)
    : m_block(db,
              "SELECT \"data\" FROM \"quickfind_block\" WHERE \"chunk\" = ? AND \"first\" <= ? "
              "ORDER BY \"first\" DESC LIMIT 1",
              indexFailure("读取"))
    , m_parts(db,
              "SELECT \"data\" FROM \"quickfind_part\" WHERE \"chunk\" = ? AND \"key\" = ? "
              "ORDER BY \"part\"",
              indexFailure("读取")) {}

void Reader::lookup(qint64 chunk, std::uint32_t universe, std::string_view key,
                    std::uint64_t* bits) {
    m_block.set(1, chunk).set(2, key);
    bool inParts = false;
    if (m_block.next()) {
        const std::string_view data = m_block.blob(0);
        const auto* p = reinterpret_cast<const unsigned char*>(data.data());
        const auto* end = p + data.size();
        m_current.clear();
        while (p < end) {
            std::uint64_t size = 0;
            if (!readEntry(p, end, m_current, size))
                corrupt();
            const int order = std::string_view(m_current).compare(key);
            if (order > 0)
                break;
            if (order == 0) {
                if (size == 0)
                    inParts = true;
                else if (!Postings::decodeBits(p, size, universe, 0, bits))
                    corrupt();
                break;
            }
            p += size;
        }
    }
    m_block.rewind();
    if (inParts)
        readParts(chunk, universe, key, bits);
}

void Reader::readParts(qint64 chunk, std::uint32_t universe, std::string_view key,
                       std::uint64_t* bits) {
    m_parts.set(1, chunk).set(2, key);
    while (m_parts.next()) {
        if (!readPart(
                m_parts.blob(0), universe,
                [bits](const unsigned char* p, std::size_t n, std::uint32_t span,
                       std::uint32_t lo) { return Postings::decodeBits(p, n, span, lo, bits); }))
            corrupt();
    }
    m_parts.rewind();
}

// ---- ChunkScan ----------------------------------------------------------------------------

ChunkScan::ChunkScan(sqlite3* db, qint64 chunk, std::uint32_t universe)
    : m_blocks(db,
               "SELECT \"data\" FROM \"quickfind_block\" WHERE \"chunk\" = ? ORDER BY \"first\"",
               indexFailure("读取"))
    , m_parts(db,
              "SELECT \"key\", \"data\" FROM \"quickfind_part\" WHERE \"chunk\" = ? "
              "ORDER BY \"key\", \"part\"",
              indexFailure("读取"))
    , m_universe(universe) {
    m_blocks.set(1, chunk);
    m_parts.set(1, chunk);
    m_partsLeft = m_parts.next();
}

bool ChunkScan::next(std::string& key, std::vector<std::uint32_t>& ranks) {
    ranks.clear();
    while (m_p == m_end) {
        if (!m_blocks.next())
            return false;
        m_data.assign(m_blocks.blob(0));
        m_p = reinterpret_cast<const unsigned char*>(m_data.data());
        m_end = m_p + m_data.size();
        m_key.clear();
    }
    std::uint64_t size = 0;
    if (!readEntry(m_p, m_end, m_key, size))
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
        m_partsLeft = m_parts.next();
    while (m_partsLeft && m_parts.blob(0) == std::string_view(m_key)) {
        if (!readPart(m_parts.blob(1), m_universe,
                      [&ranks](const unsigned char* p, std::size_t n, std::uint32_t span,
                               std::uint32_t lo) {
                          const std::size_t before = ranks.size();
                          if (!Postings::decode(p, n, span, ranks))
                              return false;
                          for (std::size_t i = before; i < ranks.size(); ++i)
                              ranks[i] += lo;
                          return true;
                      }))
            corrupt();
        m_partsLeft = m_parts.next();
    }
    return true;
}

// ---- Cards --------------------------------------------------------------------------------

CardReader::CardReader(sqlite3* db)
    : m_stmt(db, ("SELECT \"ID\"" + cardColumns() + " FROM \"zl\" WHERE \"ID\" = ?").c_str(),
             indexFailure("读取")) {}

bool CardReader::read(qint64 id, CardText& text, std::uint32_t* sum) {
    m_stmt.rewind();
    m_stmt.set(1, id);
    const bool found = m_stmt.next();
    if (found) {
        const std::array<std::string_view, kFieldCount> columns = rowColumns(m_stmt, 1);
        if (sum)
            *sum = cardSum(columns);
        text.assign(columns);
    }
    m_stmt.rewind();
    return found;
}

bool CardReader::fetch(qint64 id, std::array<std::string_view, kFieldCount>& columns) {
    m_stmt.rewind();
    m_stmt.set(1, id);
    if (!m_stmt.next())
        return false;
    columns = rowColumns(m_stmt, 1);
    return true;
}

std::vector<qint64> dirtyIds(sqlite3* db) {
    std::vector<qint64> ids;
    Sqlite::Statement s(db, "SELECT \"ID\" FROM \"quickfind_dirty\" ORDER BY \"ID\"",
                        indexFailure("读取"));
    while (s.next())
        ids.push_back(s.int64(0));
    return ids;
}

} // namespace QuickFind::Store
