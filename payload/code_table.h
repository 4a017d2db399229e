// Canonical prefix-code tables, built from lists of code lengths, and the
// decoding of one symbol with such a table.
#pragma once

#include <array>
#include <cstdint>

#include "payload/bit_input.h"

namespace lumo {

inline constexpr uint32_t max_code_length = 15;
inline constexpr uint32_t max_alphabet_size = 298;  // the main alphabet, the largest

struct CodeTable {
    uint32_t symbol_count = 0;
    // limit[i]: the 16-bit left-justified code value at which codes longer
    // than i begin, capped at 0xFFFF; limit[0] = 0. Never decreasing.
    std::array<uint32_t, 16> limit{};
    // first_position[i]: where the symbols of code length i begin in the list.
    std::array<uint32_t, 16> first_position{};
    // The symbols that have a code, by code length, then by value. A build
    // does not clear it: positions that no symbol fills keep what they held,
    // 0 in a fresh table.
    std::array<uint16_t, max_alphabet_size> symbol_list{};
};

// Builds `table` from `count` code lengths (count <= max_alphabet_size). Only
// the low four bits of each length count; length 0 means no code.
void build_code_table(const uint8_t* lengths, uint32_t count, CodeTable& table);

// The code length of a peeked value v (its lowest bit clear): the smallest
// i of 1..14 with v < limit[i], else 15. Four comparisons, from limit[8].
inline uint32_t code_length_of(const CodeTable& table, uint32_t v) {
    const auto& limit = table.limit;
    uint32_t i = v < limit[8] ? 1 : 9;     // the length lies in i..i+7 (at most 15)
    if (v >= limit[i + 3]) i += 4;         // in i..i+3
    if (v >= limit[i + 1]) i += 2;         // in i..i+1
    if (i < 15 && v >= limit[i]) i += 1;   // limit[15] is never looked at
    return i;
}

// The position in the symbol list that a peeked value stands for.
//
// Format note: the lowest of the 16 peeked bits is not looked at, and a
// position at or past the symbol count (an over-subscribed or incomplete
// code) reads position 0.
inline uint32_t symbol_position(const CodeTable& table, uint32_t v, uint32_t length) {
    const uint32_t position =
        table.first_position[length] + ((v - table.limit[length - 1]) >> (16 - length));
    return position < table.symbol_count ? position : 0;
}

// Reads one prefix code and answers its symbol.
inline uint32_t decode_symbol(BitInput& in, const CodeTable& table) {
    const uint32_t v = in.peek_bits() & 0xFFFE;
    const uint32_t length = code_length_of(table, v);
    in.skip_bits(length);
    return table.symbol_list[symbol_position(table, v, length)];
}

}  // namespace lumo
