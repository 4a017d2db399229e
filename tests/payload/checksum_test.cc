#include "payload/checksum.h"
#include "payload/checksum_paths.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
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

struct ChecksumPath {
    const char* name;
    uint32_t (*run)(const uint8_t*, size_t, uint32_t);
};

// Every way the checksum may be computed on this machine: the folding path is
// called directly (not through the size threshold) wherever the processor
// has the carry-less multiply.
std::vector<ChecksumPath> paths_on_this_machine() {
    std::vector<ChecksumPath> paths = {{"dispatch", [](const uint8_t* d, size_t n, uint32_t s) {
                                            return container_checksum(d, n, s);
                                        }},
                                       {"table", container_checksum_table}};
    if (checksum_clmul_available()) paths.push_back({"clmul", container_checksum_clmul});
    return paths;
}

// The range is copied to the end of a buffer of its exact size, so that a read
// past its last byte is caught by the sanitizer build; `start` bytes in front
// shift it off the 16-byte alignment of the allocation.
struct Range {
    std::vector<uint8_t> buffer;
    size_t start;
    const uint8_t* data() const { return buffer.data() + start; }
    size_t size() const { return buffer.size() - start; }
};

Range range_of(const std::vector<uint8_t>& bytes, size_t size, size_t start) {
    Range r{std::vector<uint8_t>(start + size), start};
    if (size > 0) std::memcpy(r.buffer.data() + start, bytes.data(), size);
    return r;
}

std::vector<uint8_t> random_bytes(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(size);
    for (auto& b : bytes) b = uint8_t(rng());
    return bytes;
}

// Seeds whose bits would show up a running value joined at the wrong place or
// complemented: none set, all set, the container's own, and an arbitrary one.
constexpr uint32_t kSeeds[] = {0, 0xFFFFFFFF, checksum_seed, 0x9E3779B9};

// Every length up to 300 covers the table's tails, the start of the four
// streams at 64 bytes, 0..3 single blocks after them and every 0..15-byte tail.
TEST(ContainerChecksum, EveryPathEqualsTheByteRuleAtShortLengths) {
    const auto bytes = random_bytes(300, 11);
    for (const auto& path : paths_on_this_machine())
        for (uint32_t seed : kSeeds)
            for (size_t start : {0, 1, 3, 8, 15})
                for (size_t size = 0; size <= 300; ++size) {
                    const Range r = range_of(bytes, size, start);
                    ASSERT_EQ(path.run(r.data(), r.size(), seed), by_byte_rule(r.data(), r.size(), seed))
                        << path.name << " seed " << std::hex << seed << std::dec << " start " << start
                        << " size " << size;
                }
}

// Long ranges run the four-stream loop many times; the odd sizes leave a
// block or two and a tail after it.
TEST(ContainerChecksum, EveryPathEqualsTheByteRuleAtLargeSizes) {
    const auto bytes = random_bytes((1u << 20) + 77, 12);
    for (size_t size : {size_t(4096), size_t(65536 + 48), size_t(1u << 20), size_t((1u << 20) + 13),
                        size_t((1u << 20) + 77)})
        for (size_t start : {0, 5}) {
            const Range r = range_of(bytes, size, start);
            for (uint32_t seed : kSeeds) {
                const uint32_t expected = by_byte_rule(r.data(), r.size(), seed);
                for (const auto& path : paths_on_this_machine())
                    ASSERT_EQ(path.run(r.data(), r.size(), seed), expected)
                        << path.name << " seed " << std::hex << seed << std::dec << " start " << start
                        << " size " << size;
            }
        }
}

// The running value carries over exactly: checking a range in two pieces, the
// second started from the first's result, equals checking it whole, wherever
// the cut falls with respect to the blocks and the short-range threshold.
TEST(ContainerChecksum, RunningValueCarriesAcrossPieces) {
    const auto bytes = random_bytes(1000, 13);
    const uint32_t whole = by_byte_rule(bytes.data(), bytes.size(), checksum_seed);
    for (const auto& path : paths_on_this_machine())
        for (size_t cut : {0, 1, 15, 16, 63, 64, 65, 127, 500, 999, 1000}) {
            const uint32_t first = path.run(bytes.data(), cut, checksum_seed);
            EXPECT_EQ(path.run(bytes.data() + cut, bytes.size() - cut, first), whole)
                << path.name << " cut " << cut;
        }
}

// All-zero and all-one blocks: a value that folds to nothing must still leave
// the running value's contribution in place.
TEST(ContainerChecksum, UniformBlocksEqualTheByteRule) {
    for (uint8_t fill : {uint8_t(0x00), uint8_t(0xFF)}) {
        const std::vector<uint8_t> bytes(4099, fill);
        for (uint32_t seed : kSeeds)
            for (const auto& path : paths_on_this_machine())
                EXPECT_EQ(path.run(bytes.data(), bytes.size(), seed), by_byte_rule(bytes.data(), bytes.size(), seed))
                    << path.name << " fill " << int(fill) << " seed " << std::hex << seed;
    }
}

}  // namespace
}  // namespace lumo
