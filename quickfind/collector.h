#pragma once

#include "cardtext.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace QuickFind::Build {

/// Key → ranks of the cards having it, for the cards of one chunk that one thread files.
///
/// A chunk gives some thirty million (key, card) pairs over a few hundred thousand keys, so
/// each pair must cost about one look at memory: a key of up to eight bytes (nearly all) is
/// kept as a number in its slot, and the first few ranks of a key live in the slot too,
/// the rest in blocks of a shared arena. A card's repeated keys are dropped at the slot.
class Collector {
public:
    Collector();
    ~Collector();
    Collector(const Collector&) = delete;
    Collector& operator=(const Collector&) = delete;

    /// Files every key of `text` under `rank`; ranks come ascending.
    void addCard(CardText& text, std::uint32_t rank);

    /// Puts the keys in key order, for the calls below.
    void sort();
    std::size_t size() const { return m_order.size(); }
    /// Key `i` in key order, in `buffer` (eight bytes) or in the collector.
    std::string_view key(std::size_t i, char* buffer) const;
    /// Appends the ranks of key `i` in key order to `out`, ascending.
    void ranks(std::size_t i, std::vector<std::uint32_t>& out) const;
    /// The first key in key order not below `key`.
    std::size_t lowerBound(std::string_view key) const;

    /// Forgets every key, keeping the memory for the next chunk.
    void clear();

private:
    struct Slot;
    struct Sorted {
        std::uint64_t prefix; // the first eight bytes, as the keys compare
        std::uint32_t slot;
        std::uint32_t length;
    };
    std::uint32_t slotOf(std::uint64_t packed, std::uint32_t length, std::uint64_t hash,
                         std::string_view key);
    void append(Slot& slot, std::uint32_t rank);
    static std::uint16_t tailUsed(const Slot& slot);
    std::uint32_t newBlock(std::uint32_t capacity);
    unsigned char* block(std::uint32_t at) const;
    void grow();
    std::string_view bytesOf(const Sorted& s, char* buffer) const;
    bool less(const Sorted& a, const Sorted& b) const;
    void flushCard(std::uint32_t rank);

    std::vector<Slot> m_slots;
    std::size_t m_used = 0;
    std::string m_longKeys; // keys over eight bytes, one after another
    std::vector<std::unique_ptr<unsigned char[]>> m_pages;
    std::size_t m_page = 0;
    std::uint32_t m_pageUsed = 0;
    std::vector<Sorted> m_order;

    // The current card's keys, looked up together so that their slots load at once.
    struct Pending {
        std::uint64_t packed;
        std::uint64_t hash;
        std::uint32_t length;
        std::uint32_t longAt; // in m_cardLong, for a long key
        std::uint32_t slot;
    };
    std::vector<Pending> m_pending;
    std::string m_cardLong;
};

} // namespace QuickFind::Build
