#include "tools/encoder/match_finder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace lumo {

namespace {
constexpr int kHash4Bits = 16;
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

MatchFinder::MatchFinder(std::span<const uint8_t> data, Search search, int depth, uint32_t nice_length)
    : data_(data),
      search_(search),
      chain_limit_(depth),
      nice_length_(nice_length),
      head4_(size_t(1) << kHash4Bits, 0),
      head3_(size_t(1) << kHash3Bits, 0),
      head2_(size_t(1) << 16, 0),
      chain_(std::bit_ceil(std::min<size_t>(kWindowSize, std::max<size_t>(data.size(), 1))) *
                 (search == Search::trees ? 2 : 1), 0),
      chain_mask_(uint32_t(chain_.size() / (search == Search::trees ? 2 : 1) - 1)) {}

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
    if (left >= 4 && search_ == Search::chains) {
        uint32_t& head = head4_[hash4(pos)];
        chain_[pos & chain_mask_] = head;
        head = pos + 1;
    }
}

void MatchFinder::skip(uint32_t pos) {
    if (search_ == Search::trees)
        tree_step(pos, 0, 0, [](uint32_t, uint32_t) {});
    record(pos);
}

// Walks the tree of the 4-byte prefix at `pos` down to where `pos` belongs,
// passing every match longer than all before (cut to `max_length`) to `keep`,
// and puts `pos` in as the new root: each node visited goes to its smaller or
// greater side. Bytes are compared up to the nice length or the end of the
// data, whatever the caller's limit: the order of the tree must not depend on
// where a stretch ends. A match that reaches the nice length takes the
// visited node's place.
template <typename Keep>
void MatchFinder::tree_step(uint32_t pos, uint32_t max_length, uint32_t best, Keep&& keep) {
    const uint32_t left = uint32_t(std::min<size_t>(data_.size() - pos, kMaxMatchLength));
    if (left < 4) return;
    const uint32_t limit = std::min(left, nice_length_);
    uint32_t& head = head4_[hash4(pos)];
    uint32_t candidate = head;
    head = pos + 1;
    uint32_t* smaller = &chain_[2 * size_t(pos & chain_mask_)];
    uint32_t* greater = smaller + 1;
    uint32_t smaller_length = 0, greater_length = 0;
    uint32_t tree_best = 0;
    for (int depth = chain_limit_;; --depth) {
        const uint32_t distance = pos + 1 - candidate;
        // A node a whole window back shares this position's slot: stop before it.
        if (candidate == 0 || depth == 0 || distance >= chain_.size() / 2 || distance >= kWindowSize) {
            *smaller = *greater = 0;
            return;
        }
        const uint32_t cpos = candidate - 1;
        uint32_t* pair = &chain_[2 * size_t(cpos & chain_mask_)];
        uint32_t length = std::min(smaller_length, greater_length);
        length += match_length(pos + length, distance, limit - length);
        if (length > tree_best) {
            tree_best = length;
            const uint32_t full = std::min(length >= limit ? match_length(pos, distance, left) : length, max_length);
            if (full > best && full >= min_long_length(distance)) {
                best = full;
                keep(full, distance);
            }
        }
        if (length >= limit) {
            *smaller = pair[0];
            *greater = pair[1];
            return;
        }
        if (data_[cpos + length] < data_[pos + length]) {
            *smaller = candidate;
            smaller = &pair[1];
            candidate = *smaller;
            smaller_length = length;
        } else {
            *greater = candidate;
            greater = &pair[0];
            candidate = *greater;
            greater_length = length;
        }
    }
}

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
    if (search_ == Search::trees) {
        tree_step(pos, max_length, best, keep);
    } else if (max_length >= 4 && best < max_length) {
        uint32_t candidate = head4_[hash4(pos)];
        for (int tries = chain_limit_; candidate != 0 && tries > 0; --tries) {
            const uint32_t cpos = candidate - 1;
            const uint32_t distance = pos - cpos;
            if (distance > kWindowSize || distance == 0) break;
            if (data_[cpos + best] == data_[pos + best]) {
                const uint32_t length = match_length(pos, distance, max_length);
                if (length > best && length >= min_long_length(distance)) {
                    keep(length, distance);
                    if (length >= max_length || length >= nice_length_) break;
                }
            }
            const uint32_t next = chain_[cpos & chain_mask_];
            if (next >= candidate) break;  // the slot was reused by a newer position
            candidate = next;
        }
    }
    record(pos);
    return found;
}

}  // namespace lumo
