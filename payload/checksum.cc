#include "payload/checksum.h"

#include <array>

#include "payload/checksum_paths.h"

namespace lumo {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320;

// One step of the byte rule for the byte `i` from a running value of 0: i
// shifted right eight times, XORed with the polynomial whenever a 1 bit falls
// out.
constexpr uint32_t byte_rule(uint32_t i) {
    for (int bit = 0; bit < 8; ++bit) i = (i & 1) ? (i >> 1) ^ kPolynomial : i >> 1;
    return i;
}
static_assert(byte_rule(1) == 0x77073096, "the table of the reflected CRC-32 polynomial");
static_assert(byte_rule(255) == 0x2D02EF8D);

// tables[0] is the table of the byte rule. tables[k] is the effect of a byte
// followed by k zero bytes, which lets one pass fold in eight bytes (slicing
// by eight) with the result of eight single steps.
//
// Built when the program starts rather than stored in it: every installer
// carries this code, and the tables would be a tenth of it. The priority
// builds them before any other static object of the program, which might
// compute a checksum.
std::array<std::array<uint32_t, 256>, 8> tables;

struct TableBuilder {
    TableBuilder() {
        for (uint32_t i = 0; i < 256; ++i) tables[0][i] = byte_rule(i);
        for (uint32_t i = 0; i < 256; ++i)
            for (int k = 1; k < 8; ++k) tables[k][i] = (tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFF];
    }
};
__attribute__((init_priority(101))) TableBuilder table_builder;

uint32_t load_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

uint32_t checksum_byte(uint32_t value, uint8_t byte) {
    return tables[0][(value ^ byte) & 0xFF] ^ (value >> 8);
}

uint32_t container_checksum_table(const uint8_t* data, size_t size, uint32_t seed) {
    uint32_t v = seed;
    for (; size >= 8; size -= 8, data += 8) {
        const uint32_t lo = v ^ load_le32(data);
        const uint32_t hi = load_le32(data + 4);
        v = tables[7][lo & 0xFF] ^ tables[6][(lo >> 8) & 0xFF] ^ tables[5][(lo >> 16) & 0xFF] ^
            tables[4][lo >> 24] ^ tables[3][hi & 0xFF] ^ tables[2][(hi >> 8) & 0xFF] ^
            tables[1][(hi >> 16) & 0xFF] ^ tables[0][hi >> 24];
    }
    for (; size > 0; --size, ++data) v = checksum_byte(v, *data);
    return v;
}

// Short ranges (names, headers, small entries) stay on the table path: the
// folding loop needs four blocks to start and its setup would cost more.
uint32_t container_checksum(const uint8_t* data, size_t size, uint32_t seed) {
    if (size >= 64 && checksum_clmul_available()) return container_checksum_clmul(data, size, seed);
    return container_checksum_table(data, size, seed);
}

}  // namespace lumo
