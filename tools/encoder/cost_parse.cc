#include "tools/encoder/cost_parse.h"

#include <algorithm>
#include <cassert>
#include <limits>

#include "tools/encoder/blocks.h"

namespace lumo {

namespace {

constexpr uint32_t kUnreached = std::numeric_limits<uint32_t>::max();
constexpr size_t kMatchesPerPosition = 8;
// A match of up to `longest` bytes is tried with every length up to this
// one, then only with its last few lengths, where ending a match early can let
// a cheaper symbol follow. Lengths in between seldom pay and cost the most time.
constexpr uint32_t kEveryLengthUpTo = 24;
constexpr uint32_t kLastLengths = 8;

// Calls `f(l)` for the lengths from `shortest` to `longest` worth trying,
// `shortest` always.
template <typename F>
void for_lengths(uint32_t shortest, uint32_t longest, F&& f) {
    uint32_t l = shortest;
    for (; l <= longest && (l <= kEveryLengthUpTo || l == shortest); ++l) f(l);
    for (l = std::max(l, longest > kLastLengths ? longest - kLastLengths : 0); l <= longest; ++l) f(l);
}

// Whether the two bytes at `a` equal those at `b`: most distances tried fail
// here, before a full comparison.
bool same_two(const uint8_t* a, const uint8_t* b) { return a[0] == b[0] && a[1] == b[1]; }

}  // namespace

struct CostParse::Prices {
    std::array<uint32_t, 256> literal{};
    uint32_t repeat = 0;
    std::array<uint32_t, 256> short_match{};  // by distance - 1
    std::array<uint32_t, 4> old_symbol{};
    // By length and by the bonus the distance brings (old_distance_bonus,
    // far_bonus); lengths the bonus puts out of reach are never asked for.
    std::array<std::array<uint32_t, kMaxMatchLength + 1>, 4> old_length{};
    std::array<std::array<uint32_t, kMaxMatchLength + 1>, 3> long_length{};
    std::array<uint32_t, kDistanceSymbols> distance{};  // slot code and extra bits

    void set(const LzCosts& c) {
        constexpr uint32_t u = LzCosts::kUnit;
        for (int b = 0; b < 256; ++b) literal[size_t(b)] = c.literal(uint8_t(b));
        repeat = c.repeat();
        for (uint32_t d = 1; d <= 256; ++d) short_match[d - 1] = c.short_match(d);
        for (int k = 0; k < 4; ++k) old_symbol[size_t(k)] = c.main[size_t(kFirstOldDistance + k)];
        auto length_prices = [&](std::span<const uint32_t> slot_cost, uint32_t shortest, std::span<uint32_t> out) {
            for (uint32_t l = 0; l <= kMaxMatchLength; ++l) {
                if (l < shortest || l - shortest > 255) {
                    out[l] = kUnreached / 4;
                    continue;
                }
                const int s = length_slot(l - shortest);
                out[l] = slot_cost[size_t(s)] + u * kLengthSlots.extra_bits[size_t(s)];
            }
        };
        for (uint32_t b = 0; b < 4; ++b) length_prices(c.repeat_length, 2 + b, old_length[b]);
        std::array<uint32_t, kLengthSymbols> long_slots{};
        for (int s = 0; s < kLengthSymbols; ++s) long_slots[size_t(s)] = c.main[size_t(kFirstLongMatch + s)];
        for (uint32_t b = 0; b < 3; ++b) length_prices(long_slots, 3 + b, long_length[b]);
        for (int s = 0; s < kDistanceSymbols; ++s)
            distance[size_t(s)] = c.distance[size_t(s)] + u * kDistanceSlots.extra_bits[size_t(s)];
    }

    uint32_t old_match(int k, uint32_t length, uint32_t d) const {
        return old_symbol[size_t(k)] + old_length[old_distance_bonus(d)][length];
    }
};

// Positions the match histories are kept for: more than a step can span
// (a match, a literal and a match).
constexpr size_t kRecentRing = 1024;
static_assert(kRecentRing > 2 * kMaxMatchLength + 1);

CostParse::CostParse(std::span<const uint8_t> data, MatchFinder& finder, CostParseSettings settings)
    : data_(data), finder_(finder), settings_(settings), recent_(kRecentRing) {}

void CostParse::collect_matches(uint32_t begin, uint32_t end) {
    const uint32_t n = end - begin;
    first_match_.assign(size_t(n) + 1, 0);
    short_distances_.assign(n, 0);
    matches_.clear();
    Match found[kMatchesPerPosition];
    // Inside a match of the nice length the parse will hardly start another
    // one, so those positions are only recorded: this keeps long repeats cheap.
    uint32_t covered_to = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t pos = begin + i;
        short_distances_[i] = uint16_t(finder_.short_distance(pos));
        first_match_[i] = uint32_t(matches_.size());
        if (i < covered_to) {
            finder_.skip(pos);
            continue;
        }
        const uint32_t room = std::min<uint32_t>(n - i, kMaxMatchLength);
        const size_t count = finder_.find(pos, room, found, kMatchesPerPosition);
        matches_.insert(matches_.end(), found, found + count);
        if (count > 0 && found[count - 1].length >= settings_.nice) covered_to = i + found[count - 1].length;
    }
    first_match_[n] = uint32_t(matches_.size());
}

void CostParse::search(uint32_t begin, uint32_t end, const Recent& start, const std::vector<uint32_t>& region_ends,
                       const std::vector<LzCosts>& region_costs) {
    const uint32_t n = end - begin;
    const uint32_t nice = settings_.nice;
    steps_.resize(size_t(n) + 1);
    for (Step& s : steps_) s.cost = kUnreached;
    steps_[0] = Step{};
    Prices prices;
    size_t region = 0;
    prices.set(region_costs[0]);

    for (uint32_t i = 0; i < n; ++i) {
        if (i >= region_ends[region]) {
            while (i >= region_ends[region]) ++region;
            prices.set(region_costs[region]);
        }
        const uint32_t pos = begin + i;
        const uint32_t room = std::min<uint32_t>(n - i, kMaxMatchLength);
        const uint32_t base = steps_[i].cost;
        // Every position is reached, by a literal at least; the step that
        // reached it cheapest is final now, and so is its match history.
        const Recent r = i == 0 ? start : steps_[i].after(recent_[(i - steps_[i].length) % kRecentRing]);
        recent_[i % kRecentRing] = r;

        // Keeps the step to position i + length if it is cheaper than what
        // reaches that position so far.
        auto offer = [&](uint32_t cost, uint32_t length, uint32_t distance, MatchKind kind, int k,
                         uint32_t first_length = 0, bool second_repeat = false) {
            Step& s = steps_[i + length];
            if (cost >= s.cost) return;
            s.cost = cost;
            s.distance = distance;
            s.length = uint16_t(length);
            s.first_length = uint16_t(first_length);
            s.kind = kind;
            s.k = int8_t(k);
            s.second_repeat = second_repeat;
        };
        // A match of `length` at `distance` costing `cost`, then one literal
        // and the same distance again: as long as it goes (symbol 257), or
        // exactly as long as the first match (symbol 256, cheaper).
        auto offer_with_repeat = [&](uint32_t cost, uint32_t length, uint32_t distance, MatchKind kind, int k) {
            const uint32_t after = i + length + 1;
            if (after + 1 >= n || !same_two(&data_[begin + after], &data_[begin + after - distance])) return;
            const uint32_t again = finder_.match_length(
                begin + after, distance, std::min({n - after, kMaxMatchLength, max_old_length(distance)}));
            if (again < min_old_length(distance)) return;
            const uint32_t two = base + cost + prices.literal[data_[pos + length]];
            offer(two + prices.old_match(0, again, distance), length + 1 + again, distance, kind, k, length,
                  false);
            if (again >= length) offer(two + prices.repeat, 2 * length + 1, distance, kind, k, length, true);
        };

        offer(base + prices.literal[data_[pos]], 1, 0, MatchKind::literal, 0);
        if (r.length > 1 && r.length <= room && r.distance[0] <= pos &&
            same_two(&data_[pos], &data_[pos - r.distance[0]]) &&
            finder_.match_length(pos, r.distance[0], r.length) == r.length)
        {
            offer(base + prices.repeat, r.length, r.distance[0], MatchKind::repeat, 0);
            offer_with_repeat(prices.repeat, r.length, r.distance[0], MatchKind::repeat, 0);
        }
        for (int k = 0; k < 4; ++k) {
            const uint32_t d = r.distance[size_t(k)];
            if (d == 0 || d > pos || room < 2 || !same_two(&data_[pos], &data_[pos - d])) continue;
            bool seen = false;
            for (int j = 0; j < k; ++j) seen |= r.distance[size_t(j)] == d;
            if (seen) continue;
            const uint32_t length = finder_.match_length(pos, d, std::min(room, max_old_length(d)));
            if (length < min_old_length(d)) continue;
            const uint32_t symbol = base + prices.old_symbol[size_t(k)];
            const uint32_t* length_price = prices.old_length[old_distance_bonus(d)].data();
            offer_with_repeat(symbol - base + length_price[length], length, d, MatchKind::old_distance, k);
            if (length >= nice) {
                offer(symbol + length_price[length], length, d, MatchKind::old_distance, k);
                continue;
            }
            for_lengths(min_old_length(d), length,
                        [&](uint32_t l) { offer(symbol + length_price[l], l, d, MatchKind::old_distance, k); });
        }
        if (short_distances_[i] != 0 && room >= 2)
            offer(base + prices.short_match[short_distances_[i] - 1u], 2, short_distances_[i], MatchKind::short_match,
                  0);
        uint32_t shorter = 0;
        for (uint32_t m = first_match_[i]; m < first_match_[i + 1]; ++m) {
            const uint32_t d = matches_[m].distance;
            const uint32_t length = std::min(matches_[m].length, max_long_length(d));
            const uint32_t with_distance = base + prices.distance[size_t(distance_slot(d - 1))];
            const uint32_t* length_price = prices.long_length[far_bonus(d)].data();
            offer_with_repeat(with_distance - base + length_price[length], length, d, MatchKind::long_match, 0);
            if (length >= nice) {
                offer(with_distance + length_price[length], length, d, MatchKind::long_match, 0);
            } else {
                for_lengths(std::max(shorter + 1, min_long_length(d)), length, [&](uint32_t l) {
                    offer(with_distance + length_price[l], l, d, MatchKind::long_match, 0);
                });
            }
            shorter = length;
        }
    }
}

void CostParse::trace(uint32_t begin, uint32_t end, const MatchHistory& start, MatchHistory& history,
                      std::vector<LzSymbol>& symbols, std::vector<uint32_t>& symbol_ends) {
    const uint32_t n = end - begin;
    std::vector<uint32_t> path;  // position after each step
    for (uint32_t i = n; i > 0; i -= steps_[i].length) path.push_back(i);
    history = start;
    uint32_t pos = begin;
    auto emit = [&](MatchKind kind, int k, uint32_t length, uint32_t distance) {
        emit_match(kind, k, length, distance, data_[pos], history, symbols);
        pos += length;
        symbol_ends.push_back(pos - begin);
    };
    for (auto it = path.rbegin(); it != path.rend(); ++it) {
        const Step& s = steps_[*it];
        if (s.first_length == 0) {
            emit(s.kind, s.k, s.length, s.distance);
            continue;
        }
        emit(s.kind, s.k, s.first_length, s.distance);
        emit(MatchKind::literal, 0, 1, 0);
        emit(s.second_repeat ? MatchKind::repeat : MatchKind::old_distance, 0, s.length - s.first_length - 1u,
             s.distance);
    }
    assert(pos == end);
}

void CostParse::parse(uint32_t begin, uint32_t end, const LzCosts& costs, MatchHistory& history,
                      std::vector<LzSymbol>& out) {
    const uint32_t n = end - begin;
    collect_matches(begin, end);
    const MatchHistory start = history;
    Recent recent;
    for (int k = 0; k < 4; ++k) recent.distance[size_t(k)] = start.old_distance(k);
    recent.length = start.last_length;

    // Prices by stretch: after the first pass, each block the last result
    // would be split into prices its positions with its own code lengths.
    std::vector<uint32_t> region_ends{n};
    std::vector<LzCosts> region_costs{costs};
    std::vector<LzSymbol> best, trial;
    std::vector<uint32_t> symbol_ends;
    uint64_t best_bits = std::numeric_limits<uint64_t>::max();
    for (int pass = 0; pass < settings_.passes; ++pass) {
        search(begin, end, recent, region_ends, region_costs);
        trial.clear();
        symbol_ends.clear();
        MatchHistory after;
        trace(begin, end, start, after, trial, symbol_ends);
        // Each pass before the last is priced by the blocks it would be coded
        // in; one that comes out no smaller than the pass before ends the
        // search. The last pass is taken without that check, which costs a
        // block search: priced by the blocks of a pass that saved, it saves
        // too (on the bench corpus, in every stretch).
        if (pass + 1 == settings_.passes) {
            best.swap(trial);
            history = after;
            break;
        }
        const BlockPlan plan = plan_lz_blocks(StreamWriter{}, trial, kParseLzBlocks);
        if (plan.bits >= best_bits) break;
        best_bits = plan.bits;
        best.swap(trial);
        history = after;
        region_ends.clear();
        region_costs.clear();
        size_t first = 0;
        for (size_t block_end : plan.ends) {
            LzHistogram histogram;
            for (size_t s = first; s < block_end; ++s) histogram.add(best[s]);
            region_costs.push_back(LzCosts::from_frequencies(histogram));
            region_ends.push_back(block_end == best.size() ? n : symbol_ends[block_end - 1]);
            first = block_end;
        }
    }
    out.insert(out.end(), best.begin(), best.end());
}

}  // namespace lumo
