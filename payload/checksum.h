// The container checksum: CRC-32 over bytes with the reflected polynomial
// 0xEDB88320, started from a fixed seed and never complemented at the end.
// Every checksum of the container image (header, directory, each entry's
// data) uses it with the same seed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumo {

// The seed of every container checksum; its four bytes in memory read "ivoT".
inline constexpr uint32_t checksum_seed = 0x546F7669;

// The byte rule, one step: the value after `byte` has been added.
uint32_t checksum_byte(uint32_t value, uint8_t byte);

// Runs the byte rule over `size` bytes from `seed`, with the same result as
// byte by byte: on x86 processors with a carry-less multiply, ranges of 64
// bytes and more fold 16-byte blocks; otherwise eight bytes per pass through
// tables. A size of 0 returns the seed.
uint32_t container_checksum(const uint8_t* data, size_t size, uint32_t seed = checksum_seed);

}  // namespace lumo
