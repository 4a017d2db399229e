#include <time.h>

#include "tools/encoder/thread_clock.h"

namespace lumo {

double thread_processor_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

}  // namespace lumo
