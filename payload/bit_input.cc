#include "payload/bit_input.h"

#include <cstring>

namespace lumo {
namespace {

uint32_t load_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void store_le32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

}  // namespace

int32_t BitInput::read_packed(uint8_t* destination, uint32_t count) {
    uint32_t done = 0;
    while (done < count) {
        if (read_position == stream_end) {
            const std::span<const uint8_t> piece = feed ? feed->next_piece() : std::span<const uint8_t>();
            if (piece.empty()) break;
            read_position = piece.data();
            stream_end = piece.data() + piece.size();
        }
        const size_t left = size_t(stream_end - read_position);
        const uint32_t n = uint32_t(left < count - done ? left : count - done);

        // Each word's key is the stored word before it + key_increment (the
        // stored word, not the plain one), so the words descramble
        // independently of each other once the first has the running key.
        const uint32_t words = n / 4;
        if (words > 0) {
            const uint8_t* __restrict stored = read_position;
            uint8_t* __restrict plain = destination + done;
            store_le32(plain, load_le32(stored) ^ running_key);
            for (uint32_t i = 1; i < words; ++i)
                store_le32(plain + 4 * i, load_le32(stored + 4 * i) ^ (load_le32(stored + 4 * i - 4) + key_increment));
            running_key = load_le32(stored + 4 * words - 4) + key_increment;
            read_position += 4 * words;
            done += 4 * words;
        }
        // Format note: a stream whose length is not a multiple of four ends in
        // 1 to 3 bytes, each XORed with the matching low-order byte of the key.
        // Only the last piece can end so.
        for (uint32_t i = 0; i < n % 4; ++i, ++done) {
            destination[done] = uint8_t(*read_position ^ (running_key >> (8 * i)));
            ++read_position;
        }
        if (n % 4 != 0) break;
    }
    return done < 1 ? -1 : int32_t(done);
}

void BitInput::fill_input() {
    fill_end = read_packed(bytes.data(), input_buffer_size);
    byte_offset = 0;
    stored_end = fill_end > 0 ? fill_end : 0;
}

void BitInput::refill_input() {
    std::memmove(bytes.data(), bytes.data() + input_buffer_size - refill_keep, refill_keep);
    byte_offset &= refill_keep - 1;
    const int32_t got = read_packed(bytes.data() + refill_keep, input_buffer_size - refill_keep);
    fill_end = got >= 1 ? got + int32_t(refill_keep) : int32_t(byte_offset);
    // A refill that reads stored bytes follows a full buffer, so the bytes
    // kept at the front are stored ones too.
    stored_end = got >= 1 ? fill_end : stored_end - int64_t(input_buffer_size - refill_keep);
    if (got < 1) ++stale_refills;
}

}  // namespace lumo
