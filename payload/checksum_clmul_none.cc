// Processors without a carry-less multiply the build knows of: the container
// checksum runs on the table path alone.
#include "payload/checksum_paths.h"

namespace lumo {

bool checksum_clmul_available() { return false; }

uint32_t container_checksum_clmul(const uint8_t* data, size_t size, uint32_t seed) {
    return container_checksum_table(data, size, seed);
}

}  // namespace lumo
