#pragma once

#include "cardtext.h"
#include "collector.h"
#include "store.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

/// Building the index from many cards. The caller's thread reads the cards and writes the
/// rows; worker threads, one per processor, each take every other run of cards, work out
/// their keys and file them. At a chunk's end each packs the rows of its share of the keys
/// (every worker's cards for them), so that the whole build runs on every processor.
namespace QuickFind::Build {

class Pipeline {
public:
    using Writer = std::function<void(const Store::Row* rows, std::size_t count)>;
    /// Rows go to `write`, always on the caller's thread, from within the calls below, in key
    /// order. `workers`: threads filing, 0 for one per processor (at most four).
    Pipeline(int blockTarget, Writer write, int workers = 0);
    ~Pipeline();
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    /// Adds a card's 24 columns (UTF-8, as zl holds them) at `rank` of the current chunk.
    void addCard(const std::array<std::string_view, kFieldCount>& columns, std::uint32_t rank);
    /// Ends the chunk whose card IDs have `offsets`.
    void endChunk(qint64 chunk, const std::vector<std::uint32_t>& offsets);
    /// Writes the chunks finished so far; with `all`, waits for every chunk ended and writes it.
    void writeRows(bool all);

private:
    struct ChunkEnd;
    struct Task;
    struct Worker;

    void submit(std::size_t worker);
    /// Writes rows of the finished chunks, about `bytes` of them, unlocking while writing;
    /// false when there were none to write.
    bool writeDone(std::unique_lock<std::mutex>& lock, std::size_t bytes);
    void work(std::size_t index);
    void fileTask(Worker& worker, const Task& task);
    void finishChunk(std::size_t index, ChunkEnd& end);
    void encodeShare(std::size_t index, ChunkEnd& end);
    /// Waits until `ready`, or throws out of the worker when the build stops.
    template <class Ready> void waitFor(std::unique_lock<std::mutex>& lock, Ready ready);

    int m_blockTarget;
    Writer m_write;
    std::vector<std::unique_ptr<Worker>> m_workers;
    std::unique_ptr<Task> m_task;
    std::size_t m_next = 0;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::shared_ptr<ChunkEnd>> m_chunks; // ended, not yet written
    std::size_t m_share = 0, m_row = 0;             // the next row of the first to write
    std::vector<std::unique_ptr<Task>> m_spare;
    bool m_stop = false;
    std::exception_ptr m_error;
};

} // namespace QuickFind::Build
