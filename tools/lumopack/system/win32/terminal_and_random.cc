#include <windows.h>
#include <bcrypt.h>
#include <io.h>
#include <stdio.h>

#include <cstdlib>

#include "tools/lumopack/system/system.h"

namespace lumo {

bool standard_error_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

uint64_t unguessable_number() {
    uint64_t value = 0;
    if (BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof value, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
        std::abort();  // no random source: no name is safe to make
    return value;
}

}  // namespace lumo
