// Packed streams for add-ons of any size up to the format's largest, made
// in a moment: bytes go as literals, and a run of zeros as one match of 258
// bytes at distance 1 followed by repeats of it, one bit each, so that a
// 4 GiB run of zeros takes 2 MB of stream. With the checksum of a run of
// zeros worked out without reading one, a test can hand the installer a
// container image of 4 GiB - 1 bytes and check every byte it writes.
#pragma once

#include <cstdint>
#include <vector>

#include "bit_writer.h"
#include "payload/checksum.h"
#include "payload/match_tables.h"

namespace lumo::test {

class ZeroRunStream {
public:
    ZeroRunStream() {
        // Main code: the repeat 1 bit, the longest match 2 bits, the 256
        // literals 10 bits, which fills the code; distance code: slot 0
        // (distance 1) alone. The repeat-length code is not used.
        std::vector<uint8_t> lengths(main_size + distance_size + repeat_length_size, 0);
        for (uint32_t literal = 0; literal < 256; ++literal) lengths[literal] = 10;
        lengths[repeat_match_symbol] = 1;
        lengths[longest_match_symbol] = 2;
        lengths[main_size] = 1;
        put_code_length_block(writer_, false, false, 1, lengths);
        main_ = PrefixCode({lengths.begin(), lengths.begin() + main_size});
    }

    void literals(const std::vector<uint8_t>& bytes) {
        for (uint8_t b : bytes) main_.put(writer_, b);
    }

    void zeros(uint64_t count) {
        if (count <= longest_match) {
            literals(std::vector<uint8_t>(count, 0));
            return;
        }
        // One zero first: the match copies the byte before it.
        main_.put(writer_, 0);
        main_.put(writer_, longest_match_symbol);
        writer_.put(31, length_slots[27].extra_bits);  // 224 + 3 + 31 = 258
        writer_.put(0, 1);                             // distance slot 0: distance 1
        count -= 1 + longest_match;
        for (; count >= longest_match; count -= longest_match) writer_.put_bit(0);  // the repeat's code
        literals(std::vector<uint8_t>(count, 0));
    }

    // The stream as a packer stores it.
    std::vector<uint8_t> stored() const { return scramble(writer_.bytes()); }

private:
    static constexpr uint32_t main_size = 298, distance_size = 48, repeat_length_size = 28;
    static constexpr uint32_t longest_match_symbol = 270 + 27;
    static constexpr uint64_t longest_match = 258;
    BitWriter writer_;
    PrefixCode main_{std::vector<uint8_t>{}};
};

// The container checksum of `count` zero bytes following a checksum of
// `value`: the checksum moves over a zero byte by a fixed linear map over
// the 32 bits, which is raised to the count by squaring.
inline uint32_t checksum_of_zeros(uint64_t count, uint32_t value = checksum_seed) {
    using Map = std::vector<uint32_t>;  // the image of each bit
    const auto apply = [](const Map& map, uint32_t v) {
        uint32_t out = 0;
        for (int bit = 0; v; ++bit, v >>= 1)
            if (v & 1) out ^= map[bit];
        return out;
    };
    Map map(32);  // one zero bit
    map[0] = 0xEDB88320u;
    for (int bit = 1; bit < 32; ++bit) map[bit] = 1u << (bit - 1);
    for (int k = 0; k < 3; ++k) {  // one zero byte
        Map squared(32);
        for (int bit = 0; bit < 32; ++bit) squared[bit] = apply(map, map[bit]);
        map = squared;
    }
    for (; count; count >>= 1) {
        if (count & 1) value = apply(map, value);
        Map squared(32);
        for (int bit = 0; bit < 32; ++bit) squared[bit] = apply(map, map[bit]);
        map = squared;
    }
    return value;
}

}  // namespace lumo::test
