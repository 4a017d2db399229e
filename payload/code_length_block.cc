#include "payload/code_length_block.h"

#include "payload/match_tables.h"

namespace lumo {

// Format notes on what a stream leaves open:
// - The length area starts from zeros in every block. The old lengths saved
//   after a block are so its own lengths below its table size and 0 beyond
//   (after an LZ block, entries 374..1027 are 0).
// - A repeat (16) at the first position of a block repeats length 0.
void read_code_tables(BitInput& in, CodeTables& t) {
    if (in.byte_offset > block_refill_threshold) in.refill_input();

    const auto [header_bits, table_size] = start_code_length_block(t, in.peek_bits() >> 12);
    in.skip_bits(header_bits);

    std::array<uint8_t, bit_length_alphabet_size> bit_lengths{};
    for (auto& l : bit_lengths) l = uint8_t(in.read_bits(4));
    build_code_table(bit_lengths.data(), bit_length_alphabet_size, t.bit_length);

    std::array<uint8_t, length_area_size> lengths{};
    uint32_t i = 0;
    while (i < table_size) {
        if (in.byte_offset > length_refill_threshold) in.refill_input();
        const uint32_t c = decode_symbol(in, t.bit_length);
        if (c < 16) {
            lengths[i] = uint8_t((c + t.old_lengths[i]) & 15);
            ++i;
            continue;
        }
        uint32_t run;
        uint8_t value = 0;
        if (c == 16) {
            run = 3 + in.read_bits(2);
            value = i == 0 ? 0 : lengths[i - 1];
        } else if (c == 17) {
            run = 3 + in.read_bits(3);
        } else {
            run = 11 + in.read_bits(7);
        }
        for (; run > 0 && i < table_size; --run) lengths[i++] = value;
    }
    finish_code_length_block(t, lengths);
}

CodeLengthBlockStart start_code_length_block(CodeTables& t, uint32_t first_four_bits) {
    t.audio_mode = (first_four_bits & 8) != 0;
    if ((first_four_bits & 4) == 0) t.old_lengths.fill(0);
    if (!t.audio_mode) return {2, lz_table_size};
    t.channel_count = int32_t(first_four_bits & 3) + 1;
    // Format note: the channel restarts at 0 only when the new count
    // leaves it out; otherwise the rotation goes on where it was.
    if (t.current_channel >= t.channel_count) t.current_channel = 0;
    return {4, audio_alphabet_size * uint32_t(t.channel_count)};
}

void finish_code_length_block(CodeTables& t, const std::array<uint8_t, length_area_size>& lengths) {
    if (t.audio_mode) {
        for (int32_t k = 0; k < t.channel_count; ++k)
            build_code_table(lengths.data() + audio_alphabet_size * k, audio_alphabet_size, t.audio[k]);
    } else {
        build_code_table(lengths.data(), main_alphabet_size, t.main);
        build_code_table(lengths.data() + main_alphabet_size, distance_alphabet_size, t.distance);
        build_code_table(lengths.data() + main_alphabet_size + distance_alphabet_size,
                         repeat_length_alphabet_size, t.repeat_length);
    }
    t.old_lengths = lengths;
}

}  // namespace lumo
