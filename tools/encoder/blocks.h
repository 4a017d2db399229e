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

// `chunk`: symbols per piece that blocks are built from; smaller pieces find
// better boundaries and take longer.
inline constexpr size_t kFineLzChunk = 2048;
inline constexpr size_t kCoarseLzChunk = 8192;
BlockPlan plan_lz_blocks(const StreamWriter& writer, std::span<const LzSymbol> symbols, size_t chunk);

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
