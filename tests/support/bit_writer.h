// Test-only writers for packed streams, so that a test can build a stream
// field by field, one annotated field per call:
//
//   BitWriter w;
//   w.put(0, 1);     // audio mode: off
//   w.put(0, 1);     // keep old lengths: no
//   ...
//   std::vector<uint8_t> stored = scramble(w.bytes());
//
// Fields go most significant bit first, as the decoder reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace lumo::test {

class BitWriter {
public:
    // Appends the low `bits` bits of `value` (bits <= 32), highest first.
    void put(uint32_t value, unsigned bits) {
        for (unsigned i = bits; i-- > 0;) put_bit((value >> i) & 1);
    }
    void put_bit(uint32_t bit) {
        if (used_ == 0) bytes_.push_back(0);
        if (bit) bytes_.back() |= uint8_t(0x80 >> used_);
        used_ = (used_ + 1) & 7;
    }
    size_t bit_count() const { return bytes_.size() * 8 - (used_ ? 8 - used_ : 0); }
    // The bytes so far; a partial last byte is padded with zero bits.
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    unsigned used_ = 0;  // bits used of the last byte, 0 when it is full
};

// Scrambles plain stream bytes as a packer stores them: each 32-bit
// little-endian word is XORed with the running key, which then becomes the
// stored word + 0x6B2D; 1 to 3 trailing bytes are XORed with the low bytes
// of the key.
inline std::vector<uint8_t> scramble(const std::vector<uint8_t>& plain,
                                     uint32_t key = 0x546F7669) {
    std::vector<uint8_t> stored(plain.size());
    size_t i = 0;
    for (; i + 4 <= plain.size(); i += 4) {
        uint32_t word = 0;
        for (int k = 0; k < 4; ++k) word |= uint32_t(plain[i + k]) << (8 * k);
        const uint32_t s = word ^ key;
        for (int k = 0; k < 4; ++k) stored[i + k] = uint8_t(s >> (8 * k));
        key = s + 0x6B2D;
    }
    for (int k = 0; i < plain.size(); ++i, ++k) stored[i] = uint8_t(plain[i] ^ (key >> (8 * k)));
    return stored;
}

// A canonical prefix code from code lengths, for writing symbols: shortest
// codes first, codes of one length in symbol order, the first code all zeros.
class PrefixCode {
public:
    explicit PrefixCode(std::vector<uint8_t> lengths) : lengths_(std::move(lengths)) {
        codes_.assign(lengths_.size(), 0);
        uint32_t next = 0;
        for (unsigned len = 1; len <= 15; ++len) {
            for (size_t s = 0; s < lengths_.size(); ++s)
                if (lengths_[s] == len) codes_[s] = next++;
            next <<= 1;
        }
    }
    // All `count` symbols with the same length: the code of a symbol is then
    // its value in `length` bits.
    static PrefixCode flat(size_t count, uint8_t length) {
        return PrefixCode(std::vector<uint8_t>(count, length));
    }
    void put(BitWriter& w, uint32_t symbol) const { w.put(codes_.at(symbol), lengths_.at(symbol)); }
    const std::vector<uint8_t>& lengths() const { return lengths_; }

private:
    std::vector<uint8_t> lengths_;
    std::vector<uint32_t> codes_;
};

// A code-length block whose bit-length code gives all 19 symbols 5 bits (the
// code of symbol c is c), and whose table lengths are written one delta per
// entry against `old_lengths` (all zero when keep_old is false).
inline void put_code_length_block(BitWriter& w, bool audio, bool keep_old, unsigned channels,
                                  const std::vector<uint8_t>& lengths,
                                  const std::vector<uint8_t>& old_lengths = {}) {
    w.put(audio, 1);     // audio mode
    w.put(keep_old, 1);  // keep old lengths
    if (audio) w.put(channels - 1, 2);
    for (int c = 0; c < 19; ++c) w.put(5, 4);  // bit-length code lengths
    for (size_t i = 0; i < lengths.size(); ++i) {
        const uint8_t old = keep_old && i < old_lengths.size() ? old_lengths[i] : 0;
        w.put((lengths[i] - old) & 15, 5);  // delta to the old length
    }
}

}  // namespace lumo::test
