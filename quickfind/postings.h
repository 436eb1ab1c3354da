#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/// Sorted lists of small numbers (the positions of cards within a chunk), packed tight:
/// Rice-coded gaps, a bitmap, or the numbers left out, whichever is shortest.
namespace QuickFind::Postings {

/// Appends the packed form of `values` (ascending, each below `universe`) to `out`.
void encode(const std::uint32_t* values, std::size_t count, std::uint32_t universe,
            std::string& out);

/// Appends the values packed in [data, data + size) to `out`; false when they are malformed.
bool decode(const unsigned char* data, std::size_t size, std::uint32_t universe,
            std::vector<std::uint32_t>& out);

/// Sets bit `offset + v` in `bits` for every packed value v; false when they are malformed.
bool decodeBits(const unsigned char* data, std::size_t size, std::uint32_t universe,
                std::uint32_t offset, std::uint64_t* bits);

/// Variable-length unsigned integers, seven bits a byte.
void putVarint(std::string& out, std::uint64_t v);
/// Reads one at `p` (before `end`); false when it runs past the end.
bool getVarint(const unsigned char*& p, const unsigned char* end, std::uint64_t& v);

} // namespace QuickFind::Postings
