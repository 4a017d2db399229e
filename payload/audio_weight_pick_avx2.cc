// The weight pick on AVX2: a run's 32 terms are two vectors of sixteen
// 16-bit lanes, the eleven sums are added lane by lane, folded to one value
// each by pairwise adds, and the smallest found by PHMINPOSUW, which also
// breaks ties to the lower index as the pick does.
#include <immintrin.h>

#include "payload/audio_weight_pick.h"

#define LUMO_AVX2 __attribute__((target("avx2")))

namespace lumo {
namespace {

LUMO_AVX2 inline __m256i load(const int16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The sums of the lanes of eight vectors, in the order given. Each round of
// pairwise adds halves the values per vector within each 128-bit half; after
// three, each half holds the eight vectors' sums over that half.
LUMO_AVX2 inline __m128i lane_sums(const __m256i* v) {
    const __m256i a = _mm256_hadd_epi16(v[0], v[1]), b = _mm256_hadd_epi16(v[2], v[3]);
    const __m256i c = _mm256_hadd_epi16(v[4], v[5]), d = _mm256_hadd_epi16(v[6], v[7]);
    const __m256i s = _mm256_hadd_epi16(_mm256_hadd_epi16(a, b), _mm256_hadd_epi16(c, d));
    return _mm_add_epi16(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
}

}  // namespace

bool weight_pick_avx2_available() {
    static const bool available = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return available;
}

LUMO_AVX2 int weight_pick_avx2(const AudioRun& r) {
    // Sums 0..10, then five that stay zero and are masked off below.
    __m256i sums[16];
    for (__m256i& s : sums) s = _mm256_setzero_si256();
    for (int h = 0; h < 32; h += 16) {
        const __m256i e = _mm256_slli_epi16(load(&r.symbol[h]), 3);
        const __m256i p0 = load(&r.delta[h]), p1 = load(&r.delta[h + 1]);
        const __m256i p2 = load(&r.delta[h + 2]), p3 = load(&r.delta[h + 3]);
        const __m256i terms[5] = {p3, _mm256_sub_epi16(p3, p2), _mm256_sub_epi16(p2, p1),
                                  _mm256_sub_epi16(p1, p0), load(&r.shared_delta[h])};
        sums[0] = _mm256_add_epi16(sums[0], _mm256_abs_epi16(e));
        for (int t = 0; t < 5; ++t) {
            sums[1 + 2 * t] = _mm256_add_epi16(sums[1 + 2 * t], _mm256_abs_epi16(_mm256_sub_epi16(e, terms[t])));
            sums[2 + 2 * t] = _mm256_add_epi16(sums[2 + 2 * t], _mm256_abs_epi16(_mm256_add_epi16(e, terms[t])));
        }
    }
    const __m128i low = lane_sums(&sums[0]);
    // Lanes 3..7 of the second group are not sums: 0xFFFF is above any sum.
    const __m128i high = _mm_or_si128(lane_sums(&sums[8]),
                                      _mm_setr_epi16(0, 0, 0, -1, -1, -1, -1, -1));
    const uint32_t a = uint32_t(_mm_cvtsi128_si32(_mm_minpos_epu16(low)));
    const uint32_t b = uint32_t(_mm_cvtsi128_si32(_mm_minpos_epu16(high)));
    // On equal minimums the first group holds the lower index.
    return (b & 0xFFFF) < (a & 0xFFFF) ? 8 + int((b >> 16) & 7) : int((a >> 16) & 7);
}

}  // namespace lumo
