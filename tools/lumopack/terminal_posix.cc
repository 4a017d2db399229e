#include <unistd.h>

#include "tools/lumopack/terminal.h"

namespace lumo {

bool standard_error_is_terminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace lumo
