#include "payload/fast_code_length_block.h"

#include <algorithm>
#include <cstring>

#include "payload/bit_reader.h"
#include "payload/fast_lookup.h"

namespace lumo {

void read_code_tables_fast(BitInput& input, CodeTables& t) {
    if (input.byte_offset > block_refill_threshold) input.refill_input();
    BitReader in(input);
    in.refill();
    const auto [header_bits, table_size] = start_code_length_block(t, top_bits(in.bits, 4));
    in.consume(header_bits);

    // 76 bits, more than one refill holds; no buffer refill on the way, as
    // in the reference.
    std::array<uint8_t, bit_length_alphabet_size> bit_lengths{};
    for (auto& l : bit_lengths) {
        in.refill();
        l = uint8_t(in.take(4));
    }
    build_code_table(bit_lengths.data(), bit_length_alphabet_size, t.bit_length);
    // Symbol in the low byte, code length in the high one; 0 for a code
    // longer than 8 bits.
    std::array<uint16_t, 256> lookup;
    build_lookup<8>(t.bit_length, lookup, uint16_t(0),
                    [](uint32_t symbol, uint32_t length, uint32_t) { return uint16_t(symbol | length << 8); });

    std::array<uint8_t, length_area_size> lengths{};
    uint32_t i = 0;
    while (i < table_size) {
        if (in.byte_offset() > length_refill_threshold) {
            in.store(input);
            input.refill_input();
            in.load(input);
        }
        in.refill();
        uint32_t c, n;
        if (const uint32_t entry = lookup[in.bits >> 56]; entry != 0) {
            c = entry & 0xFF, n = entry >> 8;
        } else {
            const LongCode l = decode_long_code(t.bit_length, in.bits);
            c = l.symbol, n = l.length;
        }
        in.consume(n);
        if (c < 16) {
            lengths[i] = uint8_t((c + t.old_lengths[i]) & 15);
            ++i;
            continue;
        }
        uint32_t run;
        uint8_t value = 0;
        if (c == 16) {
            run = 3 + in.take(2);
            value = i == 0 ? 0 : lengths[i - 1];
        } else if (c == 17) {
            run = 3 + in.take(3);
        } else {
            run = 11 + in.take(7);
        }
        run = std::min(run, table_size - i);
        std::memset(lengths.data() + i, value, run);
        i += run;
    }
    in.store(input);
    finish_code_length_block(t, lengths);
}

}  // namespace lumo
