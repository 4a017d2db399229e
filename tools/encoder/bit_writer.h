// Collects a stream most significant bit first, the order in which the
// decoder peeks and skips.
#pragma once

#include <cassert>
#include <cstdint>
#include <vector>

namespace lumo {

class BitWriter {
public:
    // Appends the low `count` bits of `value`, highest first; count <= 32.
    void put(uint32_t value, int count) {
        assert(count >= 0 && count <= 32);
        if (count == 0) return;
        pending_ = (pending_ << count) | (uint64_t(value) & ((uint64_t(1) << count) - 1));
        pending_count_ += count;
        while (pending_count_ >= 8) {
            pending_count_ -= 8;
            bytes_.push_back(uint8_t(pending_ >> pending_count_));
        }
        pending_ &= (uint64_t(1) << pending_count_) - 1;
    }

    void reserve(size_t bytes) { bytes_.reserve(bytes); }

    uint64_t bit_count() const { return uint64_t(bytes_.size()) * 8 + uint64_t(pending_count_); }

    // The bytes so far, the last one filled up with zero bits.
    std::vector<uint8_t> finish() {
        if (pending_count_ > 0) put(0, 8 - pending_count_);
        return std::move(bytes_);
    }

private:
    std::vector<uint8_t> bytes_;
    uint64_t pending_ = 0;   // bits not yet in a whole byte, right-aligned
    int pending_count_ = 0;  // number of them, 0..7 between calls
};

}  // namespace lumo
