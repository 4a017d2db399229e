// Splits LZ-mode symbols and audio-mode symbols into blocks, each with code
// tables of its own where a new table pays for its code-length block, and
// writes them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tools/encoder/lz_symbols.h"
#include "tools/encoder/stream_writer.h"

namespace lumo {

struct BlockPlan {
    std::vector<size_t> ends;  // end (exclusive symbol index) of each block
    uint64_t bits = 0;         // estimated size of all blocks, tables included
};

// How blocks are searched for: from pieces of `chunk` symbols, merged first
// by an estimate of their size (`estimate`: fast on many small pieces) and
// then by their exact size; `refine` then moves each boundary by a few pieces
// where that saves.
struct BlockSearch {
    size_t chunk;
    bool estimate;
    bool refine;
};
inline constexpr BlockSearch kCoarseLzBlocks{8192, false, false};
inline constexpr BlockSearch kFineLzBlocks{64, true, true};
// Between the passes of the cost-driven parse, which only learns prices from them.
inline constexpr BlockSearch kParseLzBlocks{64, true, false};
BlockPlan plan_lz_blocks(const StreamWriter& writer, std::span<const LzSymbol> symbols, BlockSearch search);

// Writes the planned blocks. Every block ends with the table switch except the
// last when `last_in_stream`. Adds what was coded to `histogram`.
void write_lz_blocks(StreamWriter& writer, std::span<const LzSymbol> symbols, const BlockPlan& plan,
                     bool last_in_stream, LzHistogram& histogram);

// Audio symbols: symbol i belongs to channel (first_channel + i) mod channels.
BlockPlan plan_audio_blocks(const StreamWriter& writer, std::span<const uint8_t> symbols, int channels,
                            int first_channel);
void write_audio_blocks(StreamWriter& writer, std::span<const uint8_t> symbols, int channels,
                        int first_channel, const BlockPlan& plan, bool last_in_stream);

}  // namespace lumo
