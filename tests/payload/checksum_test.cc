#include "payload/checksum.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace lumo {
namespace {

uint32_t by_byte_rule(const uint8_t* data, size_t size, uint32_t seed) {
    for (size_t i = 0; i < size; ++i) seed = checksum_byte(seed, data[i]);
    return seed;
}

TEST(ContainerChecksum, EmptyRangeYieldsTheSeed) {
    EXPECT_EQ(container_checksum(nullptr, 0), 0x546F7669u);
    EXPECT_EQ(container_checksum(nullptr, 0, 1234), 1234u);
}

// With the usual seed and a final complement the rule is the common CRC-32,
// whose check value pins the polynomial, the table and the bit order.
TEST(ContainerChecksum, IsTheReflectedCrc32WithoutComplement) {
    const char* text = "123456789";
    const auto* p = reinterpret_cast<const uint8_t*>(text);
    EXPECT_EQ(container_checksum(p, 9, 0xFFFFFFFF) ^ 0xFFFFFFFF, 0xCBF43926u);
    EXPECT_NE(container_checksum(p, 9), container_checksum(p, 9, 0xFFFFFFFF));
}

// The eight-bytes-per-pass loop must equal the byte rule at every length and
// alignment, tails of 1..7 bytes included.
TEST(ContainerChecksum, EightBytePassesEqualTheByteRule) {
    std::mt19937 rng(7);
    std::vector<uint8_t> data(300);
    for (auto& b : data) b = uint8_t(rng());
    for (size_t start = 0; start < 8; ++start)
        for (size_t size = 0; size + start <= data.size(); size += 1 + size / 9)
            ASSERT_EQ(container_checksum(data.data() + start, size),
                      by_byte_rule(data.data() + start, size, checksum_seed))
                << "start " << start << " size " << size;
}

}  // namespace
}  // namespace lumo
