// The code-length block: the record at the start of the stream and after
// every table switch that sets the mode and rebuilds the code tables.
//
// Bit layout, in stream order:
//   1       audio mode
//   1       keep old lengths (0: all 1028 old lengths start from zero)
//   2       channel count - 1 (audio mode only)
//   19 x 4  code lengths of the bit-length code, symbols 0..18
//   ...     the table's code lengths, coded with the bit-length code:
//           0..15 added to the old length modulo 16; 16 repeats the previous
//           length 3..6 times (2 more bits); 17 writes 3..10 zeros (3 bits);
//           18 writes 11..138 zeros (7 bits). A run stops at the table size.
#pragma once

#include <array>
#include <cstdint>

#include "payload/audio_predictor.h"
#include "payload/bit_input.h"
#include "payload/code_table.h"

namespace lumo {

inline constexpr uint32_t bit_length_alphabet_size = 19;
inline constexpr uint32_t distance_alphabet_size = 48;
inline constexpr uint32_t repeat_length_alphabet_size = 28;
inline constexpr uint32_t lz_table_size = 298 + 48 + 28;  // main, distance, repeat-length
inline constexpr uint32_t length_area_size = 4 * 257;     // four audio tables
static_assert(lz_table_size == 374 && length_area_size == 1028);

struct CodeTables {
    CodeTable bit_length;
    CodeTable main;
    CodeTable distance;
    CodeTable repeat_length;
    std::array<CodeTable, max_audio_channels> audio;

    // Block settings.
    bool audio_mode = false;
    int32_t channel_count = 0;    // 1..4 once an audio block has been read
    int32_t current_channel = 0;  // channel of the next audio byte

    // The lengths of the last block, to which the next block's deltas are added.
    std::array<uint8_t, length_area_size> old_lengths{};
};

// Reads one code-length block and rebuilds the tables of its mode; the tables
// of the other mode keep their contents.
void read_code_tables(BitInput& in, CodeTables& tables);

// The two ends of a block, for readers of its lengths.
//
// The block's settings from its first four bits (the bits after the first
// two count only in an audio block): how many of them the block takes and
// how many code lengths follow.
struct CodeLengthBlockStart {
    uint32_t header_bits;
    uint32_t table_size;
};
CodeLengthBlockStart start_code_length_block(CodeTables& tables, uint32_t first_four_bits);
// Builds the tables of the block's mode from its lengths (zero past the
// table size) and keeps the lengths for the next block.
void finish_code_length_block(CodeTables& tables, const std::array<uint8_t, length_area_size>& lengths);

}  // namespace lumo
