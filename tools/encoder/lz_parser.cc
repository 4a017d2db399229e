#include "tools/encoder/lz_parser.h"

#include <algorithm>
#include <cassert>

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
        {64, false, true, 2, 258},   // 9
    };
    return table[std::clamp(level, 1, 9) - 1];
}

constexpr size_t kMatchesPerPosition = 8;

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

LzCosts LzCosts::from_code_lengths(const LzHistogram& histogram) {
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

LzCosts LzCosts::from_frequencies(const LzHistogram& histogram) {
    LzCosts c;
    auto convert = [](std::span<const uint64_t> counts, std::span<uint32_t> costs) {
        uint64_t total = 0;
        for (uint64_t n : counts) total += n;
        uint32_t dearest = kUnit;
        for (size_t s = 0; s < counts.size(); ++s) {
            if (counts[s] == 0) continue;
            const uint64_t bits = (log2_scaled(total) - log2_scaled(counts[s])) >> 12;  // 1/16 bit
            costs[s] = std::clamp(uint32_t(bits), kUnit, uint32_t(kMaxCodeLength) * kUnit);
            dearest = std::max(dearest, costs[s]);
        }
        // An unused symbol would need a new table to code it: price it above any used one.
        for (size_t s = 0; s < counts.size(); ++s)
            if (counts[s] == 0) costs[s] = std::min(dearest + 2 * kUnit, 18 * kUnit);
    };
    convert(histogram.main, c.main);
    convert(histogram.distance, c.distance);
    convert(histogram.repeat_length, c.repeat_length);
    return c;
}

LzParser::LzParser(std::span<const uint8_t> data, int level)
    : data_(data),
      level_(level),
      finder_(data, parameters_for(level).optimal ? MatchFinder::Search::trees : MatchFinder::Search::chains,
              parameters_for(level).chain, parameters_for(level).nice),
      cost_parse_(data, finder_,
                  {parameters_for(level).passes, parameters_for(level).nice}),
      costs_(LzCosts::estimate()),
      match_buffer_(kMatchesPerPosition) {}

void LzParser::learn(const LzHistogram& histogram) {
    costs_ = parameters_for(level_).optimal ? LzCosts::from_frequencies(histogram) : LzCosts::from_code_lengths(histogram);
}

void LzParser::record_to(uint32_t pos) {
    while (next_record_ < pos) finder_.skip(next_record_++);
}

void LzParser::parse(uint32_t begin, uint32_t end, MatchHistory& history, std::vector<LzSymbol>& out) {
    // An empty stretch (the rest of a short run of samples after its mode
    // trial) records nothing: the next stretch starts at the same position.
    if (begin == end) return;
    assert(begin >= next_record_);
    record_to(begin);
    if (parameters_for(level_).optimal) {
        cost_parse_.parse(begin, end, costs_, history, out);
        next_record_ = end;
    } else {
        parse_lazy(begin, end, history, out);
    }
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

}  // namespace lumo
