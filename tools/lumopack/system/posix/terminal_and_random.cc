#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "tools/lumopack/system/system.h"

namespace lumo {

bool standard_error_is_terminal() { return isatty(STDERR_FILENO) == 1; }

uint64_t unguessable_number() {
    uint64_t value = 0;
    for (;;) {
        const ssize_t n = getrandom(&value, sizeof value, 0);
        if (n == ssize_t(sizeof value)) return value;
        if (n < 0 && errno != EINTR) std::abort();  // no random source: no name is safe to make
    }
}

}  // namespace lumo
