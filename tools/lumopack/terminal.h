// The one question lumopack asks of the console.
#pragma once

namespace lumo {

// True when standard error is a terminal (not a file or a pipe), so that a
// progress bar there is seen and not recorded.
bool standard_error_is_terminal();

}  // namespace lumo
