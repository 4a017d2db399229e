// Lookup tables of the fast decoder, indexed by the next stream bits: one
// read answers the symbol and how many bits it takes, and for matches also
// the value of its length or distance slot with the extra bits folded in.
//
// Every entry stands for what the reference decode (code_length_of and
// symbol_position) makes of all 16-bit peeks that share the index's bits,
// invalid codes included; codes longer than the index are not in the table
// and take the reference way.
//
// Folding extra bits in: a code of length L followed by e extra bits is the
// number v = (code << e) + extra in the stream's next L + e bits, so a slot's
// value, base + constant + extra, is v + (base + constant - (code << e)).
// The entry keeps that sum's second term, which depends only on the code.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "payload/bit_reader.h"
#include "payload/code_table.h"
#include "payload/match_tables.h"

namespace lumo {

// A code longer than a table's index: its length and symbol the reference way.
struct LongCode {
    uint32_t symbol, length, code;
};
inline LongCode decode_long_code(const CodeTable& table, StreamBits bits) {
    const uint32_t v = uint32_t(bits >> 48) & 0xFFFE;  // the lowest peeked bit is not looked at
    const uint32_t length = code_length_of(table, v);
    return {table.symbol_list[symbol_position(table, v, length)], length, v >> (16 - length)};
}

// Fills lookup[0 .. 2^Bits) with entry_of(symbol, length, code) for every
// code of length up to Bits, each in the 2^(Bits - length) slots its prefix
// covers, and `miss` in the slots of longer codes.
//
// Codes of length L take the peeks [limit[L - 1], limit[L]). Uncapped limits
// of lengths up to Bits are multiples of 2^(16 - L), so those ranges fall on
// code boundaries. A limit capped at 0xFFFF stands for 0x10000: the lowest
// bit of a peek is cleared, so no peek reaches 0xFFFF.
template <uint32_t Bits, typename Entry, typename EntryOf>
void build_lookup(const CodeTable& t, std::array<Entry, (1u << Bits)>& lookup, Entry miss,
                  EntryOf entry_of) {
    constexpr uint32_t shift = 16 - Bits;
    const auto bound = [&](uint32_t i) { return t.limit[i] == 0xFFFF ? 0x10000u : t.limit[i]; };
    uint32_t p = 0;
    for (uint32_t length = 1; length <= Bits; ++length) {
        const uint32_t low = bound(length - 1);
        const uint32_t end = bound(length) >> shift;
        const uint32_t step = 1u << (Bits - length);
        for (; p < end; p += step) {
            const uint32_t position =
                t.first_position[length] + (((p << shift) - low) >> (16 - length));
            const uint32_t symbol = t.symbol_list[position < t.symbol_count ? position : 0];
            std::fill_n(lookup.data() + p, step, entry_of(symbol, length, p >> (Bits - length)));
        }
    }
    std::fill(lookup.begin() + p, lookup.end(), miss);
}

// Main symbols of the LZ mode. Entry layout:
//   bits 0..5   bits the symbol takes: its code, and for long and short
//               matches the extra bits behind it; 0 for a longer code
//   bits 6..8   kind
//   bits 9..31  signed: the literal byte; for long matches the length and
//               for short matches the distance, less (code << extra bits);
//               the old distance's number 1..4
namespace main_entry {
inline constexpr uint32_t main_bits = 10;
enum Kind : uint32_t {
    literal = 0,
    long_match = 1,
    short_match = 2,
    old_distance = 3,
    repeat = 4,
    table_switch = 5,
    miss = 7,
};
inline constexpr uint32_t miss_entry = miss << 6;

inline uint32_t total(uint32_t entry) { return entry & 63; }
inline uint32_t kind(uint32_t entry) { return (entry >> 6) & 7; }
inline int32_t payload(uint32_t entry) { return int32_t(entry) >> 9; }
inline bool is_literal(uint32_t entry) { return (entry & (7u << 6)) == 0; }

inline uint32_t make(uint32_t symbol, uint32_t length, uint32_t code) {
    const auto pack = [](uint32_t total, Kind kind, int32_t payload) {
        return total | uint32_t(kind) << 6 | uint32_t(payload) << 9;
    };
    const auto folded = [&](Kind kind, const MatchSlot& slot, uint32_t constant) {
        return pack(length + slot.extra_bits, kind,
                    int32_t(slot.base + constant) - int32_t(code << slot.extra_bits));
    };
    if (symbol < repeat_match_symbol) return pack(length, literal, int32_t(symbol));
    if (symbol >= first_long_match_symbol)
        return folded(long_match, length_slots[symbol - first_long_match_symbol], 3);
    if (symbol == repeat_match_symbol) return pack(length, repeat, 0);
    if (symbol < first_short_match_symbol)
        return pack(length, old_distance, int32_t(symbol - repeat_match_symbol));
    if (symbol < lz_table_switch_symbol)
        return folded(short_match, short_distance_slots[symbol - first_short_match_symbol], 1);
    return pack(length, table_switch, 0);
}
}  // namespace main_entry
using MainLookup = std::array<uint32_t, (1u << main_entry::main_bits)>;

inline void build_main_lookup(const CodeTable& t, MainLookup& lookup) {
    build_lookup<main_entry::main_bits>(t, lookup, main_entry::miss_entry, main_entry::make);
}

// The entry of the main symbol at the top of `bits`, also for long codes.
[[gnu::always_inline]] inline uint32_t main_entry_at(const CodeTable& table, const MainLookup& lookup,
                                                     StreamBits bits) {
    const uint32_t entry = lookup[bits >> (64 - main_entry::main_bits)];
    if (main_entry::kind(entry) != main_entry::miss) [[likely]]
        return entry;
    const LongCode c = decode_long_code(table, bits);
    return main_entry::make(c.symbol, c.length, c.code);
}

// Slot values: distances (base + 1 + extra) and the lengths of old-distance
// matches (base + 2 + extra). Entry layout:
//   bits 0..4   bits the code and its extra bits take (at most 10 + 16); 0
//               for a longer code
//   bits 5..31  signed: the value less (code << extra bits)
template <size_t Slots>
struct SlotLookup {
    static constexpr uint32_t bits = 10;
    std::array<uint32_t, (1u << bits)> entries;

    void build(const CodeTable& t, const std::array<MatchSlot, Slots>& slots, uint32_t constant) {
        build_lookup<bits>(t, entries, 0u, [&](uint32_t symbol, uint32_t length, uint32_t code) {
            // A table built for this alphabet lists no symbol past it.
            const MatchSlot& slot = slots[symbol];
            const int32_t rest = int32_t(slot.base + constant) - int32_t(code << slot.extra_bits);
            return (length + slot.extra_bits) | uint32_t(rest) << 5;
        });
    }
};

// The value at the top of `bits` and the bits it takes.
struct SlotValue {
    uint32_t value, total;
};
template <size_t Slots>
[[gnu::always_inline]] inline SlotValue slot_value_at(const CodeTable& table, const SlotLookup<Slots>& lookup,
                                                      const std::array<MatchSlot, Slots>& slots,
                                                      uint32_t constant, StreamBits bits) {
    const uint32_t entry = lookup.entries[bits >> (64 - SlotLookup<Slots>::bits)];
    const uint32_t total = entry & 31;
    if (total != 0) [[likely]]
        return {top_bits(bits, total) + uint32_t(int32_t(entry) >> 5), total};
    const LongCode c = decode_long_code(table, bits);
    const MatchSlot& slot = slots[c.symbol];
    const uint32_t extra = top_bits(bits, c.length + slot.extra_bits) & ((1u << slot.extra_bits) - 1);
    return {slot.base + constant + extra, c.length + slot.extra_bits};
}

// Audio symbols: the code length in bits 0..4, so that the entry itself
// can be the shift count, and the prediction error from bit 8 on; 0 for a
// longer code and for the table switch, which so take one rare path
// together.
using SymbolLookup = std::array<uint32_t, 1u << 10>;

inline uint32_t symbol_entry_length(uint32_t entry) { return entry & 63; }
inline uint32_t symbol_entry_symbol(uint32_t entry) { return entry >> 8; }

inline void build_symbol_lookup(const CodeTable& t, SymbolLookup& lookup) {
    build_lookup<10>(t, lookup, 0u, [](uint32_t symbol, uint32_t length, uint32_t) {
        return symbol == audio_table_switch_symbol ? 0 : length | symbol << 8;
    });
}

struct Decoded {
    uint32_t symbol, length;
};
[[gnu::always_inline]] inline Decoded symbol_at(const CodeTable& table, const SymbolLookup& lookup,
                                                StreamBits bits) {
    const uint32_t entry = lookup[bits >> (64 - 10)];
    if (entry != 0) [[likely]]
        return {symbol_entry_symbol(entry), symbol_entry_length(entry)};
    const LongCode c = decode_long_code(table, bits);
    return {c.symbol, c.length};
}

}  // namespace lumo
