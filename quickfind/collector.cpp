#include "collector.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace QuickFind::Build {

namespace {

constexpr std::size_t kFirstSlots = std::size_t(1) << 14;
constexpr int kInline = 10;
constexpr std::uint32_t kPageBits = 20;
constexpr std::uint32_t kPageSize = 1u << kPageBits;
constexpr std::uint32_t kBlockHeader = 8; // next (4), used (2) once full
constexpr std::uint16_t kFirstBlock = 24;
constexpr std::uint32_t kLargestBlock = 1024;
// How many keys ahead a slot, and the place of a rank, are asked for.
constexpr std::size_t kSlotsAhead = 16;
constexpr std::size_t kTailsAhead = 8;

/// The bytes of a key of up to eight, as a number that orders as they do (with the length).
std::uint64_t pack(const char* p, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i)
        v = (v << 8) | static_cast<unsigned char>(p[i]);
    return n == 8 ? v : v << (8 * (8 - n));
}

std::uint64_t mix(std::uint64_t v) {
    v *= 0x9E3779B97F4A7C15ull;
    v ^= v >> 29;
    v *= 0xBF58476D1CE4E5B9ull;
    return v ^ (v >> 32);
}

std::uint64_t hashShort(std::uint64_t packed, std::size_t n) {
    return mix(packed + n);
}

std::uint64_t hashLong(const char* p, std::size_t n) {
    std::uint64_t h = n;
    while (n >= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        h = mix(h ^ w);
        p += 8;
        n -= 8;
    }
    std::uint64_t w = 0;
    std::memcpy(&w, p, n);
    return mix(h ^ w ^ 0x5555);
}

} // namespace

struct Collector::Slot {
    std::uint64_t key;           // the packed bytes or, for a long key, where it is in m_longKeys
    std::uint32_t last;          // rank + 1 of the last card filed, 0 for none
    std::uint32_t head;          // first block of ranks in the arena, 0 for none
    std::uint32_t tail;          // the block being filled
    std::uint8_t length;         // 0 for a free slot
    std::uint8_t used;           // bytes in `gaps` while there are no blocks
    unsigned char gaps[kInline]; // then: how full the last block is, and its capacity
};
Collector::Collector() {
    static_assert(sizeof(Slot) == 32, "two slots a cache line");
    m_slots.assign(kFirstSlots, Slot{});
    clear();
}

Collector::~Collector() = default;

void Collector::clear() {
    if (m_used > 0) {
        if (m_slots.size() > kFirstSlots * 64) // a chunk of an unusual size: do not keep it all
            m_slots.assign(kFirstSlots, Slot{});
        else
            std::fill(m_slots.begin(), m_slots.end(), Slot{});
    }
    m_used = 0;
    m_longKeys.clear();
    m_order.clear();
    // The pages stay for the next chunk, which needs about as many.
    if (m_pages.empty())
        m_pages.emplace_back(new unsigned char[kPageSize]);
    m_page = 0;
    m_pageUsed = kBlockHeader; // address 0 means none
}

unsigned char* Collector::block(std::uint32_t at) const {
    return m_pages[at >> kPageBits].get() + (at & (kPageSize - 1));
}

std::uint32_t Collector::newBlock(std::uint32_t capacity) {
    if (m_pageUsed + kBlockHeader + capacity > kPageSize) {
        if (++m_page == m_pages.size())
            m_pages.emplace_back(new unsigned char[kPageSize]);
        m_pageUsed = 0;
    }
    const std::uint32_t at = std::uint32_t(m_page << kPageBits) | m_pageUsed;
    std::memset(block(at), 0, kBlockHeader);
    m_pageUsed += kBlockHeader + capacity;
    return at;
}

// Once a key's ranks are in blocks, its slot's own bytes say how full the last block is.
std::uint16_t Collector::tailUsed(const Slot& slot) {
    std::uint16_t v;
    std::memcpy(&v, slot.gaps, 2);
    return v;
}

void Collector::append(Slot& slot, std::uint32_t rank) {
    const std::uint32_t gap = slot.last == 0 ? rank : rank - (slot.last - 1);
    slot.last = rank + 1;
    unsigned char bytes[5];
    std::uint16_t n = 0;
    for (std::uint32_t v = gap;; v >>= 7) {
        if (v < 0x80) {
            bytes[n++] = static_cast<unsigned char>(v);
            break;
        }
        bytes[n++] = static_cast<unsigned char>((v & 0x7F) | 0x80);
    }
    std::uint16_t used, capacity;
    if (slot.head == 0) {
        if (slot.used + n <= kInline) {
            for (std::uint16_t i = 0; i < n; ++i)
                slot.gaps[slot.used + i] = bytes[i];
            slot.used = std::uint8_t(slot.used + n);
            return;
        }
        capacity = kFirstBlock;
        slot.head = slot.tail = newBlock(capacity);
        used = slot.used;
        std::memcpy(block(slot.tail) + kBlockHeader, slot.gaps, used);
    } else {
        used = tailUsed(slot);
        std::memcpy(&capacity, slot.gaps + 2, 2);
    }
    if (used + n > capacity) { // a varint never spans two blocks
        const std::uint32_t bigger =
            std::min<std::uint32_t>((capacity + kBlockHeader) * 2, kLargestBlock) - kBlockHeader;
        const std::uint32_t next = newBlock(bigger);
        unsigned char* full = block(slot.tail);
        std::memcpy(full, &next, 4);
        std::memcpy(full + 4, &used, 2);
        slot.tail = next;
        used = 0;
        capacity = std::uint16_t(bigger);
    }
    unsigned char* to = block(slot.tail) + kBlockHeader + used;
    for (std::uint16_t i = 0; i < n; ++i)
        to[i] = bytes[i];
    used = std::uint16_t(used + n);
    std::memcpy(slot.gaps, &used, 2);
    std::memcpy(slot.gaps + 2, &capacity, 2);
}

std::uint32_t Collector::slotOf(std::uint64_t packed, std::uint32_t length, std::uint64_t hash,
                                std::string_view key) {
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = std::size_t(hash) & mask;; i = (i + 1) & mask) {
        Slot& s = m_slots[i];
        if (s.length == 0) {
            s.length = std::uint8_t(length);
            if (length <= 8) {
                s.key = packed;
            } else {
                s.key = m_longKeys.size();
                m_longKeys.append(key.data(), key.size());
            }
            ++m_used;
            return std::uint32_t(i);
        }
        if (s.length == length &&
            (length <= 8 ? s.key == packed
                         : std::memcmp(m_longKeys.data() + s.key, key.data(), length) == 0))
            return std::uint32_t(i);
    }
}

void Collector::grow() {
    std::vector<Slot> old(m_slots.size() * 2, Slot{});
    old.swap(m_slots);
    const std::size_t mask = m_slots.size() - 1;
    for (const Slot& s : old) {
        if (s.length == 0)
            continue;
        const std::uint64_t h = s.length <= 8 ? hashShort(s.key, s.length)
                                              : hashLong(m_longKeys.data() + s.key, s.length);
        std::size_t i = std::size_t(h) & mask;
        while (m_slots[i].length != 0)
            i = (i + 1) & mask;
        m_slots[i] = s;
    }
}

void Collector::addCard(CardText& text, std::uint32_t rank) {
    m_pending.clear();
    m_cardLong.clear();
    text.forEachKey([this](const char* p, std::size_t n) {
        // Keys are a few characters; one absurdly long would be cut, not overflow.
        n = std::min<std::size_t>(n, 255);
        // Written field by field: a whole record built aside and copied in stalls on the copy.
        Pending& k = m_pending.emplace_back();
        k.length = std::uint32_t(n);
        if (n <= 8) {
            k.packed = pack(p, n);
            k.hash = hashShort(k.packed, n);
        } else {
            k.packed = 0;
            k.hash = hashLong(p, n);
            k.longAt = std::uint32_t(m_cardLong.size());
            m_cardLong.append(p, n);
        }
    });
    flushCard(rank);
}

void Collector::flushCard(std::uint32_t rank) {
    while ((m_used + m_pending.size()) * 10 > m_slots.size() * 7)
        grow();
    // The table is far bigger than the caches: a slot is asked for a few keys ahead of its
    // look-up, and the place its rank goes a few keys ahead of the append. Asking for all of
    // a card's hundreds at once only queues the processor behind its own requests.
    const std::size_t mask = m_slots.size() - 1;
    const std::size_t n = m_pending.size();
    for (std::size_t i = 0; i < std::min(n, kSlotsAhead); ++i)
        __builtin_prefetch(&m_slots[std::size_t(m_pending[i].hash) & mask]);
    for (std::size_t i = 0; i < n + kTailsAhead; ++i) {
        if (i < n) {
            if (i + kSlotsAhead < n)
                __builtin_prefetch(&m_slots[std::size_t(m_pending[i + kSlotsAhead].hash) & mask]);
            Pending& k = m_pending[i];
            const std::string_view bytes =
                k.length <= 8 ? std::string_view()
                              : std::string_view(m_cardLong.data() + k.longAt, k.length);
            k.slot = slotOf(k.packed, k.length, k.hash, bytes);
            const Slot& s = m_slots[k.slot];
            if (s.head != 0 && s.last != rank + 1)
                __builtin_prefetch(block(s.tail) + kBlockHeader + tailUsed(s), 1);
        }
        if (i >= kTailsAhead) {
            Slot& slot = m_slots[m_pending[i - kTailsAhead].slot];
            if (slot.last != rank + 1) // the card's keys repeat: it is filed once
                append(slot, rank);
        }
    }
}

std::string_view Collector::bytesOf(const Sorted& s, char* buffer) const {
    if (s.length > 8)
        return std::string_view(m_longKeys.data() + m_slots[s.slot].key, s.length);
    qToBigEndian<quint64>(s.prefix, buffer);
    return std::string_view(buffer, s.length);
}

bool Collector::less(const Sorted& a, const Sorted& b) const {
    if (a.prefix != b.prefix)
        return a.prefix < b.prefix;
    if (a.length <= 8 && b.length <= 8)
        return a.length < b.length;
    char x[8], y[8];
    return bytesOf(a, x) < bytesOf(b, y);
}

void Collector::sort() {
    m_order.clear();
    m_order.reserve(m_used);
    for (std::uint32_t i = 0; i < m_slots.size(); ++i) {
        const Slot& s = m_slots[i];
        if (s.length == 0)
            continue;
        const std::uint64_t prefix = s.length <= 8 ? s.key : pack(m_longKeys.data() + s.key, 8);
        m_order.push_back(Sorted{prefix, i, s.length});
    }
    std::sort(m_order.begin(), m_order.end(),
              [this](const Sorted& a, const Sorted& b) { return less(a, b); });
}

std::string_view Collector::key(std::size_t i, char* buffer) const {
    return bytesOf(m_order[i], buffer);
}

void Collector::ranks(std::size_t i, std::vector<std::uint32_t>& out) const {
    // Keys are read in key order, their slots and ranks all over memory: ask for the slots of
    // the keys to come, and for the first ranks of those whose slots have come.
    if (i + kSlotsAhead < m_order.size())
        __builtin_prefetch(&m_slots[m_order[i + kSlotsAhead].slot]);
    if (i + kTailsAhead < m_order.size()) {
        const Slot& next = m_slots[m_order[i + kTailsAhead].slot];
        if (next.head != 0)
            __builtin_prefetch(block(next.head));
    }
    const Slot& s = m_slots[m_order[i].slot];
    std::uint64_t at = 0;
    bool first = true;
    // The gaps were written here, whole: read without the checks of a stored posting.
    auto read = [&](const unsigned char* p, const unsigned char* end) {
        while (p < end) {
            std::uint64_t gap = 0;
            for (int shift = 0; p < end; shift += 7) {
                const unsigned char b = *p++;
                gap |= std::uint64_t(b & 0x7F) << shift;
                if (!(b & 0x80))
                    break;
            }
            at = first ? gap : at + gap;
            first = false;
            out.push_back(std::uint32_t(at));
        }
    };
    if (s.head == 0)
        read(s.gaps, s.gaps + s.used);
    for (std::uint32_t b = s.head; b != 0;) {
        const unsigned char* p = block(b);
        std::uint16_t used = tailUsed(s);
        if (b != s.tail)
            std::memcpy(&used, p + 4, 2);
        read(p + kBlockHeader, p + kBlockHeader + used);
        std::memcpy(&b, p, 4);
    }
}

std::size_t Collector::lowerBound(std::string_view key) const {
    const auto it = std::partition_point(m_order.begin(), m_order.end(), [&](const Sorted& s) {
        char buffer[8];
        return bytesOf(s, buffer) < key;
    });
    return std::size_t(it - m_order.begin());
}

} // namespace QuickFind::Build
