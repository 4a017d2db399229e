#include "payload/audio_predictor.h"

#include <cstdlib>

namespace lumo {
namespace {

// The deltas as they stand once the byte about to be coded has shifted the
// history by one: d1 becomes the last delta, d2 the change of the delta.
struct ShiftedDeltas {
    int32_t d1, d2, d3, d4;
};

ShiftedDeltas shifted(const AudioChannel& v) {
    return {v.last_delta, v.last_delta - v.d[0], v.d[1], v.d[2]};
}

int32_t as_int8(int32_t value) { return int32_t(int8_t(uint8_t(value & 0xFF))); }

}  // namespace

uint8_t audio_prediction(const AudioChannel& v, int32_t channel_delta) {
    const ShiftedDeltas d = shifted(v);
    const int32_t sum = 8 * v.last_byte + v.w[0] * d.d1 + v.w[1] * d.d2 + v.w[2] * d.d3 +
                        v.w[3] * d.d4 + v.w[4] * channel_delta;
    return uint8_t((sum >> 3) & 0xFF);  // arithmetic shift: the sign is kept
}

void audio_update(AudioChannel& v, int32_t& channel_delta, uint8_t symbol, uint8_t byte) {
    v.byte_count += 1;
    const ShiftedDeltas d = shifted(v);
    v.d = {d.d1, d.d2, d.d3, d.d4};

    // Format note: the error is scaled by 8 but the deltas it is compared with
    // are not; the sums only rank the candidate weight changes.
    const int32_t e = as_int8(symbol) * 8;
    const int32_t cd = channel_delta;  // of the byte before this one
    const int32_t terms[5] = {d.d1, d.d2, d.d3, d.d4, cd};
    v.error_sums[0] += uint32_t(std::abs(e));
    for (int k = 0; k < 5; ++k) {
        v.error_sums[1 + 2 * k] += uint32_t(std::abs(e - terms[k]));
        v.error_sums[2 + 2 * k] += uint32_t(std::abs(e + terms[k]));
    }

    v.last_delta = channel_delta = as_int8(int32_t(byte) - v.last_byte);
    v.last_byte = byte;

    if (v.byte_count % 32 != 0) return;
    int best = 0;
    for (int k = 1; k < 11; ++k)
        if (v.error_sums[k] < v.error_sums[best]) best = k;  // a tie keeps the lower index
    v.error_sums.fill(0);
    if (best == 0) return;
    int32_t& w = v.w[(best - 1) / 2];
    if (best % 2 == 1) {
        if (w >= -16) w -= 1;
    } else {
        if (w < 16) w += 1;
    }
}

}  // namespace lumo
