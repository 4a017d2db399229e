// Generated images that lead the encoder into each of its choices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumo::test {

using Bytes = std::vector<uint8_t>;

Bytes random_bytes(size_t n, uint64_t seed);
// Words of a small vocabulary: literals with skewed statistics, many matches.
Bytes word_text(size_t n, uint64_t seed);
// A block repeated with one byte changed every 16: the same match length and
// distance over and over (the repeat symbol), plus fields that recur at a few
// distances (old distances) and two-byte echoes (short matches).
Bytes symbol_mix(size_t n, uint64_t seed);
// A RIFF/WAVE file of 16-bit samples (a slow sine with a little noise).
Bytes wav_file(size_t frames, int channels, uint64_t seed);
// Random stretches that come back up to a whole window later; longer than
// the window, so positions wrap.
Bytes far_repeats(size_t n, uint64_t seed);

void append(Bytes& to, const Bytes& from);

}  // namespace lumo::test
