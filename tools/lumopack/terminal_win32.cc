#include <io.h>
#include <stdio.h>

#include "tools/lumopack/terminal.h"

namespace lumo {

bool standard_error_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

}  // namespace lumo
