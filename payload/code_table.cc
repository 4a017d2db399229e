#include "payload/code_table.h"

namespace lumo {

void build_code_table(const uint8_t* lengths, uint32_t count, CodeTable& table) {
    std::array<uint32_t, 16> per_length{};
    for (uint32_t s = 0; s < count; ++s) ++per_length[lengths[s] & 15];
    per_length[0] = 0;

    table.limit[0] = 0;
    table.first_position[0] = 0;
    uint32_t n = 0;
    for (uint32_t i = 1; i <= max_code_length; ++i) {
        n = 2 * (n + per_length[i]);
        const uint32_t limit = n << (15 - i);  // at most 298 * 2^15: no overflow
        table.limit[i] = limit > 0xFFFF ? 0xFFFF : limit;
        table.first_position[i] = table.first_position[i - 1] + per_length[i - 1];
    }

    std::array<uint32_t, 16> next = table.first_position;
    for (uint32_t s = 0; s < count; ++s) {
        const uint32_t length = lengths[s] & 15;
        if (length != 0) table.symbol_list[next[length]++] = uint16_t(s);
    }
    table.symbol_count = count;
}

}  // namespace lumo
