#include "tools/encoder/encoder.h"

namespace lumo {

namespace {
// The decoder's key at the start of a process, and the step from one stored
// word to the key of the next.
constexpr uint32_t kInitialKey = 0x546F7669;
constexpr uint32_t kKeyStep = 0x6B2D;
}  // namespace

void scramble_stream(std::span<uint8_t> stream) {
    uint32_t key = kInitialKey;
    size_t i = 0;
    for (; i + 4 <= stream.size(); i += 4) {
        const uint32_t plain = uint32_t(stream[i]) | uint32_t(stream[i + 1]) << 8 |
                               uint32_t(stream[i + 2]) << 16 | uint32_t(stream[i + 3]) << 24;
        const uint32_t stored = plain ^ key;
        for (int b = 0; b < 4; ++b) stream[i + b] = uint8_t(stored >> (8 * b));
        key = stored + kKeyStep;
    }
    for (int b = 0; i < stream.size(); ++i, ++b) stream[i] ^= uint8_t(key >> (8 * b));
}

}  // namespace lumo
