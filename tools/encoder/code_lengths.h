// Prefix code lengths for the stream's code tables, and the canonical codes
// the decoder derives from them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace lumo {

// The decoder's tables take code lengths of at most 15 bits.
inline constexpr int kMaxCodeLength = 15;

// Optimal code lengths of at most `max_length` bits for the given symbol
// frequencies (package-merge). Symbols of frequency 0 get length 0; a single
// used symbol gets length 1.
std::vector<uint8_t> limited_code_lengths(std::span<const uint64_t> frequencies,
                                          int max_length = kMaxCodeLength);
// The same into `lengths`, one per frequency (at most 1024).
void limited_code_lengths(std::span<const uint64_t> frequencies, std::span<uint8_t> lengths,
                          int max_length = kMaxCodeLength);

// The canonical code of each symbol: shorter codes first, codes of one length
// consecutive in symbol order, the first code all zeros.
std::vector<uint16_t> canonical_codes(std::span<const uint8_t> lengths);

// log2(x) in 1/65536 bit for x >= 1, from integers alone so that every build
// gives the same result; to about 1/1000 bit.
uint64_t log2_scaled(uint64_t x);

// Bits that `frequencies` cost with `lengths`.
uint64_t coded_bits(std::span<const uint64_t> frequencies, std::span<const uint8_t> lengths);

}  // namespace lumo
