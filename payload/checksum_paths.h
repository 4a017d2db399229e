// The two ways the container checksum is computed, for the dispatcher in
// checksum.cc and for tests that hold them against each other. Both give the
// result of the byte rule; callers outside the payload use container_checksum.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumo {

// Eight bytes per pass through eight tables (slicing by eight); any size.
uint32_t container_checksum_table(const uint8_t* data, size_t size, uint32_t seed);

// True when this processor multiplies without carries (x86 PCLMULQDQ), so
// container_checksum_clmul may run. Asked of the processor once.
bool checksum_clmul_available();

// Folds 16-byte blocks by carry-less multiplication, four streams at a time.
// Only to be called when checksum_clmul_available(); below 64 bytes it hands
// the range to the table path.
uint32_t container_checksum_clmul(const uint8_t* data, size_t size, uint32_t seed);

}  // namespace lumo
