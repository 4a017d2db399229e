#include "payload/x86_features.h"

#include <cpuid.h>
#include <immintrin.h>

#include <atomic>
#include <cstdint>

namespace lumo {
namespace {

constexpr uint8_t asked = 1;
constexpr uint8_t avx2 = 2;
constexpr uint8_t pclmul = 4;

// XCR0 bits 1 and 2: the system saves the SSE and the upper AVX registers.
constexpr uint64_t sse_and_avx_state = 0x6;

__attribute__((target("xsave"))) uint64_t enabled_register_state() { return _xgetbv(0); }

uint8_t ask_processor() {
    uint8_t found = asked;
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return found;
    if ((ecx & bit_PCLMUL) && (edx & bit_SSE2)) found |= pclmul;
    const bool avx_usable = (ecx & bit_OSXSAVE) && (ecx & bit_AVX) &&
                            (enabled_register_state() & sse_and_avx_state) == sse_and_avx_state;
    if (avx_usable && __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & bit_AVX2)) found |= avx2;
    return found;
}

// Constant-initialised, so that no guard (and with it no lock) is needed.
std::atomic<uint8_t> known_features{0};

uint8_t features() {
    uint8_t found = known_features.load(std::memory_order_relaxed);
    if (found == 0) {
        found = ask_processor();
        known_features.store(found, std::memory_order_relaxed);
    }
    return found;
}

}  // namespace

bool x86_has_avx2() { return features() & avx2; }
bool x86_has_pclmul() { return features() & pclmul; }

}  // namespace lumo
