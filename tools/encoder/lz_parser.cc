#include "tools/encoder/lz_parser.h"

#include <algorithm>
#include <cassert>
#include <limits>

#include "tools/encoder/blocks.h"
#include "tools/encoder/code_lengths.h"

namespace lumo {

namespace {

struct LevelParameters {
    int chain;
    bool lazy;
    bool optimal;
    int passes;
    uint32_t nice;  // a match this long is taken without looking further
};

LevelParameters parameters_for(int level) {
    static const LevelParameters table[] = {
        {3, false, false, 0, 16},    // 1
        {4, false, false, 0, 24},    // 2
        {4, true, false, 0, 16},     // 3
        {5, true, false, 0, 16},     // 4
        {6, true, false, 0, 16},     // 5
        {6, true, false, 0, 24},     // 6
        {16, false, true, 1, 64},    // 7
        {24, false, true, 2, 128},   // 8
        {32, false, true, 2, 258},   // 9
    };
    return table[std::clamp(level, 1, 9) - 1];
}

constexpr size_t kMatchesPerPosition = 8;

// The lengths a match of up to `longest` bytes is tried with: every short
// one, then only the last few, where ending a match early can let a cheaper
// symbol follow. Lengths in between seldom pay and cost the most time.
uint32_t next_length(uint32_t length, uint32_t longest) {
    constexpr uint32_t kEveryLengthUpTo = 24;
    constexpr uint32_t kLastLengths = 8;
    if (length < kEveryLengthUpTo || length + kLastLengths >= longest) return length + 1;
    return std::max(length + 1, longest - kLastLengths);
}

}  // namespace

LzCosts LzCosts::estimate() {
    LzCosts c;
    for (size_t i = 0; i < 256; ++i) c.main[i] = 8 * kUnit;
    c.main[kRepeatSymbol] = 6 * kUnit;
    for (int k = 0; k < 4; ++k) c.main[size_t(kFirstOldDistance + k)] = (6 + k) * kUnit;
    for (int s = kFirstShortMatch; s < kLzSwitchSymbol; ++s) c.main[size_t(s)] = 9 * kUnit;
    c.main[kLzSwitchSymbol] = 15 * kUnit;
    for (int s = kFirstLongMatch; s < kMainSymbols; ++s) c.main[size_t(s)] = (7 + (s - kFirstLongMatch) / 4) * kUnit;
    for (size_t s = 0; s < c.distance.size(); ++s) c.distance[s] = 5 * kUnit;
    for (size_t s = 0; s < c.repeat_length.size(); ++s) c.repeat_length[s] = (3 + uint32_t(s) / 4) * kUnit;
    return c;
}

LzCosts LzCosts::from_histogram(const LzHistogram& histogram) {
    LzCosts c;
    auto convert = [](std::span<const uint64_t> counts, std::span<uint32_t> costs) {
        const std::vector<uint8_t> lengths = limited_code_lengths(counts);
        uint8_t longest = 1;
        for (uint8_t l : lengths) longest = std::max(longest, l);
        // An unused symbol would need a new table to code it: price it above any used one.
        for (size_t s = 0; s < counts.size(); ++s)
            costs[s] = (lengths[s] != 0 ? lengths[s] : std::min(longest + 2, 18)) * kUnit;
    };
    convert(histogram.main, c.main);
    convert(histogram.distance, c.distance);
    convert(histogram.repeat_length, c.repeat_length);
    return c;
}

void emit_match(MatchKind kind, int k, uint32_t length, uint32_t distance, uint8_t byte,
                MatchHistory& history, std::vector<LzSymbol>& out) {
    switch (kind) {
    case MatchKind::literal:
        out.push_back(literal_symbol(byte));
        return;
    case MatchKind::repeat:
        assert(length == history.last_length && distance == history.last_distance);
        out.push_back(repeat_symbol());
        break;
    case MatchKind::old_distance:
        assert(history.old_distance(k) == distance);
        assert(length >= min_old_length(distance) && length <= max_old_length(distance));
        out.push_back(old_distance_symbol(k, length, distance));
        break;
    case MatchKind::short_match:
        assert(length == 2 && distance >= 1 && distance <= 256);
        out.push_back(short_symbol(distance));
        break;
    case MatchKind::long_match:
        assert(length >= min_long_length(distance) && length <= max_long_length(distance));
        out.push_back(long_symbol(length, distance));
        break;
    }
    history.push(length, distance);
}

LzParser::LzParser(std::span<const uint8_t> data, int level)
    : data_(data),
      level_(level),
      finder_(data, parameters_for(level).optimal ? MatchFinder::Search::trees : MatchFinder::Search::chains,
              parameters_for(level).chain, parameters_for(level).nice),
      costs_(LzCosts::estimate()),
      match_buffer_(kMatchesPerPosition) {}

void LzParser::record_to(uint32_t pos) {
    while (next_record_ < pos) finder_.skip(next_record_++);
}

void LzParser::parse(uint32_t begin, uint32_t end, MatchHistory& history, std::vector<LzSymbol>& out) {
    // An empty stretch (the rest of a short run of samples after its mode
    // trial) records nothing: the next stretch starts at the same position.
    if (begin == end) return;
    assert(begin >= next_record_);
    record_to(begin);
    if (parameters_for(level_).optimal)
        parse_optimal(begin, end, history, out);
    else
        parse_lazy(begin, end, history, out);
    record_to(end);
}

LzParser::Choice LzParser::best_choice(uint32_t pos, uint32_t end, const MatchHistory& history,
                                       int64_t literal_cost) {
    Choice best;
    const uint32_t room = std::min<uint32_t>(end - pos, kMaxMatchLength);
    auto consider = [&](MatchKind kind, int k, uint32_t length, uint32_t distance, uint32_t cost) {
        const int64_t value = int64_t(length) * literal_cost - int64_t(cost);
        if (value > best.value) best = Choice{length, distance, kind, k, value};
    };

    const uint32_t short_distance = finder_.short_distance(pos);
    size_t found = 0;
    if (pos == next_record_) {
        found = finder_.find(pos, room, match_buffer_.data(), match_buffer_.size());
        ++next_record_;
    }
    if (history.last_length > 0 && history.last_length <= room && history.last_distance <= pos &&
        finder_.match_length(pos, history.last_distance, history.last_length) == history.last_length)
        consider(MatchKind::repeat, 0, history.last_length, history.last_distance, costs_.repeat());
    for (int k = 0; k < 4; ++k) {
        const uint32_t d = history.old_distance(k);
        if (d == 0 || d > pos) continue;
        const uint32_t length = finder_.match_length(pos, d, std::min(room, max_old_length(d)));
        if (length >= min_old_length(d)) consider(MatchKind::old_distance, k, length, d, costs_.old_match(k, length, d));
    }
    for (size_t i = 0; i < found; ++i) {
        const Match m = match_buffer_[i];
        consider(MatchKind::long_match, 0, std::min(m.length, max_long_length(m.distance)), m.distance,
                 costs_.long_match(std::min(m.length, max_long_length(m.distance)), m.distance));
    }
    if (short_distance != 0 && room >= 2) consider(MatchKind::short_match, 0, 2, short_distance, costs_.short_match(short_distance));
    return best;
}

void LzParser::parse_lazy(uint32_t begin, uint32_t end, MatchHistory& history, std::vector<LzSymbol>& out) {
    const LevelParameters p = parameters_for(level_);
    int64_t literal_cost = 0;
    for (int b = 0; b < 256; ++b) literal_cost += costs_.main[size_t(b)];
    literal_cost /= 256;

    uint32_t pos = begin;
    Choice current = best_choice(pos, end, history, literal_cost);
    while (pos < end) {
        if (current.kind == MatchKind::literal) {
            emit_match(MatchKind::literal, 0, 1, 0, data_[pos], history, out);
            ++pos;
            if (pos < end) current = best_choice(pos, end, history, literal_cost);
            continue;
        }
        if (p.lazy && current.length < p.nice && pos + 1 < end) {
            const Choice next = best_choice(pos + 1, end, history, literal_cost);
            if (next.value > current.value + literal_cost / 2) {
                emit_match(MatchKind::literal, 0, 1, 0, data_[pos], history, out);
                ++pos;
                current = next;
                continue;
            }
        }
        emit_match(current.kind, current.k, current.length, current.distance, data_[pos], history, out);
        pos += current.length;
        record_to(pos);
        if (pos < end) current = best_choice(pos, end, history, literal_cost);
    }
}

void LzParser::parse_optimal(uint32_t begin, uint32_t end, MatchHistory& history, std::vector<LzSymbol>& out) {
    const LevelParameters p = parameters_for(level_);
    const uint32_t n = end - begin;

    // Matches of every position, found once and priced anew on each pass.
    std::vector<uint32_t> first_match(size_t(n) + 1, 0);
    std::vector<Match> matches;
    std::vector<uint16_t> short_distances(n, 0);
    matches.reserve(size_t(n) * 2);
    // Inside a match of the nice length the parse will hardly start another
    // one, so those positions are only recorded: this keeps long repeats cheap.
    uint32_t covered_to = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t pos = begin + i;
        short_distances[i] = uint16_t(finder_.short_distance(pos));
        first_match[i] = uint32_t(matches.size());
        if (i < covered_to) {
            finder_.skip(pos);
            ++next_record_;
            continue;
        }
        const uint32_t room = std::min<uint32_t>(n - i, kMaxMatchLength);
        const size_t found = finder_.find(pos, room, match_buffer_.data(), match_buffer_.size());
        ++next_record_;
        matches.insert(matches.end(), match_buffer_.begin(), match_buffer_.begin() + ptrdiff_t(found));
        if (found > 0 && match_buffer_[found - 1].length >= p.nice) covered_to = i + match_buffer_[found - 1].length;
    }
    first_match[n] = uint32_t(matches.size());

    // How the cheapest path found reaches a position: one step, or three
    // (a match, one literal, the same distance again: records with a byte
    // that differs), which one best path per position would otherwise miss.
    struct Node {
        uint32_t cost;
        uint32_t length;        // of all the step
        uint32_t distance;
        MatchKind kind;         // of the (first) match
        int8_t k;
        bool second_repeat;     // three steps: the last is symbol 256, else 257
        uint32_t first_length;  // three steps: length of the first match; else 0
        MatchHistory history;
    };
    constexpr uint32_t kUnreached = std::numeric_limits<uint32_t>::max();
    std::vector<Node> nodes(size_t(n) + 1);
    const MatchHistory start = history;
    std::vector<LzSymbol> result;

    // Prices by stretch: after the first pass, each block the last result
    // would be split into prices its positions with its own code lengths.
    std::vector<uint32_t> region_ends{n};
    std::vector<LzCosts> region_costs{costs_};

    for (int pass = 0; pass < p.passes; ++pass) {
        for (Node& node : nodes) node.cost = kUnreached;
        nodes[0].cost = 0;
        nodes[0].history = start;
        size_t region = 0;
        for (uint32_t i = 0; i < n; ++i) {
            while (i >= region_ends[region]) ++region;
            const LzCosts& costs = region_costs[region];
            const Node& here = nodes[i];
            const uint32_t pos = begin + i;
            const uint32_t base = here.cost;
            const MatchHistory& h = here.history;
            auto relax = [&](uint32_t length, uint32_t distance, MatchKind kind, int k, uint32_t cost) {
                Node& there = nodes[i + length];
                if (base + cost >= there.cost) return;
                there.cost = base + cost;
                there.length = length;
                there.distance = distance;
                there.kind = kind;
                there.k = int8_t(k);
                there.first_length = 0;
                there.history = h;
                if (kind != MatchKind::literal) there.history.push(length, distance);
            };
            auto relax_three = [&](uint32_t length, uint32_t distance, MatchKind kind, int k, uint32_t cost,
                                   uint32_t again, bool repeat) {
                const uint32_t after = i + length + 1;
                const uint32_t total = base + cost + costs.literal(data_[begin + i + length]) +
                                       (repeat ? costs.repeat() : costs.old_match(0, again, distance));
                Node& there = nodes[after + again];
                if (total >= there.cost) return;
                there.cost = total;
                there.length = length + 1 + again;
                there.distance = distance;
                there.kind = kind;
                there.k = int8_t(k);
                there.second_repeat = repeat;
                there.first_length = length;
                there.history = h;
                there.history.push(length, distance);
                there.history.push(again, distance);
            };
            auto relax_with_repeat = [&](uint32_t length, uint32_t distance, MatchKind kind, int k, uint32_t cost) {
                const uint32_t after = i + length + 1;
                if (after >= n) return;
                const uint32_t again = finder_.match_length(
                    begin + after, distance, std::min({n - after, kMaxMatchLength, max_old_length(distance)}));
                if (again < min_old_length(distance)) return;
                // The same distance again: as long as it goes (symbol 257), or
                // exactly as long as the first match (symbol 256, cheaper).
                relax_three(length, distance, kind, k, cost, again, false);
                if (again >= length) relax_three(length, distance, kind, k, cost, length, true);
            };
            relax(1, 0, MatchKind::literal, 0, costs.literal(data_[pos]));
            const uint32_t room = std::min<uint32_t>(n - i, kMaxMatchLength);
            if (h.last_length > 0 && h.last_length <= room && h.last_distance <= pos &&
                finder_.match_length(pos, h.last_distance, h.last_length) == h.last_length)
            {
                relax(h.last_length, h.last_distance, MatchKind::repeat, 0, costs.repeat());
                relax_with_repeat(h.last_length, h.last_distance, MatchKind::repeat, 0, costs.repeat());
            }
            uint32_t longest_old = 0;
            for (int k = 0; k < 4; ++k) {
                const uint32_t d = h.old_distance(k);
                if (d == 0 || d > pos) continue;
                bool seen = false;
                for (int j = 0; j < k; ++j) seen |= h.old_distance(j) == d;
                if (seen) continue;
                const uint32_t length = finder_.match_length(pos, d, std::min(room, max_old_length(d)));
                longest_old = std::max(longest_old, length);
                if (length >= min_old_length(d))
                    relax_with_repeat(length, d, MatchKind::old_distance, k, costs.old_match(k, length, d));
                if (length >= p.nice) {
                    relax(length, d, MatchKind::old_distance, k, costs.old_match(k, length, d));
                    continue;
                }
                for (uint32_t l = min_old_length(d); l <= length; l = next_length(l, length))
                    relax(l, d, MatchKind::old_distance, k, costs.old_match(k, l, d));
            }
            if (short_distances[i] != 0 && room >= 2)
                relax(2, short_distances[i], MatchKind::short_match, 0, costs.short_match(short_distances[i]));
            uint32_t shorter = 0;
            for (uint32_t m = first_match[i]; m < first_match[i + 1]; ++m) {
                const uint32_t d = matches[m].distance;
                const uint32_t length = std::min(matches[m].length, max_long_length(d));
                relax_with_repeat(length, d, MatchKind::long_match, 0, costs.long_match(length, d));
                if (length >= p.nice) {
                    relax(length, d, MatchKind::long_match, 0, costs.long_match(length, d));
                } else {
                    for (uint32_t l = std::max(shorter + 1, min_long_length(d)); l <= length; l = next_length(l, length))
                        relax(l, d, MatchKind::long_match, 0, costs.long_match(l, d));
                }
                shorter = length;
            }
        }

        // Walk back from the end, then replay forwards as the decoder will.
        std::vector<uint32_t> steps;
        for (uint32_t i = n; i > 0; i -= nodes[i].length) steps.push_back(i);
        result.clear();
        std::vector<uint32_t> symbol_ends;  // position (from begin) after each symbol
        MatchHistory replay = start;
        uint32_t pos = begin;
        for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
            const Node& node = nodes[*it];
            if (node.first_length == 0) {
                emit_match(node.kind, node.k, node.length, node.distance, data_[pos], replay, result);
                pos += node.length;
                symbol_ends.push_back(pos - begin);
                continue;
            }
            const uint32_t again = node.length - node.first_length - 1;
            emit_match(node.kind, node.k, node.first_length, node.distance, data_[pos], replay, result);
            pos += node.first_length;
            symbol_ends.push_back(pos - begin);
            emit_match(MatchKind::literal, 0, 1, 0, data_[pos], replay, result);
            pos += 1;
            symbol_ends.push_back(pos - begin);
            emit_match(node.second_repeat ? MatchKind::repeat : MatchKind::old_distance, 0, again, node.distance,
                       data_[pos], replay, result);
            pos += again;
            symbol_ends.push_back(pos - begin);
        }
        assert(pos == end);
        history = replay;
        if (pass + 1 < p.passes && !result.empty()) {
            const BlockPlan plan = plan_lz_blocks(StreamWriter{}, result, kFineLzChunk);
            region_ends.clear();
            region_costs.clear();
            size_t first = 0;
            for (size_t block_end : plan.ends) {
                LzHistogram histogram;
                for (size_t s = first; s < block_end; ++s) histogram.add(result[s]);
                region_costs.push_back(LzCosts::from_histogram(histogram));
                region_ends.push_back(block_end == result.size() ? n : symbol_ends[block_end - 1]);
                first = block_end;
            }
        }
    }
    out.insert(out.end(), result.begin(), result.end());
}

}  // namespace lumo
