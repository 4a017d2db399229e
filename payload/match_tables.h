// The constant tables of match lengths and distances. Entry i of each holds
// a base and a number of extra bits; the value is base + a per-use constant
// + the extra bits read as an unsigned number. In every table base[0] = 0 and
// base[i + 1] = base[i] + 2^(extra bits of entry i).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace lumo {

struct MatchSlot {
    uint32_t base;
    uint32_t extra_bits;
};

template <size_t N>
constexpr bool bases_follow_extra_bits(const std::array<MatchSlot, N>& t) {
    if (t[0].base != 0) return false;
    for (size_t i = 0; i + 1 < N; ++i)
        if (t[i + 1].base != t[i].base + (1u << t[i].extra_bits)) return false;
    return true;
}

inline constexpr uint32_t window_size = 0x100000;  // 1 MiB
inline constexpr uint32_t window_mask = window_size - 1;

inline constexpr auto length_slots = [] {
    std::array<MatchSlot, 28> t{};
    for (uint32_t i = 0; i < 28; ++i) t[i].extra_bits = i < 8 ? 0 : (i - 4) / 4;
    for (uint32_t i = 1; i < 28; ++i) t[i].base = t[i - 1].base + (1u << t[i - 1].extra_bits);
    return t;
}();
static_assert(length_slots[8].base == 8 && length_slots[9].base == 10);
static_assert(length_slots[27].base == 224 && length_slots[27].extra_bits == 5);

inline constexpr auto distance_slots = [] {
    std::array<MatchSlot, 48> t{};
    for (uint32_t i = 0; i < 48; ++i) t[i].extra_bits = i < 4 ? 0 : i < 34 ? (i - 2) / 2 : 16;
    for (uint32_t i = 1; i < 48; ++i) t[i].base = t[i - 1].base + (1u << t[i - 1].extra_bits);
    return t;
}();
static_assert(distance_slots[33].base == 98304 && distance_slots[33].extra_bits == 15);
static_assert(distance_slots[34].base == 131072 && distance_slots[47].base == 983040);
// The longest distance reaches back over the whole window.
static_assert(distance_slots[47].base + (1u << distance_slots[47].extra_bits) == window_size);

inline constexpr std::array<MatchSlot, 8> short_distance_slots = {
    {{0, 2}, {4, 2}, {8, 3}, {16, 4}, {32, 5}, {64, 6}, {128, 6}, {192, 6}}};
static_assert(bases_follow_extra_bits(short_distance_slots));
static_assert(short_distance_slots[7].base + (1u << 6) == 256);

// Main symbols of the LZ mode.
inline constexpr uint32_t repeat_match_symbol = 256;
inline constexpr uint32_t first_old_distance_symbol = 257;  // 257..260, newest first
inline constexpr uint32_t first_short_match_symbol = 261;   // 261..268
inline constexpr uint32_t lz_table_switch_symbol = 269;
inline constexpr uint32_t first_long_match_symbol = 270;    // 270..297
inline constexpr uint32_t main_alphabet_size = 298;
static_assert(first_long_match_symbol + length_slots.size() == main_alphabet_size);

// Audio symbols: 0..255 prediction errors, 256 the table switch.
inline constexpr uint32_t audio_table_switch_symbol = 256;
inline constexpr uint32_t audio_alphabet_size = 257;

// Lengths gain one unit at each of these distances, so that far matches,
// which cost more to code, are never shorter than worth it.
inline constexpr uint32_t far_distance_1 = 0x101;    // old-distance matches only
inline constexpr uint32_t far_distance_2 = 0x2000;
inline constexpr uint32_t far_distance_3 = 0x40000;

}  // namespace lumo
