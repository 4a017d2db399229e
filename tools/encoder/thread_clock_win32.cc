#include <windows.h>

#include <cstdint>

#include "tools/encoder/thread_clock.h"

namespace lumo {

double thread_processor_seconds() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    auto ticks = [](const FILETIME& t) { return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime); };
    return (ticks(kernel) + ticks(user)) * 1e-7;  // 100 ns ticks
}

}  // namespace lumo
