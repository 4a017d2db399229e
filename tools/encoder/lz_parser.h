// Chooses the literals and matches of LZ-mode stretches of the image. Fast
// levels parse greedily or lazily; the best levels run a cost-driven parse
// over each stretch, repeated with the code lengths its last result implies.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "tools/encoder/cost_parse.h"
#include "tools/encoder/lz_symbols.h"
#include "tools/encoder/match_finder.h"

namespace lumo {

class LzParser {
public:
    LzParser(std::span<const uint8_t> data, int level);

    // Appends the symbols for data[begin, end) to `out` and moves `history`
    // on as the decoder will. Stretches must come in order of position; bytes
    // of skipped stretches are still matched against.
    void parse(uint32_t begin, uint32_t end, MatchHistory& history, std::vector<LzSymbol>& out);

    // Records data[.., end) for the matches of later stretches without
    // parsing it: the window that a part of the stream starts with.
    void remember(uint32_t end) { record_to(end); }

    // Leaves data[.., end) out of the matches of later stretches (audio
    // samples, which LZ stretches hardly ever repeat), saving the time.
    void pass_over(uint32_t end) { next_record_ = std::max(next_record_, end); }

    // Prices learnt from the symbols chosen so far; parses start from them.
    void learn(const LzHistogram& histogram);

private:
    struct Choice {
        uint32_t length = 1;
        uint32_t distance = 0;
        MatchKind kind = MatchKind::literal;
        int k = 0;
        int64_t value = 0;  // bits saved against literals, in cost units
    };

    void record_to(uint32_t pos);
    Choice best_choice(uint32_t pos, uint32_t end, const MatchHistory& history, int64_t literal_cost);
    void parse_lazy(uint32_t begin, uint32_t end, MatchHistory& history, std::vector<LzSymbol>& out);

    std::span<const uint8_t> data_;
    int level_;
    MatchFinder finder_;
    CostParse cost_parse_;
    uint32_t next_record_ = 0;  // first position not yet recorded in the finder
    LzCosts costs_;
    std::vector<Match> match_buffer_;
};

}  // namespace lumo
