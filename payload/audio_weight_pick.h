// The weight pick of the audio predictor: at the end of each channel's run
// of 32 bytes, eleven error sums rank "no change" against the ten single
// steps of the five weights. The fast predictor keeps the run's bytes and
// takes the sums here, on the widest vectors this processor has.
#pragma once

#include <array>
#include <cstdint>

namespace lumo {

// One channel's current run of 32 bytes: the symbol, the delta shared by
// all channels as it stood before the byte, and the channel's own delta,
// behind the last four deltas of the run before.
//
// The last byte's symbol and shared delta are not stored: the pick follows
// that byte at once and takes them as arguments. Vector loads over values
// stored a moment before would wait for the stores to reach the cache.
struct AudioRun {
    alignas(32) std::array<int16_t, 32> symbol{};
    alignas(32) std::array<int16_t, 32> shared_delta{};
    alignas(32) std::array<int16_t, 36> delta{};
};

// The index (0..10) of the smallest error sum, ties to the lower index, of
// a finished run whose last symbol and shared delta are `symbol_31` and
// `shared_delta_31`. With e = 8 * symbol and the terms d1 = delta[i+3],
// d2 = delta[i+3] - delta[i+2], d3 = delta[i+2] - delta[i+1],
// d4 = delta[i+1] - delta[i], cd = shared_delta[i], the sums over the 32
// bytes i are |e|, |e - d1|, |e + d1|, ..., |e - cd|, |e + cd|.
//
// Every term is at most 8 * 128 + 255 = 1279, so a sum of 32 fits 16 bits.
using WeightPick = int (*)(const AudioRun& run, int16_t symbol_31, int16_t shared_delta_31);

// The pick for this processor (which is asked once).
WeightPick weight_pick();

// The paths behind it, for tests that hold them against each other.
int weight_pick_portable(const AudioRun& run, int16_t symbol_31, int16_t shared_delta_31);
bool weight_pick_avx2_available();
// Only where available.
int weight_pick_avx2(const AudioRun& run, int16_t symbol_31, int16_t shared_delta_31);

}  // namespace lumo
