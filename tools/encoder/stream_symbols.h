// The symbol alphabets of the packed stream as the encoder sees them: which
// symbol and which extra bits stand for a literal, a match or a switch.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "payload/audio_predictor.h"

namespace lumo {

inline constexpr uint32_t kWindowSize = 1u << 20;

// Main table (LZ mode).
inline constexpr int kMainSymbols = 298;
inline constexpr int kRepeatSymbol = 256;      // last length, last distance
inline constexpr int kFirstOldDistance = 257;  // 257 newest .. 260 oldest
inline constexpr int kFirstShortMatch = 261;   // length 2, distances 1..256
inline constexpr int kLzSwitchSymbol = 269;
inline constexpr int kFirstLongMatch = 270;
inline constexpr int kDistanceSymbols = 48;
inline constexpr int kLengthSymbols = 28;
static_assert(kFirstLongMatch + kLengthSymbols == kMainSymbols);

// Audio tables, one per channel.
inline constexpr int kAudioSymbols = 257;
inline constexpr int kAudioSwitchSymbol = 256;
inline constexpr int kMaxChannels = max_audio_channels;  // the decoder's own bound

// Code-length blocks.
inline constexpr int kBitLengthSymbols = 19;
inline constexpr int kLzTableSize = kMainSymbols + kDistanceSymbols + kLengthSymbols;
static_assert(kLzTableSize == 374);
inline constexpr int kLengthAreaSize = kAudioSymbols * kMaxChannels;

struct SlotTable {
    std::array<uint8_t, 48> extra_bits{};
    std::array<uint32_t, 48> base{};
};

// base[0] = 0 and base[i + 1] = base[i] + 2^extra_bits[i].
constexpr SlotTable make_slots(const uint8_t* bits, int count) {
    SlotTable t{};
    uint32_t base = 0;
    for (int i = 0; i < count; ++i) {
        t.extra_bits[size_t(i)] = bits[i];
        t.base[size_t(i)] = base;
        base += 1u << bits[i];
    }
    return t;
}

inline constexpr uint8_t kLengthBits[kLengthSymbols] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                                        2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
inline constexpr uint8_t kDistanceBits[kDistanceSymbols] = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10,
    11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
inline constexpr uint8_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

inline constexpr SlotTable kLengthSlots = make_slots(kLengthBits, kLengthSymbols);
inline constexpr SlotTable kDistanceSlots = make_slots(kDistanceBits, kDistanceSymbols);
inline constexpr SlotTable kShortSlots = make_slots(kShortBits, 8);
static_assert(kLengthSlots.base[27] == 224);
static_assert(kDistanceSlots.base[47] + (1u << 16) == kWindowSize);
static_assert(kShortSlots.base[7] + (1u << 6) == 256);

// Slot of a length value 0..255 (length minus its constant and adjustments).
inline int length_slot(uint32_t value) {
    static constexpr auto table = [] {
        std::array<uint8_t, 256> t{};
        int slot = 0;
        for (uint32_t v = 0; v < 256; ++v) {
            while (slot + 1 < kLengthSymbols && kLengthSlots.base[size_t(slot + 1)] <= v) ++slot;
            t[v] = uint8_t(slot);
        }
        return t;
    }();
    return table[value];
}

// Slot of a distance value 0..2^20 - 1 (distance minus one).
inline int distance_slot(uint32_t value) {
    if (value < 4) return int(value);
    if (value >= 131072) return 32 + int(value >> 16);
    const int h = 31 - std::countl_zero(value);
    return 2 * h + int((value >> (h - 1)) & 1);
}

// Slot of a short distance value 0..255 (distance minus one).
inline int short_slot(uint32_t value) {
    static constexpr auto table = [] {
        std::array<uint8_t, 256> t{};
        int slot = 0;
        for (uint32_t v = 0; v < 256; ++v) {
            while (slot + 1 < 8 && kShortSlots.base[size_t(slot + 1)] <= v) ++slot;
            t[v] = uint8_t(slot);
        }
        return t;
    }();
    return table[value];
}

// Lengths grow by one at each of these distances; matches with an old
// distance also at 257. The shortest codable match grows alike.
inline uint32_t far_bonus(uint32_t distance) {
    return uint32_t(distance >= 0x2000) + uint32_t(distance >= 0x40000);
}
inline uint32_t old_distance_bonus(uint32_t distance) {
    return uint32_t(distance >= 0x101) + far_bonus(distance);
}

// Shortest and longest lengths of a long match (270..297) at `distance`.
inline uint32_t min_long_length(uint32_t distance) { return 3 + far_bonus(distance); }
inline uint32_t max_long_length(uint32_t distance) { return 258 + far_bonus(distance); }
// The same for a match with an old distance (257..260).
inline uint32_t min_old_length(uint32_t distance) { return 2 + old_distance_bonus(distance); }
inline uint32_t max_old_length(uint32_t distance) { return 257 + old_distance_bonus(distance); }

inline constexpr uint32_t kMaxMatchLength = 260;

}  // namespace lumo
