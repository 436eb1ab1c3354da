#pragma once

#include "cardtext.h"

#include "data/sqlite.h"

#include <QtGlobal>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// How the index lies in the file. Cards are taken in chunks of 65536 IDs. For each chunk,
// quickfind_chunk holds its card IDs, and quickfind_block the keys of its cards (pieces of
// text, phone digits, starts of spellings) in key order, prefix-compressed, each with the
// positions of the cards having it (their ranks among the chunk's IDs), packed. A key with
// many cards keeps them in quickfind_part instead, cut so that no row needs overflow pages.
namespace QuickFind {

/// The failure of `what` (读取, 写入 …) on the index, in the user's words.
Sqlite::Failure indexFailure(const char* what);
/// Throws EDatabaseError saying that the index is damaged.
[[noreturn]] void corrupt();

} // namespace QuickFind

namespace QuickFind::Store {

constexpr int kChunkBits = 16;
constexpr std::uint32_t kChunkIds = 1u << kChunkBits;

inline qint64 chunkOf(qint64 id) {
    // Rounded down, so that negative IDs get chunks of their own.
    return id >= 0 ? id >> kChunkBits : ~(~id >> kChunkBits);
}
inline qint64 firstIdOf(qint64 chunk) {
    return chunk * qint64(kChunkIds); // not a shift: chunks may be negative
}
inline std::uint32_t offsetOf(qint64 id) {
    return std::uint32_t(id & (kChunkIds - 1));
}

/// ", "姓名", "单位" …: the 24 written columns for a select.
std::string cardColumns();
/// The 24 columns of the current row, from column `first` on.
std::array<std::string_view, kFieldCount> rowColumns(const Sqlite::Statement& s, int first);

/// A checksum of a card's 24 columns as zl holds them, which tells a card changed in place.
std::uint32_t cardSum(const std::array<std::string_view, kFieldCount>& columns);
std::uint32_t cardSum(const Card& card);
/// One chunk's checksums in the order of its card IDs; empty when the chunk has none.
std::vector<std::uint32_t> readSums(sqlite3* db, qint64 chunk);
void writeSums(sqlite3* db, qint64 chunk, const std::vector<std::uint32_t>& sums);

/// The largest block that fits a page of this file without overflow pages.
int blockTarget(sqlite3* db);

/// One row of the index, ready to be written.
struct Row {
    enum Table { Chunk, Block, Part } table;
    qint64 chunk;
    std::string key; // Block: its first key; Part: the key
    qint64 part;
    std::string data;
};

/// Packs one chunk's keys, given in key order, into rows.
class ChunkEncoder {
public:
    using Sink = std::function<void(std::vector<Row>& rows)>;
    /// With a `sink`, finished rows go to it every few hundred (it empties the list);
    /// otherwise they collect in rows().
    explicit ChunkEncoder(int blockTarget, Sink sink = {})
        : m_target(blockTarget)
        , m_sink(std::move(sink)) {}
    /// Starts a chunk with the offsets of its card IDs, ascending.
    void begin(qint64 chunk, const std::vector<std::uint32_t>& offsets);
    /// Starts on a range of a chunk's keys, another encoder writing its card IDs.
    void beginKeys(qint64 chunk, std::uint32_t universe);
    /// Adds a key with the ranks of its cards, ascending and not empty.
    void add(std::string_view key, const std::vector<std::uint32_t>& ranks);
    /// Ends the chunk; its rows are in rows().
    void finish();
    std::vector<Row>& rows() { return m_rows; }

private:
    void flush();
    void addParts(std::string_view key, const std::vector<std::uint32_t>& ranks);

    void pushRow(Row&& row);

    int m_target;
    Sink m_sink;
    qint64 m_chunk = 0;
    std::uint32_t m_universe = 0;
    std::vector<Row> m_rows;
    std::string m_data, m_first, m_previous, m_posting, m_entry;
};

/// Inserts rows into the index tables.
class RowWriter {
public:
    explicit RowWriter(sqlite3* db);
    void write(const std::vector<Row>& rows) { write(rows.data(), rows.size()); }
    void write(const Row* rows, std::size_t count);

private:
    Sqlite::Statement m_chunk, m_block, m_part;
};

/// Removes every row of a chunk.
void removeChunk(sqlite3* db, qint64 chunk);

/// One chunk's card IDs, as offsets from the chunk's first ID.
std::vector<std::uint32_t> decodeIds(std::string_view blob);

/// Looks keys up in the blocks and parts.
class Reader {
public:
    explicit Reader(sqlite3* db);
    /// Sets the bits of the cards of `chunk` (of `universe` cards) that have `key`.
    void lookup(qint64 chunk, std::uint32_t universe, std::string_view key, std::uint64_t* bits);

private:
    void readParts(qint64 chunk, std::uint32_t universe, std::string_view key, std::uint64_t* bits);
    Sqlite::Statement m_block, m_parts;
    std::string m_current;
};

/// Every key of one chunk in key order, with the ranks of its cards.
class ChunkScan {
public:
    ChunkScan(sqlite3* db, qint64 chunk, std::uint32_t universe);
    /// The next key and its ranks; false at the end.
    bool next(std::string& key, std::vector<std::uint32_t>& ranks);

private:
    Sqlite::Statement m_blocks, m_parts;
    std::uint32_t m_universe;
    bool m_partsLeft = false;
    std::string m_data, m_key;
    const unsigned char* m_p = nullptr;
    const unsigned char* m_end = nullptr;
};

/// Reads single cards from zl.
class CardReader {
public:
    explicit CardReader(sqlite3* db);
    /// Fills `text` with card `id`, and `sum` with its checksum; false when there is no
    /// such card.
    bool read(qint64 id, CardText& text, std::uint32_t* sum = nullptr);
    /// The columns of card `id`, valid until the next call; false when there is no such card.
    bool fetch(qint64 id, std::array<std::string_view, kFieldCount>& columns);

private:
    Sqlite::Statement m_stmt;
};

/// The IDs of the cards changed since their chunks were written, ascending.
std::vector<qint64> dirtyIds(sqlite3* db);

} // namespace QuickFind::Store
