// The cost-driven parse of the best levels: the cheapest sequence of literals
// and matches for a stretch of the image under a set of symbol prices, found
// by a shortest-path search over its positions. The search is repeated with
// the code lengths of the blocks its last result is split into, as long as
// that keeps saving.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "tools/encoder/lz_symbols.h"
#include "tools/encoder/match_finder.h"

namespace lumo {

struct CostParseSettings {
    int passes = 2;       // searches per stretch at most
    uint32_t nice = 258;  // a match this long is taken whole, without trying shorter lengths
};

class CostParse {
public:
    CostParse(std::span<const uint8_t> data, MatchFinder& finder, CostParseSettings settings);

    // Appends the symbols for data[begin, end) to `out`, starting from the
    // prices `costs`, and moves `history` on as the decoder will. Records
    // data[begin, end) in the finder, which must have recorded everything
    // before `begin`.
    void parse(uint32_t begin, uint32_t end, const LzCosts& costs, MatchHistory& history,
               std::vector<LzSymbol>& out);

    // The distances the last four matches used, newest first, and the last
    // match's length: all of the match history a path's future depends on.
    struct Recent {
        std::array<uint32_t, 4> distance{};
        uint32_t length = 0;

        void push(uint32_t l, uint32_t d) {
            distance = {d, distance[0], distance[1], distance[2]};
            length = l;
        }
    };

    // How the cheapest path found so far reaches a position: one symbol, or
    // three (a match, one literal, the same distance again: repeats with a
    // byte that differs), which one path per position would otherwise miss.
    // Kept small: the search writes one for every improvement it finds.
    struct Step {
        uint32_t cost = 0;
        uint32_t distance = 0;
        uint16_t length = 0;        // of all the step
        uint16_t first_length = 0;  // three symbols: length of the first match; else 0
        MatchKind kind = MatchKind::literal;  // of the (first) symbol
        int8_t k = 0;               // old distance index
        bool second_repeat = false;  // three symbols: the last is symbol 256, else 257

        // The match history after the step, from the one before it.
        Recent after(Recent r) const {
            if (first_length != 0) {
                r.push(first_length, distance);
                r.push(length - first_length - 1u, distance);
            } else if (kind != MatchKind::literal) {
                r.push(length, distance);
            }
            return r;
        }
    };

    // Symbol prices laid out for the search.
    struct Prices;

private:
    void collect_matches(uint32_t begin, uint32_t end);
    void search(uint32_t begin, uint32_t end, const Recent& start, const std::vector<uint32_t>& region_ends,
                const std::vector<LzCosts>& region_costs);
    // The symbols of the cheapest path, with the position after each.
    void trace(uint32_t begin, uint32_t end, const MatchHistory& start, MatchHistory& history,
               std::vector<LzSymbol>& symbols, std::vector<uint32_t>& symbol_ends);

    std::span<const uint8_t> data_;
    MatchFinder& finder_;
    CostParseSettings settings_;
    // Matches of every position of the stretch, found once and priced anew
    // on each pass: those of position i are matches_[first_match_[i] ..
    // first_match_[i + 1]).
    std::vector<uint32_t> first_match_;
    std::vector<Match> matches_;
    std::vector<uint16_t> short_distances_;
    std::vector<Step> steps_;  // one per position
    // The match history of the cheapest path to each of the last positions,
    // at [position % size]: a step reaches back less than the size.
    std::vector<Recent> recent_;
};

}  // namespace lumo
