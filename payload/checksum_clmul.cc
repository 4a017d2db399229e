// The container checksum by carry-less multiplication (x86 PCLMULQDQ).
//
// The byte rule computes, for a message M and running value v, the remainder
// (M + v in the first 32 bits) * x^32 mod P in bit-reflected form: bit i of a
// value is the coefficient of the highest power less i. Loaded little-endian,
// a 16-byte block reads the same way: bit i of the 128-bit register is the
// coefficient of x^(127-i). Any stretch of the message may be replaced by a
// shorter polynomial congruent to it mod P, which is what folding does:
// a block followed by D bits of message is worth block * x^D, and
// multiplying its two halves by x^D reduced mod P gives a value of at most
// 96 bits that lands on the block D bits further on. Once one block is left,
// the byte rule over its 16 bytes (from 0) gives its remainder, and the byte
// rule goes on over the last bytes of the range.
#include "payload/checksum_paths.h"
#include "payload/x86_features.h"

#include <immintrin.h>
#include <wmmintrin.h>

namespace lumo {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320;

// x^n mod P, reflected into the high half of a 64-bit lane, where bit i
// stands for x^(63-i) as in the halves of a loaded block.
constexpr uint64_t x_power_mod_p(unsigned n) {
    uint32_t v = 0x80000000;  // x^0
    for (unsigned i = 0; i < n; ++i) v = (v & 1) ? (v >> 1) ^ kPolynomial : v >> 1;
    return uint64_t(v) << 32;
}

// Multiplying two such 64-bit lanes gives a 127-bit product in bits 0..126,
// one place short of the 128-bit reading: the register holds product * x.
// So a fold over D bits multiplies the high-order half (the low lane, whose
// weight is x^64) by x^(63+D) mod P, and the other half by x^(D-1) mod P.
struct FoldConstants {
    uint64_t low_lane;   // x^(63+D) mod P
    uint64_t high_lane;  // x^(D-1) mod P
};

constexpr FoldConstants fold_over(unsigned bits) { return {x_power_mod_p(63 + bits), x_power_mod_p(bits - 1)}; }

constexpr FoldConstants kFoldOneBlock = fold_over(128);     // onto the next block
constexpr FoldConstants kFoldFourBlocks = fold_over(512);   // onto the block four on
static_assert(x_power_mod_p(32) == uint64_t(kPolynomial) << 32, "x^32 mod P is P without its top term");
static_assert(x_power_mod_p(31) == 1ull << 32, "a power below 32 is itself");

__attribute__((target("pclmul,sse2"))) inline __m128i constants_of(FoldConstants k) {
    return _mm_set_epi64x(static_cast<long long>(k.high_lane), static_cast<long long>(k.low_lane));
}

__attribute__((target("pclmul,sse2"))) inline __m128i fold(__m128i block, __m128i k, __m128i onto) {
    const __m128i low = _mm_clmulepi64_si128(block, k, 0x00);
    const __m128i high = _mm_clmulepi64_si128(block, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), onto);
}

__attribute__((target("pclmul,sse2"))) inline __m128i load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

}  // namespace

bool checksum_clmul_available() { return x86_has_pclmul(); }

__attribute__((target("pclmul,sse2"))) uint32_t container_checksum_clmul(const uint8_t* data, size_t size,
                                                                         uint32_t seed) {
    if (size < 64) return container_checksum_table(data, size, seed);

    // Four streams in flight hide the multiplier's latency; the running value
    // joins the message in its first four bytes, as in the byte rule.
    __m128i a = _mm_xor_si128(load(data), _mm_cvtsi32_si128(static_cast<int>(seed)));
    __m128i b = load(data + 16);
    __m128i c = load(data + 32);
    __m128i d = load(data + 48);
    data += 64;
    size -= 64;
    const __m128i four = constants_of(kFoldFourBlocks);
    for (; size >= 64; size -= 64, data += 64) {
        a = fold(a, four, load(data));
        b = fold(b, four, load(data + 16));
        c = fold(c, four, load(data + 32));
        d = fold(d, four, load(data + 48));
    }

    const __m128i one = constants_of(kFoldOneBlock);
    __m128i acc = fold(fold(fold(a, one, b), one, c), one, d);
    for (; size >= 16; size -= 16, data += 16) acc = fold(acc, one, load(data));

    alignas(16) uint8_t last[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(last), acc);
    return container_checksum_table(data, size, container_checksum_table(last, 16, 0));
}

}  // namespace lumo
