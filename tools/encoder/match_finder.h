// Finds earlier occurrences of the bytes at a position within the 1 MiB
// window: hash chains over 4-byte prefixes for the fast levels, or binary
// trees (one per 4-byte prefix, ordered by the bytes that follow) that find the
// longest matches with few steps for the best levels; plus the most recent
// 3-byte and 2-byte occurrences for the short matches the format codes cheaply.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tools/encoder/stream_symbols.h"

namespace lumo {

struct Match {
    uint32_t length;
    uint32_t distance;
};

class MatchFinder {
public:
    enum class Search { chains, trees };

    // `depth`: how many earlier occurrences to try per position; the search
    // also ends at a match of `nice_length`.
    MatchFinder(std::span<const uint8_t> data, Search search, int depth, uint32_t nice_length);

    // Matches at `pos` no longer than `max_length`, in order of growing length,
    // each longer than the one before; at most `capacity` (the longest kept).
    // Positions are searched in increasing order; `pos` is recorded afterwards.
    size_t find(uint32_t pos, uint32_t max_length, Match* out, size_t capacity);

    // Records `pos` without searching.
    void skip(uint32_t pos);

    // Distance (1..256) of the latest earlier occurrence of the two bytes at
    // `pos`, or 0. Valid before `pos` is recorded.
    uint32_t short_distance(uint32_t pos) const;

    // Number of bytes (up to `limit`) equal at `pos` and `pos - distance`.
    uint32_t match_length(uint32_t pos, uint32_t distance, uint32_t limit) const;

private:
    void record(uint32_t pos);
    template <typename Keep>
    void tree_step(uint32_t pos, uint32_t max_length, uint32_t best, Keep&& keep);
    uint32_t hash4(uint32_t pos) const;
    uint32_t hash3(uint32_t pos) const;

    std::span<const uint8_t> data_;
    Search search_;
    int chain_limit_;
    uint32_t nice_length_;
    std::vector<uint32_t> head4_;  // position + 1 of the latest occurrence, 0 for none
    std::vector<uint32_t> head3_;
    std::vector<uint32_t> head2_;
    // Chains: the previous occurrence (position + 1) at [pos & chain_mask_].
    // Trees: the smaller and the greater subtree at [2 * (pos & chain_mask_)].
    std::vector<uint32_t> chain_;
    uint32_t chain_mask_;
};

}  // namespace lumo
