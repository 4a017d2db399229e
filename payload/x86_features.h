// What an x86 processor offers beyond the build's baseline, for the paths
// chosen at run time. Asked of the processor once and kept, without a lock:
// threads that ask at the same time find the same answer.
#pragma once

namespace lumo {

// AVX2, and a system that saves the 256-bit registers across switches.
bool x86_has_avx2();
// Carry-less multiplication (PCLMULQDQ) and SSE2.
bool x86_has_pclmul();

}  // namespace lumo
