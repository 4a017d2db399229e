// LZ-mode symbols with their extra bits, the match history they depend on,
// and what they cost under a set of code lengths.
#pragma once

#include <array>
#include <cassert>
#include <cstdint>
#include <span>
#include <vector>

#include "tools/encoder/stream_symbols.h"

namespace lumo {

// One main symbol with everything that follows it in the stream, in order:
// main code, `pre_bits` extra bits, the code of `sub` in the distance table
// (long matches) or the repeat-length table (old-distance matches), then
// `post_bits` extra bits.
struct LzSymbol {
    uint16_t main = 0;
    uint8_t sub = 0;
    uint8_t pre_bits = 0;
    uint8_t post_bits = 0;
    uint32_t pre_extra = 0;
    uint32_t post_extra = 0;

    bool is_long() const { return main >= kFirstLongMatch; }
    bool is_old() const { return main >= kFirstOldDistance && main < kFirstShortMatch; }
};

// The decoder's memory of earlier matches: the ring of the last four
// distances and the last length and distance, moved on by every match.
struct MatchHistory {
    std::array<uint32_t, 4> old{};
    uint32_t ring = 0;
    uint32_t last_length = 0;
    uint32_t last_distance = 0;

    // k = 0 is the newest distance (symbol 257), 3 the oldest (260).
    uint32_t old_distance(int k) const { return old[(ring - 1 - uint32_t(k)) & 3]; }
    void push(uint32_t length, uint32_t distance) {
        last_distance = distance;
        old[ring & 3] = distance;
        ++ring;
        last_length = length;
    }
};

enum class MatchKind : uint8_t { literal, repeat, old_distance, short_match, long_match };

inline LzSymbol literal_symbol(uint8_t byte) { return LzSymbol{byte, 0, 0, 0, 0, 0}; }
inline LzSymbol repeat_symbol() { return LzSymbol{kRepeatSymbol, 0, 0, 0, 0, 0}; }

inline LzSymbol long_symbol(uint32_t length, uint32_t distance) {
    const uint32_t lv = length - 3 - far_bonus(distance);
    const int ls = length_slot(lv);
    const int ds = distance_slot(distance - 1);
    return LzSymbol{uint16_t(kFirstLongMatch + ls), uint8_t(ds), kLengthSlots.extra_bits[size_t(ls)],
                    kDistanceSlots.extra_bits[size_t(ds)], lv - kLengthSlots.base[size_t(ls)],
                    distance - 1 - kDistanceSlots.base[size_t(ds)]};
}

inline LzSymbol old_distance_symbol(int k, uint32_t length, uint32_t distance) {
    const uint32_t lv = length - 2 - old_distance_bonus(distance);
    const int ls = length_slot(lv);
    return LzSymbol{uint16_t(kFirstOldDistance + k), uint8_t(ls), 0, kLengthSlots.extra_bits[size_t(ls)], 0,
                    lv - kLengthSlots.base[size_t(ls)]};
}

inline LzSymbol short_symbol(uint32_t distance) {
    const int ss = short_slot(distance - 1);
    return LzSymbol{uint16_t(kFirstShortMatch + ss), 0, 0, kShortSlots.extra_bits[size_t(ss)], 0,
                    distance - 1 - kShortSlots.base[size_t(ss)]};
}

// Appends the symbol that codes a match of `kind` and moves `history` on.
inline void emit_match(MatchKind kind, int k, uint32_t length, uint32_t distance, uint8_t byte,
                MatchHistory& history, std::vector<LzSymbol>& out) {
    switch (kind) {
    case MatchKind::literal:
        out.push_back(literal_symbol(byte));
        return;
    case MatchKind::repeat:
        assert(length == history.last_length && distance == history.last_distance);
        out.push_back(repeat_symbol());
        break;
    case MatchKind::old_distance:
        assert(history.old_distance(k) == distance);
        assert(length >= min_old_length(distance) && length <= max_old_length(distance));
        out.push_back(old_distance_symbol(k, length, distance));
        break;
    case MatchKind::short_match:
        assert(length == 2 && distance >= 1 && distance <= 256);
        out.push_back(short_symbol(distance));
        break;
    case MatchKind::long_match:
        assert(length >= min_long_length(distance) && length <= max_long_length(distance));
        out.push_back(long_symbol(length, distance));
        break;
    }
    history.push(length, distance);
}

// Symbol counts of the three LZ-mode tables.
struct LzHistogram {
    std::array<uint64_t, kMainSymbols> main{};
    std::array<uint64_t, kDistanceSymbols> distance{};
    std::array<uint64_t, kLengthSymbols> repeat_length{};

    void add(const LzSymbol& s) {
        ++main[s.main];
        if (s.is_long()) ++distance[s.sub];
        if (s.is_old()) ++repeat_length[s.sub];
    }
    void add(const LzHistogram& other) {
        for (size_t i = 0; i < main.size(); ++i) main[i] += other.main[i];
        for (size_t i = 0; i < distance.size(); ++i) distance[i] += other.distance[i];
        for (size_t i = 0; i < repeat_length.size(); ++i) repeat_length[i] += other.repeat_length[i];
    }
};

// Extra bits of a run of symbols (they do not depend on the tables).
inline uint64_t extra_bits(std::span<const LzSymbol> symbols) {
    uint64_t bits = 0;
    for (const LzSymbol& s : symbols) bits += uint64_t(s.pre_bits) + s.post_bits;
    return bits;
}

// Symbol prices in 1/16 bit, from code lengths or estimates.
struct LzCosts {
    static constexpr uint32_t kUnit = 16;
    std::array<uint32_t, kMainSymbols> main{};
    std::array<uint32_t, kDistanceSymbols> distance{};
    std::array<uint32_t, kLengthSymbols> repeat_length{};

    static LzCosts estimate();
    // The code lengths of the counted symbols: what the lazy parse weighs.
    static LzCosts from_code_lengths(const LzHistogram& histogram);
    // What an ideal code would spend on each counted symbol, at least the one
    // bit a prefix code must. Finer than whole code lengths, these steer the
    // cost-driven parse towards the choices that were frequent, which the
    // next code then makes cheaper still.
    static LzCosts from_frequencies(const LzHistogram& histogram);

    uint32_t literal(uint8_t byte) const { return main[byte]; }
    uint32_t repeat() const { return main[kRepeatSymbol]; }
    uint32_t short_match(uint32_t dist) const {
        const int ss = short_slot(dist - 1);
        return main[size_t(kFirstShortMatch + ss)] + kUnit * kShortSlots.extra_bits[size_t(ss)];
    }
    uint32_t long_match(uint32_t length, uint32_t dist) const {
        const int ls = length_slot(length - 3 - far_bonus(dist));
        const int ds = distance_slot(dist - 1);
        return main[size_t(kFirstLongMatch + ls)] + distance[size_t(ds)] +
               kUnit * (kLengthSlots.extra_bits[size_t(ls)] + kDistanceSlots.extra_bits[size_t(ds)]);
    }
    uint32_t old_match(int k, uint32_t length, uint32_t dist) const {
        const int ls = length_slot(length - 2 - old_distance_bonus(dist));
        return main[size_t(kFirstOldDistance + k)] + repeat_length[size_t(ls)] +
               kUnit * kLengthSlots.extra_bits[size_t(ls)];
    }
};

}  // namespace lumo
