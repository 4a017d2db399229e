#include "payload/audio_weight_pick.h"

namespace lumo {
namespace {

using Column = std::array<int16_t, 32>;

// In 16-bit lanes, twice as many to a vector as 32-bit ones, which the
// compiler turns into vector code of the baseline instruction set.
uint32_t sum_abs(const Column& e, const Column& t, int16_t sign) {
    uint16_t sum = 0;
    for (int i = 0; i < 32; ++i) {
        const int16_t x = int16_t(e[i] - sign * t[i]);
        sum = uint16_t(sum + uint16_t(x < 0 ? -x : x));
    }
    return sum;
}

}  // namespace

int weight_pick_portable(const AudioRun& r, int16_t symbol_31, int16_t shared_delta_31) {
    Column e, d1, d2, d3, d4, cd = r.shared_delta;
    static constexpr Column zero{};
    for (int i = 0; i < 32; ++i) {
        e[i] = int16_t(r.symbol[i] * 8);
        d1[i] = r.delta[i + 3];
        d2[i] = int16_t(r.delta[i + 3] - r.delta[i + 2]);
        d3[i] = int16_t(r.delta[i + 2] - r.delta[i + 1]);
        d4[i] = int16_t(r.delta[i + 1] - r.delta[i]);
    }
    e[31] = int16_t(symbol_31 * 8);
    cd[31] = shared_delta_31;
    const std::array<uint32_t, 11> sums = {
        sum_abs(e, zero, 1), sum_abs(e, d1, 1), sum_abs(e, d1, -1), sum_abs(e, d2, 1),
        sum_abs(e, d2, -1),  sum_abs(e, d3, 1), sum_abs(e, d3, -1), sum_abs(e, d4, 1),
        sum_abs(e, d4, -1),  sum_abs(e, cd, 1), sum_abs(e, cd, -1)};
    int best = 0;
    for (int k = 1; k < 11; ++k)
        if (sums[k] < sums[best]) best = k;
    return best;
}

WeightPick weight_pick() { return weight_pick_avx2_available() ? weight_pick_avx2 : weight_pick_portable; }

}  // namespace lumo
