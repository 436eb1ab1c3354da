#pragma once

#include "store.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/// Building the index from many cards. The caller's thread reads the cards and works out
/// their keys; a second thread files the keys by card and packs each chunk into rows, which
/// the caller's thread writes. Most of a build's time goes into filing.
namespace QuickFind::Build {

/// The keys of a run of cards, handed from the reading thread to the filing one.
struct Batch {
    std::vector<std::uint64_t> hashes; // of each key
    std::vector<std::uint32_t> ends;   // of each key in `bytes`
    std::string bytes;
    std::vector<std::uint32_t> cardEnds; // of each card's keys in `hashes`
    std::vector<std::uint32_t> ranks;    // of each card in its chunk
    bool endsChunk = false;              // then the chunk is complete after these cards
    qint64 chunk = 0;
    std::vector<std::uint32_t> offsets; // of the chunk's card IDs
    void clear();
};

/// Key → ranks of the cards having it, for the chunk being built.
class Collector {
public:
    Collector();
    ~Collector();
    /// Files the keys [from, to) of `batch` under `rank`.
    void addCard(const Batch& batch, std::size_t from, std::size_t to, std::uint32_t rank);
    /// Hands every key with its ranks to `encoder`, in key order; then empties.
    void encode(Store::ChunkEncoder& encoder);

private:
    struct Entry;
    struct Slot {
        std::uint32_t check; // high half of the hash
        std::uint32_t entry; // index + 1, 0 for free
    };
    std::uint32_t find(std::uint64_t hash, std::string_view key) const;
    std::uint32_t insert(std::uint64_t hash, std::string_view key);
    std::string_view keyOf(const Entry& e) const;
    void grow();

    std::vector<Slot> m_table;
    std::vector<Entry> m_entries;
    std::vector<std::uint64_t> m_hashes;
    std::string m_longKeys;
    std::vector<std::uint32_t> m_found;
};

/// Builds the rows of every chunk from the cards given in ID order.
class Pipeline {
public:
    using Writer = std::function<void(const std::vector<Store::Row>& rows)>;
    /// Rows go to `write`, always on the caller's thread, from within the calls below.
    Pipeline(int blockTarget, Writer write);
    ~Pipeline();
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    /// Adds a card's keys (as CardText gives them) at `rank` of the current chunk.
    void addCard(CardText& text, std::uint32_t rank);
    /// Ends the chunk whose card IDs have `offsets`.
    void endChunk(qint64 chunk, const std::vector<std::uint32_t>& offsets);
    /// Writes the rows packed so far; with `all`, waits for every chunk ended and writes it.
    void writeRows(bool all);

private:
    void key(const char* p, std::size_t n);
    void submit();
    void work();
    /// Writes what is done, unlocking while writing.
    void writeDone(std::unique_lock<std::mutex>& lock);

    Writer m_write;

    // The reading side: repeats within a card are dropped against a small table.
    struct Seen {
        std::uint64_t hash;
        std::uint32_t index; // into the batch's keys
        std::uint32_t generation;
    };
    std::vector<Seen> m_seen;
    std::uint32_t m_generation = 1;
    std::size_t m_cardStart = 0;
    std::unique_ptr<Batch> m_batch;

    // Between the threads.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<Batch>> m_queue, m_spare;
    std::vector<Store::Row> m_done;
    std::size_t m_chunksAsked = 0, m_chunksDone = 0;
    bool m_stop = false;
    std::exception_ptr m_error;

    // The filing side.
    Collector m_collector;
    Store::ChunkEncoder m_encoder;
    std::thread m_thread;
};

} // namespace QuickFind::Build
