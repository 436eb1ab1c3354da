#include "builder.h"

#include <algorithm>
#include <string>

namespace QuickFind::Build {

namespace {

constexpr std::size_t kTaskCards = 256;
constexpr std::size_t kQueuedTasks = 4; // per worker
// Rows are written a slice at a time between runs of cards: a whole chunk's rows at once (tens
// of MB) left the workers without cards meanwhile. A slice is a few ms; a chunk's rows are
// written in a third of the time its cards take to read.
constexpr std::size_t kBytesEachTurn = 256 * 1024;
constexpr std::size_t kAllRows = SIZE_MAX;
// Each worker keeps a table of most keys of a chunk, tens of MB: memory bounds them.
constexpr unsigned kMostWorkers = 4;

/// Thrown inside a worker when the build stops: it leaves the worker's loop.
struct Stopped {};

} // namespace

/// Where the workers meet at the end of a chunk: each has sorted its keys, then each has
/// packed its share of them.
struct Pipeline::ChunkEnd {
    qint64 chunk = 0;
    std::vector<std::uint32_t> offsets;
    std::size_t sorted = 0, packed = 0;
    std::vector<std::string> bounds;           // of the workers' shares of the keys
    std::vector<std::vector<Store::Row>> rows; // of each share
    bool done = false;
};

/// A run of cards for one worker: their columns one after another.
struct Pipeline::Task {
    std::string text;
    std::vector<std::uint32_t> ends; // of each column in `text`, kFieldCount a card
    std::vector<std::uint32_t> ranks;
    std::shared_ptr<ChunkEnd> end; // the chunk ends after these cards
    void clear() {
        text.clear();
        ends.clear();
        ranks.clear();
        end.reset();
    }
};

struct Pipeline::Worker {
    std::deque<std::unique_ptr<Task>> queue;
    Collector collector;
    CardText text;
    std::thread thread;
};

Pipeline::Pipeline(int blockTarget, Writer write, int workers)
    : m_blockTarget(blockTarget)
    , m_write(std::move(write))
    , m_task(std::make_unique<Task>()) {
    if (workers <= 0)
        workers = int(std::clamp(std::thread::hardware_concurrency(), 1u, kMostWorkers));
    for (int i = 0; i < workers; ++i)
        m_workers.push_back(std::make_unique<Worker>());
    for (std::size_t i = 0; i < m_workers.size(); ++i)
        m_workers[i]->thread = std::thread([this, i] { work(i); });
}

Pipeline::~Pipeline() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    for (const auto& w : m_workers)
        w->thread.join();
}

void Pipeline::addCard(const std::array<std::string_view, kFieldCount>& columns,
                       std::uint32_t rank) {
    Task& t = *m_task;
    for (const std::string_view c : columns) {
        t.text.append(c.data(), c.size());
        t.ends.push_back(std::uint32_t(t.text.size()));
    }
    t.ranks.push_back(rank);
    if (t.ranks.size() >= kTaskCards) {
        submit(m_next);
        m_next = (m_next + 1) % m_workers.size();
    }
}

void Pipeline::endChunk(qint64 chunk, const std::vector<std::uint32_t>& offsets) {
    auto end = std::make_shared<ChunkEnd>();
    end->chunk = chunk;
    end->offsets = offsets;
    end->rows.resize(m_workers.size());
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_chunks.push_back(end);
    }
    // Every worker hears of it, after its last cards of the chunk.
    for (std::size_t i = 0; i < m_workers.size(); ++i) {
        m_task->end = end;
        submit(i);
    }
}

bool Pipeline::writeDone(std::unique_lock<std::mutex>& lock, std::size_t bytes) {
    std::size_t written = 0;
    bool any = false;
    while (written < bytes && !m_chunks.empty() && m_chunks.front()->done) {
        // Another chunk finished already: this one is written whole, so that rows never pile up.
        const bool behind = m_chunks.size() > 1 && m_chunks[1]->done;
        const std::shared_ptr<ChunkEnd> end = m_chunks.front();
        lock.unlock();
        // Once done, a chunk's rows are this thread's alone.
        while ((behind || written < bytes) && m_share < end->rows.size()) {
            std::vector<Store::Row>& rows = end->rows[m_share];
            std::size_t to = m_row;
            while (to < rows.size() && (behind || written < bytes))
                written += rows[to++].data.size() + 1;
            if (to > m_row)
                m_write(rows.data() + m_row, to - m_row);
            any = any || to > m_row;
            m_row = to;
            if (m_row == rows.size()) {
                std::vector<Store::Row>().swap(rows);
                ++m_share;
                m_row = 0;
            }
        }
        lock.lock();
        if (m_share == end->rows.size()) {
            m_chunks.pop_front();
            m_share = 0;
        }
    }
    return any;
}

void Pipeline::submit(std::size_t worker) {
    std::unique_lock<std::mutex> lock(m_mutex);
    Worker& w = *m_workers[worker];
    // A slice of the rows packed meanwhile with every run of cards, more while the worker is
    // busy.
    for (bool turn = true;;) {
        if (m_error)
            std::rethrow_exception(m_error);
        const bool full = w.queue.size() >= kQueuedTasks;
        if ((turn || full) && writeDone(lock, kBytesEachTurn)) {
            turn = false;
            continue;
        }
        if (!full)
            break;
        m_changed.wait(lock);
    }
    w.queue.push_back(std::move(m_task));
    if (m_spare.empty()) {
        m_task = std::make_unique<Task>();
    } else {
        m_task = std::move(m_spare.back());
        m_spare.pop_back();
    }
    lock.unlock();
    m_changed.notify_all();
}

void Pipeline::writeRows(bool all) {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        const bool wrote = writeDone(lock, all ? kAllRows : kBytesEachTurn);
        if (m_error)
            std::rethrow_exception(m_error);
        if (!all || m_chunks.empty())
            break;
        if (!wrote)
            m_changed.wait(lock);
    }
}

template <class Ready> void Pipeline::waitFor(std::unique_lock<std::mutex>& lock, Ready ready) {
    m_changed.wait(lock, [&] { return m_stop || ready(); });
    if (m_stop)
        throw Stopped();
}

void Pipeline::work(std::size_t index) {
    Worker& w = *m_workers[index];
    try {
        for (;;) {
            std::unique_ptr<Task> task;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                waitFor(lock, [&w] { return !w.queue.empty(); });
                task = std::move(w.queue.front());
                w.queue.pop_front();
            }
            m_changed.notify_all();
            fileTask(w, *task);
            if (task->end)
                finishChunk(index, *task->end);
            task->clear();
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_spare.push_back(std::move(task));
            }
        }
    } catch (const Stopped&) {
    } catch (...) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_error = std::current_exception();
            m_stop = true;
        }
        m_changed.notify_all();
    }
}

void Pipeline::fileTask(Worker& w, const Task& task) {
    std::array<std::string_view, kFieldCount> columns;
    std::size_t at = 0;
    std::uint32_t from = 0;
    for (const std::uint32_t rank : task.ranks) {
        for (std::string_view& c : columns) {
            const std::uint32_t to = task.ends[at++];
            c = std::string_view(task.text.data() + from, to - from);
            from = to;
        }
        w.text.assign(columns);
        w.collector.addCard(w.text, rank);
    }
}

void Pipeline::finishChunk(std::size_t index, ChunkEnd& end) {
    Worker& w = *m_workers[index];
    w.collector.sort();
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (++end.sorted == m_workers.size()) {
            // The shares: equal parts of the keys of the worker that has most.
            const Collector* most = &w.collector;
            for (const auto& other : m_workers) {
                if (other->collector.size() > most->size())
                    most = &other->collector;
            }
            char buffer[8];
            for (std::size_t i = 1; i < m_workers.size(); ++i) {
                const std::size_t at = most->size() * i / m_workers.size();
                end.bounds.emplace_back(at < most->size() ? most->key(at, buffer)
                                                          : std::string_view());
            }
            lock.unlock();
            m_changed.notify_all();
        } else {
            waitFor(lock, [&] { return end.sorted == m_workers.size(); });
        }
    }
    encodeShare(index, end);
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (++end.packed == m_workers.size()) {
            end.done = true;
            lock.unlock();
            m_changed.notify_all();
        } else {
            // The others still read this worker's keys.
            waitFor(lock, [&] { return end.packed == m_workers.size(); });
        }
    }
    w.collector.clear();
}

void Pipeline::encodeShare(std::size_t index, ChunkEnd& end) {
    Store::ChunkEncoder encoder(m_blockTarget);
    if (index == 0)
        encoder.begin(end.chunk, end.offsets);
    else
        encoder.beginKeys(end.chunk, std::uint32_t(end.offsets.size()));
    // Each worker's keys of this share, merged in key order; a key's ranks from all of them.
    struct Cursor {
        const Collector* collector;
        std::size_t at, to;
        std::string key;
        void load() {
            char buffer[8];
            const std::string_view k = collector->key(at, buffer);
            key.assign(k.data(), k.size());
        }
    };
    std::vector<Cursor> cursors;
    for (const auto& w : m_workers) {
        const Collector& c = w->collector;
        Cursor cursor{&c, 0, c.size(), {}};
        if (index > 0)
            cursor.at = c.lowerBound(end.bounds[index - 1]);
        if (index + 1 < m_workers.size())
            cursor.to = c.lowerBound(end.bounds[index]);
        if (cursor.at < cursor.to)
            cursors.push_back(cursor);
    }
    for (Cursor& c : cursors)
        c.load();
    std::vector<std::uint32_t> ranks, more, merged;
    std::string key;
    while (!cursors.empty()) {
        const std::string* least = &cursors.front().key;
        for (const Cursor& c : cursors)
            least = std::min(least, &c.key, [](auto a, auto b) { return *a < *b; });
        key = *least;
        ranks.clear();
        for (Cursor& c : cursors) {
            if (c.key != key)
                continue;
            if (ranks.empty()) {
                c.collector->ranks(c.at, ranks);
            } else { // merged aside: merging in place takes a buffer from the heap every time
                more.clear();
                c.collector->ranks(c.at, more);
                merged.resize(ranks.size() + more.size());
                std::merge(ranks.begin(), ranks.end(), more.begin(), more.end(), merged.begin());
                ranks.swap(merged);
            }
            if (++c.at < c.to)
                c.load();
        }
        encoder.add(key, ranks);
        cursors.erase(std::remove_if(cursors.begin(), cursors.end(),
                                     [](const Cursor& c) { return c.at >= c.to; }),
                      cursors.end());
    }
    encoder.finish();
    end.rows[index] = std::move(encoder.rows());
}

} // namespace QuickFind::Build
