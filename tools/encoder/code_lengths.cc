#include "tools/encoder/code_lengths.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <numeric>

namespace lumo {

namespace {

// A coin of package-merge: a leaf (one symbol) or a package of two coins.
struct Coin {
    uint64_t weight;
    int32_t symbol;  // the leaf's symbol, or -1 for a package
    int32_t left, right;
};

void count_leaves(const std::vector<Coin>& coins, int32_t index, std::span<uint8_t> lengths) {
    // Packages nest at most max_length deep, so recursion stays shallow.
    const Coin& coin = coins[size_t(index)];
    if (coin.symbol >= 0) {
        ++lengths[size_t(coin.symbol)];
        return;
    }
    count_leaves(coins, coin.left, lengths);
    count_leaves(coins, coin.right, lengths);
}

// Symbols per alphabet at most: the largest table is the main one.
constexpr size_t kMaxSymbols = 1024;

// Huffman code lengths of the `n` symbols `used` (sorted by rising frequency)
// with the two queue method: leaves in order, and the merged nodes, which
// come out in rising weight too. Returns the longest length.
int huffman_lengths(std::span<const uint64_t> frequencies, const int32_t* used, size_t n, std::span<uint8_t> lengths) {
    std::array<uint64_t, kMaxSymbols> weight;
    std::array<int32_t, 2 * kMaxSymbols> parent;  // leaves 0..n-1, merged nodes n..2n-2
    size_t leaf = 0, merged_next = 0, merged_count = 0;
    auto take = [&]() -> std::pair<size_t, uint64_t> {
        if (leaf < n && (merged_next == merged_count || frequencies[size_t(used[leaf])] <= weight[merged_next])) {
            const size_t i = leaf++;
            return {i, frequencies[size_t(used[i])]};
        }
        const size_t i = merged_next++;
        return {n + i, weight[i]};
    };
    for (size_t k = 0; k + 1 < n; ++k) {
        const auto [a, wa] = take();
        const auto [b, wb] = take();
        weight[merged_count] = wa + wb;
        parent[a] = parent[b] = int32_t(n + merged_count);
        ++merged_count;
    }
    // Depths from the root (the last merged node) down.
    std::array<uint8_t, 2 * kMaxSymbols> depth;
    depth[2 * n - 2] = 0;
    int longest = 0;
    for (size_t i = 2 * n - 2; i-- > 0;) {
        depth[i] = uint8_t(std::min(255, depth[size_t(parent[i])] + 1));
        if (i < n) {
            lengths[size_t(used[i])] = depth[i];
            longest = std::max(longest, int(depth[i]));
        }
    }
    return longest;
}

}  // namespace

std::vector<uint8_t> limited_code_lengths(std::span<const uint64_t> frequencies, int max_length) {
    std::vector<uint8_t> lengths(frequencies.size(), 0);
    limited_code_lengths(frequencies, lengths, max_length);
    return lengths;
}

void limited_code_lengths(std::span<const uint64_t> frequencies, std::span<uint8_t> lengths, int max_length) {
    assert(lengths.size() == frequencies.size() && frequencies.size() <= kMaxSymbols);
    std::fill(lengths.begin(), lengths.end(), 0);
    // Sorted by frequency, ties by symbol value, so the result does not depend
    // on sort internals: one key holds both.
    std::array<uint64_t, kMaxSymbols> keys;
    size_t n = 0;
    for (size_t s = 0; s < frequencies.size(); ++s) {
        if (frequencies[s] == 0) continue;
        assert(frequencies[s] < (uint64_t(1) << 47));
        keys[n++] = frequencies[s] << 16 | s;
    }
    if (n == 0) return;
    if (n == 1) {
        lengths[keys[0] & 0xFFFF] = 1;
        return;
    }
    assert(n <= (size_t(1) << max_length));
    std::sort(keys.begin(), keys.begin() + ptrdiff_t(n));
    std::array<int32_t, kMaxSymbols> used;
    for (size_t i = 0; i < n; ++i) used[i] = int32_t(keys[i] & 0xFFFF);
    // A plain Huffman code is optimal when it fits the limit; package-merge
    // only where it does not.
    if (huffman_lengths(frequencies, used.data(), n, lengths) <= max_length) return;
    std::fill(lengths.begin(), lengths.end(), 0);

    std::vector<Coin> coins;
    coins.reserve(n * 2 * size_t(max_length + 1));
    std::vector<int32_t> leaves;
    for (int32_t s : std::span(used.data(), n)) {
        leaves.push_back(int32_t(coins.size()));
        coins.push_back({frequencies[size_t(s)], s, -1, -1});
    }
    std::vector<int32_t> list = leaves;
    for (int level = 1; level < max_length; ++level) {
        std::vector<int32_t> merged;
        merged.reserve(leaves.size() + list.size() / 2);
        size_t li = 0, pi = 0;
        const size_t packages = list.size() / 2;
        while (li < leaves.size() || pi < packages) {
            const bool take_leaf =
                pi == packages ||
                (li < leaves.size() &&
                 coins[size_t(leaves[li])].weight <=
                     coins[size_t(list[2 * pi])].weight + coins[size_t(list[2 * pi + 1])].weight);
            if (take_leaf) {
                merged.push_back(leaves[li++]);
            } else {
                const int32_t a = list[2 * pi], b = list[2 * pi + 1];
                merged.push_back(int32_t(coins.size()));
                coins.push_back({coins[size_t(a)].weight + coins[size_t(b)].weight, -1, a, b});
                ++pi;
            }
        }
        list = std::move(merged);
    }
    for (size_t i = 0; i < 2 * n - 2; ++i) count_leaves(coins, list[i], lengths);
}

std::vector<uint16_t> canonical_codes(std::span<const uint8_t> lengths) {
    uint32_t count[kMaxCodeLength + 1] = {};
    for (uint8_t l : lengths) ++count[l];
    count[0] = 0;
    uint32_t next[kMaxCodeLength + 1] = {};
    uint32_t code = 0;
    for (int l = 1; l <= kMaxCodeLength; ++l) {
        code = (code + count[l - 1]) << 1;
        next[l] = code;
    }
    std::vector<uint16_t> codes(lengths.size(), 0);
    for (size_t s = 0; s < lengths.size(); ++s)
        if (lengths[s] > 0) codes[s] = uint16_t(next[lengths[s]]++);
    return codes;
}

uint64_t log2_scaled(uint64_t x) {
    // log2(1 + m / 1024) for m = 0..1023, by repeated squaring of the mantissa.
    static const auto fraction = [] {
        std::array<uint32_t, 1024> t{};
        for (uint64_t m = 0; m < 1024; ++m) {
            uint64_t y = (1024 + m) << 21;  // 1 + m / 1024 with 31 fraction bits
            uint32_t bits = 0;
            for (int b = 15; b >= 0; --b) {
                y = (y * y) >> 31;
                if (y >= (uint64_t(2) << 31)) {
                    y >>= 1;
                    bits |= 1u << b;
                }
            }
            t[m] = bits;
        }
        return t;
    }();
    assert(x >= 1);
    const int e = 63 - std::countl_zero(x);
    const uint64_t m = e >= 10 ? (x >> (e - 10)) & 1023 : (x << (10 - e)) & 1023;
    return (uint64_t(e) << 16) + fraction[m];
}

uint64_t coded_bits(std::span<const uint64_t> frequencies, std::span<const uint8_t> lengths) {
    uint64_t bits = 0;
    for (size_t s = 0; s < frequencies.size(); ++s) bits += frequencies[s] * lengths[s];
    return bits;
}

}  // namespace lumo
