#include "tools/encoder/stream_writer.h"

#include <algorithm>
#include <cassert>

#include "tools/encoder/code_lengths.h"

namespace lumo {

namespace {
constexpr int kRunExtraBits[3] = {2, 3, 7};  // symbols 16, 17, 18
int run_extra_bits(uint8_t symbol) { return symbol >= 16 ? kRunExtraBits[symbol - 16] : 0; }
}  // namespace

StreamWriter::Encoded StreamWriter::encode(BlockKind kind, std::span<const uint8_t> lengths, bool keep) const {
    const size_t size = kind.table_size();
    assert(lengths.size() == size);
    Encoded e{keep, {}, {}, 0};
    auto old_at = [&](size_t i) -> uint8_t { return keep ? old_lengths_[i] : 0; };
    auto zero_run = [&](size_t i) {
        size_t r = 0;
        while (i + r < size && lengths[i + r] == 0 && r < 138) ++r;
        return r;
    };
    size_t i = 0;
    while (i < size) {
        const uint8_t length = lengths[i];
        if (length == 0) {
            const size_t r = zero_run(i);
            if (r >= 11 && !(keep && std::all_of(&old_lengths_[i], &old_lengths_[i] + r, [](uint8_t o) { return o == 0; }) && r < 16)) {
                e.codes.push_back({18, uint8_t(r - 11)});
                i += r;
                continue;
            }
            if (r >= 3 && !(keep && old_at(i) == 0)) {
                const size_t n = std::min<size_t>(r, 10);
                e.codes.push_back({17, uint8_t(n - 3)});
                i += n;
                continue;
            }
        } else if (i > 0 && length == lengths[i - 1] && !(keep && old_at(i) == length)) {
            size_t r = 0;
            while (i + r < size && lengths[i + r] == length && r < 6) ++r;
            if (r >= 3) {
                e.codes.push_back({16, uint8_t(r - 3)});
                i += r;
                continue;
            }
        }
        e.codes.push_back({uint8_t((length - old_at(i)) & 15), 0});
        ++i;
    }
    std::array<uint64_t, kBitLengthSymbols> counts{};
    for (const LengthCode& c : e.codes) ++counts[c.symbol];
    e.code_lengths = limited_code_lengths(counts);
    e.bits = 2 + (kind.audio ? 2 : 0) + 4 * kBitLengthSymbols + coded_bits(counts, e.code_lengths);
    for (const LengthCode& c : e.codes) e.bits += uint64_t(run_extra_bits(c.symbol));
    return e;
}

StreamWriter::Encoded StreamWriter::best_encoding(BlockKind kind, std::span<const uint8_t> lengths,
                                                  bool thorough) const {
    Encoded fresh = encode(kind, lengths, false);
    if (thorough) fresh = shorten(kind, lengths, std::move(fresh));
    if (kind.table_size() > old_known_) return fresh;
    Encoded kept = encode(kind, lengths, true);
    if (thorough) kept = shorten(kind, lengths, std::move(kept));
    return kept.bits < fresh.bits ? kept : fresh;
}

// The cheapest choice of deltas and runs for the bit-length code that `e`
// implies, found as a shortest path over the table's positions; then again
// with the code of that choice, while that saves. A run may pass the table's
// end: the decoder ends the block there.
StreamWriter::Encoded StreamWriter::shorten(BlockKind kind, std::span<const uint8_t> lengths, Encoded e) const {
    const size_t size = kind.table_size();
    auto old_at = [&](size_t i) -> uint8_t { return e.keep ? old_lengths_[i] : 0; };
    // Lengths of equal values and of zeros from each position on.
    std::vector<uint16_t> same(size + 1, 0), zeros(size + 1, 0);
    for (size_t i = size; i-- > 0;) {
        same[i] = uint16_t(i + 1 < size && lengths[i + 1] == lengths[i] ? same[i + 1] + 1 : 1);
        zeros[i] = uint16_t(lengths[i] == 0 ? zeros[i + 1] + 1 : 0);
    }
    struct Way {
        uint64_t cost;
        LengthCode code;
        uint16_t from;
    };
    std::vector<Way> way(size + 1);
    for (int round = 0; round < 4; ++round) {
        std::array<uint64_t, kBitLengthSymbols> price{};
        for (size_t c = 0; c < price.size(); ++c)
            price[c] = uint64_t(e.code_lengths[c] != 0 ? e.code_lengths[c] : 8) + uint64_t(run_extra_bits(uint8_t(c)));
        for (Way& w : way) w.cost = UINT64_MAX;
        way[0].cost = 0;
        for (size_t i = 0; i < size; ++i) {
            const uint64_t base = way[i].cost;
            auto offer = [&](size_t to, uint8_t symbol, size_t run) {
                to = std::min(to, size);
                const uint64_t cost = base + price[symbol];
                if (cost < way[to].cost) way[to] = {cost, {symbol, uint8_t(run)}, uint16_t(i)};
            };
            offer(i + 1, uint8_t((lengths[i] - old_at(i)) & 15), 0);
            // Runs: whatever lies past the table's end counts as matching.
            if (i > 0 && lengths[i] == lengths[i - 1]) {
                const size_t run = i + same[i] >= size ? 6 : std::min<size_t>(same[i], 6);
                for (size_t r = 3; r <= run; ++r) offer(i + r, 16, r - 3);
            }
            if (zeros[i] > 0) {
                const size_t run = i + zeros[i] >= size ? 138 : zeros[i];
                for (size_t r = 3; r <= std::min<size_t>(run, 10); ++r) offer(i + r, 17, r - 3);
                for (size_t r = 11; r <= std::min<size_t>(run, 138); ++r) offer(i + r, 18, r - 11);
            }
        }
        Encoded next{e.keep, {}, {}, 0};
        for (size_t i = size; i > 0; i = way[i].from) next.codes.push_back(way[i].code);
        std::reverse(next.codes.begin(), next.codes.end());
        std::array<uint64_t, kBitLengthSymbols> counts{};
        for (const LengthCode& c : next.codes) ++counts[c.symbol];
        next.code_lengths = limited_code_lengths(counts);
        next.bits = 2 + (kind.audio ? 2 : 0) + 4 * kBitLengthSymbols + coded_bits(counts, next.code_lengths);
        for (const LengthCode& c : next.codes) next.bits += uint64_t(run_extra_bits(c.symbol));
        if (next.bits >= e.bits) break;
        e = std::move(next);
    }
    return e;
}

uint64_t StreamWriter::tables_bits(BlockKind kind, std::span<const uint8_t> lengths) const {
    return best_encoding(kind, lengths, false).bits;
}

uint64_t StreamWriter::written_tables_bits(BlockKind kind, std::span<const uint8_t> lengths) const {
    return best_encoding(kind, lengths, thorough_).bits;
}

void StreamWriter::write_tables(BlockKind kind, std::span<const uint8_t> lengths) {
    const Encoded e = best_encoding(kind, lengths, thorough_);
    bits_.put(kind.audio ? 1 : 0, 1);  // audio mode
    bits_.put(e.keep ? 1 : 0, 1);      // keep old lengths
    kept_tables_ += e.keep ? 1 : 0;
    if (kind.audio) bits_.put(uint32_t(kind.channels - 1), 2);
    for (uint8_t l : e.code_lengths) bits_.put(l, 4);
    const std::vector<uint16_t> codes = canonical_codes(e.code_lengths);
    for (const LengthCode& c : e.codes) {
        bits_.put(codes[c.symbol], e.code_lengths[c.symbol]);
        bits_.put(c.extra, run_extra_bits(c.symbol));
    }
    std::copy(lengths.begin(), lengths.end(), old_lengths_.begin());
    old_known_ = lengths.size();
}

}  // namespace lumo
