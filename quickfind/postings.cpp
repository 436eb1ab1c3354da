#include "postings.h"

#include <algorithm>
#include <cstring>

namespace QuickFind::Postings {

namespace {

// The first byte holds the format (three bits) and the Rice parameter or, for a few values,
// their number (five bits).
enum Format : unsigned char { kRice = 0, kBitmap = 1, kMissing = 2, kFew = 3 };
constexpr std::size_t kMaxFew = 31;

class BitReader {
public:
    BitReader(const unsigned char* p, const unsigned char* end)
        : m_p(p)
        , m_end(end) {}
    bool bit(int& b) {
        if (!fill(1))
            return false;
        b = int(m_acc & 1);
        m_acc >>= 1;
        --m_have;
        return true;
    }
    /// A run of ones ended by a zero: the run's length.
    bool unary(std::uint64_t& q) {
        q = 0;
        for (;;) {
            if (!fill(1))
                return false;
            const std::uint64_t valid =
                m_have == 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << m_have) - 1;
            const std::uint64_t inverted = ~m_acc & valid;
            if (inverted) {
                const int run = __builtin_ctzll(inverted);
                q += std::uint64_t(run);
                m_acc = run + 1 >= 64 ? 0 : m_acc >> (run + 1);
                m_have -= run + 1;
                return true;
            }
            q += std::uint64_t(m_have);
            m_acc = 0;
            m_have = 0;
        }
    }
    bool bits(int n, std::uint64_t& v) {
        if (n == 0) {
            v = 0;
            return true;
        }
        if (!fill(n))
            return false;
        v = m_acc & ((std::uint64_t(1) << n) - 1);
        m_acc >>= n;
        m_have -= n;
        return true;
    }

private:
    bool fill(int need) {
        while (m_have <= 56 && m_p < m_end) {
            m_acc |= std::uint64_t(*m_p++) << m_have;
            m_have += 8;
        }
        return m_have >= need;
    }
    const unsigned char* m_p;
    const unsigned char* m_end;
    std::uint64_t m_acc = 0;
    int m_have = 0;
};

// The Rice parameter for `count` gaps summing to about `span`.
// In integers only: the reader of a few values works it out again, on any machine.
int riceParameter(std::uint64_t span, std::uint64_t count) {
    if (count == 0 || span <= count)
        return 0;
    const std::uint64_t scaled = (span - count) * 693 / (count * 1000); // mean gap × ln 2
    return scaled == 0 ? 0 : std::min(63 - __builtin_clzll(scaled), 30);
}

std::uint64_t riceBits(const std::uint32_t* v, std::size_t n, int k) {
    std::uint64_t bits = 0;
    std::uint32_t prev = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t gap = i == 0 ? v[0] : v[i] - prev - 1;
        bits += (gap >> k) + 1 + std::uint64_t(k);
        prev = v[i];
    }
    return bits;
}

void riceEncode(const std::uint32_t* v, std::size_t n, int k, std::uint64_t bits,
                std::string& out) {
    const std::size_t start = out.size();
    out.resize(start + std::size_t((bits + 7) / 8) + 8); // room for whole-word stores
    auto* p = reinterpret_cast<unsigned char*>(out.data()) + start;
    std::uint64_t acc = 0;
    int used = 0;
    // At most 56 bits at a time, so that the accumulator never overflows.
    auto put = [&](std::uint64_t value, int count) {
        acc |= value << used;
        used += count;
        std::memcpy(p, &acc, 8);
        const int whole = used >> 3;
        p += whole;
        acc = whole == 8 ? 0 : acc >> (whole * 8);
        used &= 7;
    };
    const std::uint64_t lowMask = (std::uint64_t(1) << k) - 1;
    std::uint32_t prev = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t gap = i == 0 ? v[0] : v[i] - prev - 1;
        prev = v[i];
        std::uint64_t q = gap >> k;
        while (q >= 32) {
            put(0xFFFFFFFFull, 32);
            q -= 32;
        }
        const std::uint64_t low = gap & lowMask;
        if (int(q) + 1 + k <= 56) {
            put(((std::uint64_t(1) << q) - 1) | (low << (q + 1)), int(q) + 1 + k);
        } else {
            put((std::uint64_t(1) << q) - 1, int(q) + 1);
            put(low, k);
        }
    }
    if (used > 0)
        *p++ = static_cast<unsigned char>(acc);
    out.resize(std::size_t(p - reinterpret_cast<unsigned char*>(out.data())));
}

std::size_t varintSize(std::uint64_t v) {
    std::size_t n = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++n;
    }
    return n;
}

template <class Emit>
bool riceValues(const unsigned char* p, const unsigned char* end, int k, std::uint64_t count,
                std::uint32_t universe, Emit emit) {
    if (count > universe)
        return false;
    BitReader r(p, end);
    std::uint64_t value = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint64_t q = 0, low = 0;
        if (!r.unary(q) || !r.bits(k, low))
            return false;
        const std::uint64_t gap = (q << k) | low;
        value = i == 0 ? gap : value + gap + 1;
        if (value >= universe)
            return false;
        emit(std::uint32_t(value));
    }
    return true;
}

template <class Emit>
bool riceDecode(const unsigned char* p, const unsigned char* end, int k, std::uint32_t universe,
                Emit emit) {
    std::uint64_t count = 0;
    return getVarint(p, end, count) && riceValues(p, end, k, count, universe, emit);
}

template <class Emit>
bool decodeWith(const unsigned char* data, std::size_t size, std::uint32_t universe, Emit emit) {
    if (size == 0)
        return false;
    const unsigned char* p = data + 1;
    const unsigned char* end = data + size;
    const int format = data[0] >> 5;
    const int k = data[0] & 0x1F;
    switch (format) {
    case kRice:
        return riceDecode(p, end, k, universe, emit);
    case kFew: // k is the number of values here
        return k > 0 && riceValues(p, end, riceParameter(universe, std::uint64_t(k)),
                                   std::uint64_t(k), universe, emit);
    case kBitmap:
        for (std::size_t byte = 0; p + byte < end; ++byte) {
            unsigned bits = p[byte];
            while (bits) {
                const std::uint32_t v =
                    std::uint32_t(byte * 8) + std::uint32_t(__builtin_ctz(bits));
                if (v >= universe)
                    return false;
                emit(v);
                bits &= bits - 1;
            }
        }
        return true;
    case kMissing: {
        std::uint32_t next = 0;
        const bool ok = riceDecode(p, end, k, universe, [&](std::uint32_t missing) {
            for (; next < missing; ++next)
                emit(next);
            next = missing + 1;
        });
        if (!ok)
            return false;
        for (; next < universe; ++next)
            emit(next);
        return true;
    }
    default:
        return false;
    }
}

} // namespace

void putVarint(std::string& out, std::uint64_t v) {
    while (v >= 0x80) {
        out += char((v & 0x7F) | 0x80);
        v >>= 7;
    }
    out += char(v);
}

bool getVarint(const unsigned char*& p, const unsigned char* end, std::uint64_t& v) {
    v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (p >= end)
            return false;
        const unsigned char b = *p++;
        v |= std::uint64_t(b & 0x7F) << shift;
        if (!(b & 0x80))
            return true;
    }
    return false;
}

void encode(const std::uint32_t* values, std::size_t count, std::uint32_t universe,
            std::string& out) {
    const std::uint32_t last = count ? values[count - 1] : 0;
    const int k = riceParameter(std::uint64_t(last) + 1, count);
    const std::uint64_t valueBits = riceBits(values, count, k);
    const std::uint64_t riceBytes = varintSize(count) + (valueBits + 7) / 8;
    const std::uint64_t bitmapBytes = count ? last / 8 + 1 : 0;

    // The values left out, when they are fewer.
    std::vector<std::uint32_t> missing;
    std::uint64_t missingBytes = UINT64_MAX, missingBits = 0;
    int missingK = 0;
    if (count > universe / 2) {
        missing.reserve(universe - count);
        std::size_t i = 0;
        for (std::uint32_t v = 0; v < universe; ++v) {
            if (i < count && values[i] == v)
                ++i;
            else
                missing.push_back(v);
        }
        missingK = riceParameter(universe, missing.size());
        missingBits = riceBits(missing.data(), missing.size(), missingK);
        missingBytes = varintSize(missing.size()) + (missingBits + 7) / 8;
    }

    // A few values: their number in the first byte, the parameter known from it.
    std::uint64_t fewBytes = UINT64_MAX, fewBits = 0;
    const int fewK = riceParameter(universe, count);
    if (count >= 1 && count <= kMaxFew) {
        fewBits = riceBits(values, count, fewK);
        fewBytes = (fewBits + 7) / 8;
    }

    if (fewBytes <= riceBytes && fewBytes <= bitmapBytes) {
        out += char((kFew << 5) | int(count));
        riceEncode(values, count, fewK, fewBits, out);
    } else if (missingBytes < riceBytes && missingBytes < bitmapBytes) {
        out += char((kMissing << 5) | missingK);
        putVarint(out, missing.size());
        riceEncode(missing.data(), missing.size(), missingK, missingBits, out);
    } else if (bitmapBytes < riceBytes) {
        out += char(kBitmap << 5);
        const std::size_t at = out.size();
        out.append(std::size_t(bitmapBytes), '\0');
        for (std::size_t i = 0; i < count; ++i)
            out[at + values[i] / 8] = char(out[at + values[i] / 8] | (1 << (values[i] % 8)));
    } else {
        out += char((kRice << 5) | k);
        putVarint(out, count);
        riceEncode(values, count, k, valueBits, out);
    }
}

bool decode(const unsigned char* data, std::size_t size, std::uint32_t universe,
            std::vector<std::uint32_t>& out) {
    return decodeWith(data, size, universe, [&](std::uint32_t v) { out.push_back(v); });
}

bool decodeBits(const unsigned char* data, std::size_t size, std::uint32_t universe,
                std::uint32_t offset, std::uint64_t* bits) {
    return decodeWith(data, size, universe, [&](std::uint32_t v) {
        const std::uint32_t at = v + offset;
        bits[at >> 6] |= std::uint64_t(1) << (at & 63);
    });
}

} // namespace QuickFind::Postings
