// The input side of the packed stream: descrambling, the 8 KiB input buffer
// and bit fields read most significant bit first.
//
// State of the input:
//   read position, stream end   the stored bytes not yet descrambled
//   running key                 descrambling key of the next stored word
//   bytes[8192]                 descrambled stream bytes
//   byte_offset                 the byte that holds the next unread bit
//   bit_offset                  bits of that byte already consumed (0..7),
//                               counted from its most significant bit
//   fill_end                    valid bytes after the last fill (-1: none)
//   stored_end                  buffer offset one past the last stored byte
//                               in it; at or below 0 once refills have moved
//                               the stream's end out of the buffer
//
// Format note: the stream is never checked against its end. Once the stored
// bytes are used up, a refill still moves the last 32 bytes to the front and
// decoding reads on over the stale bytes behind them; only the container
// checks notice a short stream.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace lumo {

// The stored packed stream, handed over piece by piece, so that a reader
// never needs the whole of it at once: the installer reads its own file a
// piece at a time. Every piece but the last holds a multiple of four bytes,
// so that no scrambled word is split between two pieces.
class PackedFeed {
public:
    virtual ~PackedFeed() = default;
    // The next piece, valid until the next call; empty at the stream's end.
    virtual std::span<const uint8_t> next_piece() = 0;
};

inline constexpr uint32_t initial_key = 0x546F7669;
inline constexpr uint32_t key_increment = 0x6B2D;  // next key = stored word + this

inline constexpr uint32_t input_buffer_size = 8192;
inline constexpr uint32_t refill_keep = 32;  // bytes moved to the front by a refill
// The decoding loop refills past this byte offset; the table reader past the
// other two. Each keeps every peek of the step that follows inside the buffer.
inline constexpr uint32_t loop_refill_threshold = 8162;
inline constexpr uint32_t block_refill_threshold = 8167;
inline constexpr uint32_t length_refill_threshold = 8187;

struct BitInput {
    // The stored bytes at hand: the whole stream, or the feed's current piece.
    const uint8_t* read_position = nullptr;
    const uint8_t* stream_end = nullptr;
    PackedFeed* feed = nullptr;  // the pieces after the current one; none when null
    uint32_t running_key = initial_key;

    // Zero at the start, as a fresh buffer is: a stream shorter than the
    // buffer is followed by zero bytes. The padding behind the buffer is
    // never reached by the refill rules; it only makes sure that no peek,
    // whatever the stream, can read outside the object.
    static constexpr uint32_t padding = 16;
    std::array<uint8_t, input_buffer_size + padding> bytes{};
    uint32_t byte_offset = 0;
    uint32_t bit_offset = 0;
    int32_t fill_end = 0;
    // Refills that found no stored byte left (the decoders give up after a
    // number of them).
    uint32_t stale_refills = 0;
    int64_t stored_end = 0;

    // Point the input at a packed stream. The running key is left alone.
    void set_source(const uint8_t* begin, const uint8_t* end) {
        read_position = begin;
        stream_end = end;
        feed = nullptr;
    }
    void set_source(PackedFeed& pieces) {
        read_position = stream_end = nullptr;
        feed = &pieces;
    }

    // Descrambles up to `count` bytes (a multiple of four) into `destination`;
    // fewer at the stream end, -1 when no stored byte is left.
    int32_t read_packed(uint8_t* destination, uint32_t count);

    // The first fill: 8192 bytes at offset 0.
    void fill_input();
    // Moves the last 32 bytes to the front and reads 8160 behind them.
    void refill_input();

    // The next 16 bits, without consuming them.
    uint32_t peek_bits() const {
        const uint8_t* p = bytes.data() + byte_offset;
        const uint32_t v = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        return (v >> (8 - bit_offset)) & 0xFFFF;
    }
    // Whether the bits consumed so far run past the stored stream's last
    // byte, into the zeros or stale bytes that the format reads on over.
    bool read_past_stored_end() const {
        return int64_t(byte_offset) * 8 + bit_offset > stored_end * 8;
    }

    // Consumes n bits, n <= 16.
    void skip_bits(uint32_t n) {
        const uint32_t t = bit_offset + n;
        byte_offset += t / 8;
        bit_offset = t & 7;
    }
    // The next n bits as an unsigned number, n <= 16; 0 for n = 0.
    uint32_t read_bits(uint32_t n) {
        const uint32_t v = peek_bits() >> (16 - n);
        skip_bits(n);
        return v;
    }
};

}  // namespace lumo
