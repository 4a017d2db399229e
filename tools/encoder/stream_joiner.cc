#include "tools/encoder/stream_joiner.h"

#include <cassert>

namespace lumo {

namespace {
// The step from one stored word to the key of the next.
constexpr uint32_t kKeyStep = 0x6B2D;
// Bytes gathered before they are scrambled and handed on.
constexpr size_t kFlushSize = 1 << 20;
}  // namespace

void Scrambler::scramble_words(std::span<uint8_t> words) {
    assert(words.size() % 4 == 0);
    uint32_t key = key_;
    for (size_t i = 0; i < words.size(); i += 4) {
        const uint32_t plain = uint32_t(words[i]) | uint32_t(words[i + 1]) << 8 | uint32_t(words[i + 2]) << 16 |
                               uint32_t(words[i + 3]) << 24;
        const uint32_t stored = plain ^ key;
        for (int b = 0; b < 4; ++b) words[i + size_t(b)] = uint8_t(stored >> (8 * b));
        key = stored + kKeyStep;
    }
    key_ = key;
}

void Scrambler::scramble_tail(std::span<uint8_t> tail) const {
    for (size_t b = 0; b < tail.size(); ++b) tail[b] ^= uint8_t(key_ >> (8 * b));
}

void StreamJoiner::append(std::span<const uint8_t> bytes, uint64_t bits) {
    assert(bits <= uint64_t(bytes.size()) * 8);
    const size_t whole = size_t(bits / 8);
    const int rest = int(bits % 8);
    if (partial_bits_ == 0) {
        pending_.insert(pending_.end(), bytes.begin(), bytes.begin() + ptrdiff_t(whole));
    } else {
        const int shift = partial_bits_;
        for (size_t i = 0; i < whole; ++i) {
            pending_.push_back(uint8_t(partial_ | (bytes[i] >> shift)));
            partial_ = uint8_t(bytes[i] << (8 - shift));
        }
    }
    if (rest > 0) {
        // The last byte's top `rest` bits join the bits still open.
        const uint8_t top = uint8_t(bytes[whole] & (0xFF << (8 - rest)));
        partial_ = uint8_t(partial_ | (top >> partial_bits_));
        const int total = partial_bits_ + rest;
        if (total >= 8) {
            pending_.push_back(partial_);
            partial_ = uint8_t(top << (8 - partial_bits_));
        }
        partial_bits_ = total % 8;
    }
    if (pending_.size() >= kFlushSize) flush_words();
}

void StreamJoiner::flush_words() {
    const size_t words = pending_.size() - pending_.size() % 4;
    scrambler_.scramble_words(std::span(pending_).first(words));
    sink_.write(std::span(pending_).first(words));
    written_ += words;
    pending_.erase(pending_.begin(), pending_.begin() + ptrdiff_t(words));
}

uint64_t StreamJoiner::finish() {
    if (partial_bits_ > 0) pending_.push_back(partial_);
    partial_ = 0;
    partial_bits_ = 0;
    while (pending_.size() % 4 != 0) pending_.push_back(0);
    flush_words();
    return written_;
}

}  // namespace lumo
