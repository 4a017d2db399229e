// Fast reading of the input buffer's bits (payload/bit_input.h): up to 64
// stream bits at a time in a word, refilled without a branch. Positions are
// the same as BitInput's; a reader is loaded from its byte and bit offset
// and stores them back around anything that uses BitInput itself (refills
// of the buffer, the reference's table reader).
#pragma once

#include <cstdint>
#include <cstring>

#include "payload/bit_input.h"

namespace lumo {

// The stream's next bits, most significant first, at the top of a word.
using StreamBits = uint64_t;

// The value of the next `total` bits (1..32).
inline uint32_t top_bits(StreamBits bits, uint32_t total) { return uint32_t(bits >> (64 - total)); }

inline uint64_t load_be64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return __builtin_bswap64(v);
}

// `bits` holds `count` valid bits at its top and behind them stream bits or
// zeros; `next` is the next byte not yet counted in. A refill reads the
// eight bytes at `next`: at the loop's refill point (offset 8162, the word
// loaded at most 8 bytes on) that stays inside the buffer.
struct BitReader {
    const uint8_t* bytes;
    const uint8_t* next;
    StreamBits bits;
    uint32_t count;

    explicit BitReader(const BitInput& in) : bytes(in.bytes.data()) { load(in); }

    void load(const BitInput& in) {
        next = bytes + in.byte_offset + 7;
        bits = load_be64(bytes + in.byte_offset) << in.bit_offset;
        count = 56 - in.bit_offset;
    }
    void store(BitInput& in) const {
        const uint32_t position = bit_position();
        in.byte_offset = position >> 3;
        in.bit_offset = position & 7;
    }
    uint32_t bit_position() const { return uint32_t(next - bytes) * 8 - count; }
    uint32_t byte_offset() const { return bit_position() >> 3; }

    // At least 56 valid bits after it.
    void refill() {
        bits |= load_be64(next) >> count;
        next += (63 - count) >> 3;
        count |= 56;
    }
    void consume(uint32_t n) {
        bits <<= n;
        count -= n;
    }
    // The next n bits (1..32) as a number, consumed.
    uint32_t take(uint32_t n) {
        const uint32_t v = top_bits(bits, n);
        consume(n);
        return v;
    }
};

// Peeks load eight bytes at the byte offset; the padding behind the buffer
// keeps that inside the input object wherever the offset stands.
static_assert(BitInput::padding >= 8);

}  // namespace lumo
