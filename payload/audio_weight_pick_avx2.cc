// The weight pick on AVX2: a run's 32 terms are two vectors of sixteen
// 16-bit lanes, the eleven sums are added lane by lane, folded to one value
// each by pairwise adds, and the smallest found by PHMINPOSUW, which also
// breaks ties to the lower index as the pick does. Everything stays in
// registers: named values rather than arrays, which the compiler would keep
// in memory (and zero with a string store) at more than twice the cost.
#include <immintrin.h>

#include <algorithm>

#include "payload/audio_weight_pick.h"
#include "payload/x86_features.h"

#define LUMO_AVX2 __attribute__((target("avx2")))

namespace lumo {
namespace {

LUMO_AVX2 inline __m256i load(const int16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The sums of the lanes of eight vectors, in the order given. Each round of
// pairwise adds halves the values per vector within each 128-bit half; after
// three, each half holds the eight vectors' sums over that half.
LUMO_AVX2 inline __m128i lane_sums(__m256i v0, __m256i v1, __m256i v2, __m256i v3, __m256i v4,
                                   __m256i v5, __m256i v6, __m256i v7) {
    const __m256i a = _mm256_hadd_epi16(v0, v1), b = _mm256_hadd_epi16(v2, v3);
    const __m256i c = _mm256_hadd_epi16(v4, v5), d = _mm256_hadd_epi16(v6, v7);
    const __m256i s = _mm256_hadd_epi16(_mm256_hadd_epi16(a, b), _mm256_hadd_epi16(c, d));
    return _mm_add_epi16(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
}

// Values 16..30 of a run's column, loaded without touching value 31, with
// `last` in the top lane: the vector from value 15 on, moved down one lane.
LUMO_AVX2 inline __m256i load_high_half(const int16_t* column, int16_t last) {
    const __m256i from_15 = load(column + 15);
    const __m256i top = _mm256_permute2x128_si256(from_15, _mm256_set1_epi16(last), 0x21);
    return _mm256_alignr_epi8(top, from_15, 2);
}

// Sixteen bytes of a run from byte h on: e = 8 * symbol and the five terms.
struct Terms {
    __m256i e, t[5];
};

LUMO_AVX2 inline Terms terms(const AudioRun& r, int h, __m256i symbol, __m256i shared_delta) {
    const __m256i p0 = load(&r.delta[h]), p1 = load(&r.delta[h + 1]);
    const __m256i p2 = load(&r.delta[h + 2]), p3 = load(&r.delta[h + 3]);
    return {_mm256_slli_epi16(symbol, 3),
            {p3, _mm256_sub_epi16(p3, p2), _mm256_sub_epi16(p2, p1), _mm256_sub_epi16(p1, p0),
             shared_delta}};
}

// |u + sign t| + |v + sign w|, lane by lane.
LUMO_AVX2 inline __m256i sum(__m256i u, __m256i t, __m256i v, __m256i w, int sign) {
    if (sign < 0) return _mm256_add_epi16(_mm256_abs_epi16(_mm256_sub_epi16(u, t)),
                                          _mm256_abs_epi16(_mm256_sub_epi16(v, w)));
    return _mm256_add_epi16(_mm256_abs_epi16(_mm256_add_epi16(u, t)),
                            _mm256_abs_epi16(_mm256_add_epi16(v, w)));
}

LUMO_AVX2 inline __m256i sum(const Terms& x, const Terms& y, int t, int sign) {
    return sum(x.e, x.t[t], y.e, y.t[t], sign);
}

// The smallest of eight sums and its lane as one number, the lane below the
// sum: PHMINPOSUW leaves the sum in bits 0..15 and the lane in 16..18.
LUMO_AVX2 inline uint32_t smallest(__m128i sums) {
    const uint32_t m = uint32_t(_mm_cvtsi128_si32(_mm_minpos_epu16(sums)));
    return m << 16 | m >> 16;
}

}  // namespace

bool weight_pick_avx2_available() { return x86_has_avx2(); }

LUMO_AVX2 int weight_pick_avx2(const AudioRun& r, int16_t symbol_31, int16_t shared_delta_31) {
    const Terms x = terms(r, 0, load(&r.symbol[0]), load(&r.shared_delta[0]));
    const Terms y = terms(r, 16, load_high_half(r.symbol.data(), symbol_31),
                          load_high_half(r.shared_delta.data(), shared_delta_31));
    const __m256i zero = _mm256_setzero_si256();
    const __m128i low = lane_sums(sum(x.e, zero, y.e, zero, 1),       // |e|
                                  sum(x, y, 0, -1), sum(x, y, 0, 1),  // |e -+ d1|
                                  sum(x, y, 1, -1), sum(x, y, 1, 1),  // |e -+ d2|
                                  sum(x, y, 2, -1), sum(x, y, 2, 1),  // |e -+ d3|
                                  sum(x, y, 3, -1));                  // |e - d4|
    const __m128i sums_8_10 = lane_sums(sum(x, y, 3, 1),                     // |e + d4|
                                        sum(x, y, 4, -1), sum(x, y, 4, 1),  // |e -+ cd|
                                        zero, zero, zero, zero, zero);
    // Lanes 3..7 of the second group are not sums: 0xFFFF is above any sum.
    const __m128i high = _mm_or_si128(sums_8_10, _mm_setr_epi16(0, 0, 0, -1, -1, -1, -1, -1));
    // One number per group orders both by sum and then by index, without
    // a branch to mispredict.
    return int(std::min(smallest(low), smallest(high) + 8) & 0xFFFF);
}

}  // namespace lumo
