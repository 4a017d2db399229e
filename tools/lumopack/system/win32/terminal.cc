#include <io.h>
#include <stdio.h>

#include "tools/lumopack/system/system.h"

namespace lumo {

bool standard_error_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace lumo
