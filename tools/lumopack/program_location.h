// Where the running lumopack lies, to find the stubs installed beside it.
#pragma once

#include <filesystem>

namespace lumo {

// The running program's own file, links resolved. `argv0` is the fallback
// where the system cannot tell: it names the program only when it holds a
// folder (a program found through PATH is started as a bare name).
std::filesystem::path running_program_path(const char* argv0);

}  // namespace lumo
