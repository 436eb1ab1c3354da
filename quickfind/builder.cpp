#include "builder.h"

#include "postings.h"

#include <algorithm>
#include <cstring>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace QuickFind::Build {

namespace {

constexpr std::size_t kInlineKey = 11;
constexpr std::size_t kBatchCards = 128;
constexpr std::size_t kQueuedBatches = 3;

std::uint64_t hashOf(const char* p, std::size_t n) {
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
    return h ^ (h >> 29);
}

// Equality of short keys without a call to memcmp.
inline bool same(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    if (a.size() <= 8) {
        std::uint64_t x = 0, y = 0;
        std::memcpy(&x, a.data(), a.size());
        std::memcpy(&y, b.data(), b.size());
        return x == y;
    }
    return std::memcmp(a.data(), b.data(), a.size()) == 0;
}

// The first eight bytes in an order that compares as the keys do.
inline std::uint64_t sortPrefix(std::string_view k) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < 8; ++i)
        v = (v << 8) | (i < k.size() ? static_cast<unsigned char>(k[i]) : 0);
    return v;
}

std::string_view keyAt(const Batch& b, std::size_t i) {
    const std::uint32_t start = i == 0 ? 0 : b.ends[i - 1];
    return std::string_view(b.bytes.data() + start, b.ends[i] - start);
}

} // namespace

void Batch::clear() {
    hashes.clear();
    ends.clear();
    bytes.clear();
    cardEnds.clear();
    ranks.clear();
    endsChunk = false;
    offsets.clear();
}

// ---- Collector ----------------------------------------------------------------------------

// 48 bytes: the key inline (longer ones in m_longKeys), and the gaps between the ranks of its
// cards (inline too while they are few). There are close to a million of them in a chunk.
struct Collector::Entry {
    std::string gaps;
    std::uint32_t last = 0;
    std::uint8_t length = 0;
    char key[kInlineKey] = {};
};

Collector::Collector() {
    m_table.assign(std::size_t(1) << 16, Slot{0, 0});
}

Collector::~Collector() = default;

std::string_view Collector::keyOf(const Entry& e) const {
    if (e.length <= kInlineKey)
        return std::string_view(e.key, e.length);
    std::uint32_t at = 0;
    std::memcpy(&at, e.key, sizeof at);
    return std::string_view(m_longKeys.data() + at, e.length);
}

std::uint32_t Collector::find(std::uint64_t hash, std::string_view key) const {
    const std::size_t mask = m_table.size() - 1;
    const std::uint32_t check = std::uint32_t(hash >> 32);
    for (std::size_t i = std::size_t(hash) & mask;; i = (i + 1) & mask) {
        const Slot s = m_table[i];
        if (s.entry == 0)
            return UINT32_MAX;
        if (s.check == check && same(keyOf(m_entries[s.entry - 1]), key))
            return s.entry - 1;
    }
}

std::uint32_t Collector::insert(std::uint64_t hash, std::string_view key) {
    const std::size_t mask = m_table.size() - 1;
    std::size_t i = std::size_t(hash) & mask;
    while (m_table[i].entry != 0)
        i = (i + 1) & mask;
    Entry e;
    // Keys are at most six characters; one longer would be cut, not overflow.
    e.length = std::uint8_t(std::min<std::size_t>(key.size(), 255));
    if (e.length <= kInlineKey) {
        std::memcpy(e.key, key.data(), e.length);
    } else {
        const std::uint32_t at = std::uint32_t(m_longKeys.size());
        m_longKeys.append(key.data(), e.length);
        std::memcpy(e.key, &at, sizeof at);
    }
    m_entries.push_back(std::move(e));
    m_hashes.push_back(hash);
    m_table[i] = Slot{std::uint32_t(hash >> 32), std::uint32_t(m_entries.size())};
    return std::uint32_t(m_entries.size() - 1);
}

void Collector::grow() {
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

void Collector::addCard(const Batch& batch, std::size_t from, std::size_t to, std::uint32_t rank) {
    // The table is far bigger than the caches: look all of a card's keys up at once.
    const std::size_t mask = m_table.size() - 1;
    for (std::size_t i = from; i < to; ++i)
        __builtin_prefetch(&m_table[std::size_t(batch.hashes[i]) & mask]);
    // The entry the home place names is nearly always the key's own: fetch it meanwhile.
    m_found.resize(to - from);
    for (std::size_t i = from; i < to; ++i) {
        const Slot s = m_table[std::size_t(batch.hashes[i]) & mask];
        const bool likely = s.entry != 0 && s.check == std::uint32_t(batch.hashes[i] >> 32);
        m_found[i - from] = likely ? s.entry - 1 : UINT32_MAX;
        if (likely)
            __builtin_prefetch(&m_entries[s.entry - 1]);
    }
    for (std::size_t i = from; i < to; ++i) {
        const std::string_view key = keyAt(batch, i);
        std::uint32_t e = m_found[i - from];
        if (e == UINT32_MAX || !same(keyOf(m_entries[e]), key))
            e = find(batch.hashes[i], key);
        if (e == UINT32_MAX)
            e = insert(batch.hashes[i], key);
        Entry& entry = m_entries[e];
        const std::uint32_t gap = entry.gaps.empty() ? rank : rank - entry.last;
        if (gap < 0x80)
            entry.gaps += char(gap);
        else
            Postings::putVarint(entry.gaps, gap);
        entry.last = rank;
    }
    if (m_entries.size() * 2 > m_table.size())
        grow();
}

void Collector::encode(Store::ChunkEncoder& encoder) {
    // Sorted by the keys' first bytes, kept beside the index: most comparisons stay in cache.
    struct Item {
        std::uint64_t prefix;
        std::uint32_t index;
    };
    std::vector<Item> order(m_entries.size());
    for (std::uint32_t i = 0; i < order.size(); ++i)
        order[i] = Item{sortPrefix(keyOf(m_entries[i])), i};
    std::sort(order.begin(), order.end(), [this](const Item& a, const Item& b) {
        if (a.prefix != b.prefix)
            return a.prefix < b.prefix;
        return keyOf(m_entries[a.index]) < keyOf(m_entries[b.index]);
    });
    std::vector<std::uint32_t> ranks;
    for (const Item& item : order) {
        const std::uint32_t i = item.index;
        const Entry& e = m_entries[i];
        ranks.clear();
        const auto* p = reinterpret_cast<const unsigned char*>(e.gaps.data());
        const auto* end = p + e.gaps.size();
        std::uint64_t v = 0, at = 0;
        while (p < end && Postings::getVarint(p, end, v)) {
            at = ranks.empty() ? v : at + v;
            ranks.push_back(std::uint32_t(at));
        }
        encoder.add(keyOf(e), ranks);
        std::string().swap(m_entries[i].gaps); // memory back as it goes
    }
    m_entries.clear();
    m_entries.shrink_to_fit();
    m_hashes.clear();
    m_hashes.shrink_to_fit();
    m_longKeys.clear();
    m_table.assign(std::size_t(1) << 16, Slot{0, 0});
}

// ---- Pipeline -----------------------------------------------------------------------------

Pipeline::Pipeline(int blockTarget, Writer write)
    : m_write(std::move(write))
    , m_seen(1024, Seen{0, 0, 0})
    , m_batch(std::make_unique<Batch>())
    , m_encoder(blockTarget,
                [this](std::vector<Store::Row>& rows) {
                    // On the filing thread: hand the rows over, a few hundred at a time.
                    {
                        std::lock_guard<std::mutex> lock(m_mutex);
                        for (Store::Row& r : rows)
                            m_done.push_back(std::move(r));
                    }
                    rows.clear();
                    m_changed.notify_all();
                })
    , m_thread([this] { work(); }) {}

Pipeline::~Pipeline() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void Pipeline::key(const char* p, std::size_t n) {
    Batch& b = *m_batch;
    const std::uint64_t h = hashOf(p, n);
    if ((b.hashes.size() - m_cardStart) * 2 >= m_seen.size()) {
        // A card with many keys (a long note): a bigger table, the card's keys in it again.
        std::vector<Seen> seen(m_seen.size() * 2, Seen{0, 0, 0});
        const std::size_t mask = seen.size() - 1;
        for (std::size_t k = m_cardStart; k < b.hashes.size(); ++k) {
            std::size_t i = std::size_t(b.hashes[k]) & mask;
            while (seen[i].generation == m_generation)
                i = (i + 1) & mask;
            seen[i] = Seen{b.hashes[k], std::uint32_t(k), m_generation};
        }
        m_seen.swap(seen);
    }
    const std::size_t mask = m_seen.size() - 1;
    const std::string_view key(p, n);
    for (std::size_t i = std::size_t(h) & mask;; i = (i + 1) & mask) {
        Seen& s = m_seen[i];
        if (s.generation != m_generation) {
            s = Seen{h, std::uint32_t(b.hashes.size()), m_generation};
            break;
        }
        if (s.hash == h && same(keyAt(b, s.index), key))
            return;
    }
    b.hashes.push_back(h);
    b.bytes.append(p, n);
    b.ends.push_back(std::uint32_t(b.bytes.size()));
}

void Pipeline::addCard(CardText& text, std::uint32_t rank) {
    m_cardStart = m_batch->hashes.size();
    text.forEachKey([this](const char* p, std::size_t n) { key(p, n); });
    m_batch->cardEnds.push_back(std::uint32_t(m_batch->hashes.size()));
    m_batch->ranks.push_back(rank);
    if (++m_generation == 0) { // wrapped: no old mark may look current
        std::fill(m_seen.begin(), m_seen.end(), Seen{0, 0, 0});
        m_generation = 1;
    }
    if (m_batch->cardEnds.size() >= kBatchCards)
        submit();
}

void Pipeline::endChunk(qint64 chunk, const std::vector<std::uint32_t>& offsets) {
    m_batch->endsChunk = true;
    m_batch->chunk = chunk;
    m_batch->offsets = offsets;
    ++m_chunksAsked;
    submit();
}

void Pipeline::writeDone(std::unique_lock<std::mutex>& lock) {
    while (!m_done.empty()) {
        std::vector<Store::Row> rows;
        rows.swap(m_done);
        lock.unlock();
        m_write(rows);
        lock.lock();
    }
}

void Pipeline::submit() {
    std::unique_lock<std::mutex> lock(m_mutex);
    // Rows packed meanwhile are written while waiting, so that they never pile up.
    for (;;) {
        writeDone(lock);
        if (m_error)
            std::rethrow_exception(m_error);
        if (m_queue.size() < kQueuedBatches)
            break;
        m_changed.wait(lock);
    }
    m_queue.push_back(std::move(m_batch));
    if (m_spare.empty()) {
        m_batch = std::make_unique<Batch>();
    } else {
        m_batch = std::move(m_spare.front());
        m_spare.pop_front();
    }
    lock.unlock();
    m_changed.notify_all();
}

void Pipeline::writeRows(bool all) {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        writeDone(lock);
        if (m_error)
            std::rethrow_exception(m_error);
        if (!all || m_chunksDone == m_chunksAsked)
            break;
        m_changed.wait(lock);
    }
    writeDone(lock);
}

void Pipeline::work() {
    try {
        for (;;) {
            std::unique_ptr<Batch> batch;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [this] { return m_stop || !m_queue.empty(); });
                if (m_stop)
                    return;
                batch = std::move(m_queue.front());
                m_queue.pop_front();
            }
            m_changed.notify_all();
            std::size_t from = 0;
            for (std::size_t c = 0; c < batch->cardEnds.size(); ++c) {
                m_collector.addCard(*batch, from, batch->cardEnds[c], batch->ranks[c]);
                from = batch->cardEnds[c];
            }
            if (batch->endsChunk) {
                m_encoder.begin(batch->chunk, batch->offsets);
                m_collector.encode(m_encoder);
                m_encoder.finish();
#ifdef __GLIBC__
                // A chunk's many small buffers are free now: give them back, so that the
                // next chunk starts from the same footing instead of a fragmented heap.
                malloc_trim(0);
#endif
            }
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (batch->endsChunk)
                    ++m_chunksDone;
                batch->clear();
                m_spare.push_back(std::move(batch));
            }
            m_changed.notify_all();
        }
    } catch (...) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_error = std::current_exception();
        }
        m_changed.notify_all();
    }
}

} // namespace QuickFind::Build
