#include "tools/encoder/match_finder.h"

#include <algorithm>
#include <cstring>

namespace lumo {

namespace {
constexpr int kHash4Bits = 18;
constexpr int kHash3Bits = 15;

uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
}  // namespace

MatchFinder::MatchFinder(std::span<const uint8_t> data, int chain_limit)
    : data_(data),
      chain_limit_(chain_limit),
      head4_(size_t(1) << kHash4Bits, 0),
      head3_(size_t(1) << kHash3Bits, 0),
      head2_(size_t(1) << 16, 0),
      chain_(std::min<size_t>(kWindowSize, std::max<size_t>(data.size(), 1)), 0) {}

uint32_t MatchFinder::hash4(uint32_t pos) const {
    return (load32(&data_[pos]) * 2654435761u) >> (32 - kHash4Bits);
}

uint32_t MatchFinder::hash3(uint32_t pos) const {
    const uint32_t v = uint32_t(data_[pos]) | uint32_t(data_[pos + 1]) << 8 | uint32_t(data_[pos + 2]) << 16;
    return (v * 2654435761u) >> (32 - kHash3Bits);
}

void MatchFinder::record(uint32_t pos) {
    const size_t left = data_.size() - pos;
    if (left >= 2) head2_[uint32_t(data_[pos]) | uint32_t(data_[pos + 1]) << 8] = pos + 1;
    if (left >= 3) head3_[hash3(pos)] = pos + 1;
    if (left >= 4) {
        uint32_t& head = head4_[hash4(pos)];
        chain_[pos % chain_.size()] = head;
        head = pos + 1;
    }
}

void MatchFinder::skip(uint32_t pos) { record(pos); }

uint32_t MatchFinder::match_length(uint32_t pos, uint32_t distance, uint32_t limit) const {
    const uint8_t* a = &data_[pos];
    const uint8_t* b = a - distance;
    uint32_t n = 0;
    while (n + 8 <= limit) {
        const uint64_t x = load64(a + n) ^ load64(b + n);
        if (x != 0) return n + uint32_t(__builtin_ctzll(x) >> 3);
        n += 8;
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

uint32_t MatchFinder::short_distance(uint32_t pos) const {
    if (data_.size() - pos < 2) return 0;
    const uint32_t prev = head2_[uint32_t(data_[pos]) | uint32_t(data_[pos + 1]) << 8];
    if (prev == 0) return 0;
    const uint32_t distance = pos + 1 - prev;
    return distance <= 256 ? distance : 0;
}

size_t MatchFinder::find(uint32_t pos, uint32_t max_length, Match* out, size_t capacity) {
    size_t found = 0;
    uint32_t best = 2;
    auto keep = [&](uint32_t length, uint32_t distance) {
        if (found == capacity) {  // keep the longest
            for (size_t j = 1; j < capacity; ++j) out[j - 1] = out[j];
            --found;
        }
        out[found++] = {length, distance};
        best = length;
    };
    if (max_length >= 3) {
        const uint32_t prev3 = head3_[hash3(pos)];
        if (prev3 != 0) {
            const uint32_t distance = pos + 1 - prev3;
            if (distance < 0x2000) {
                const uint32_t length = match_length(pos, distance, max_length);
                if (length >= 3) keep(length, distance);
            }
        }
    }
    if (max_length >= 4 && best < max_length) {
        uint32_t candidate = head4_[hash4(pos)];
        const uint32_t window = uint32_t(chain_.size());
        for (int tries = chain_limit_; candidate != 0 && tries > 0; --tries) {
            const uint32_t cpos = candidate - 1;
            const uint32_t distance = pos - cpos;
            if (distance > kWindowSize || distance == 0) break;
            if (data_[cpos + best] == data_[pos + best]) {
                const uint32_t length = match_length(pos, distance, max_length);
                if (length > best && length >= min_long_length(distance)) {
                    keep(length, distance);
                    if (length >= max_length) break;
                }
            }
            const uint32_t next = chain_[cpos % window];
            if (next >= candidate) break;  // the slot was reused by a newer position
            candidate = next;
        }
    }
    record(pos);
    return found;
}

}  // namespace lumo
