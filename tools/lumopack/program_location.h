// Where the running lumopack lies, to find the stubs installed beside it.
#pragma once

#include <filesystem>

namespace lumo {

// The running program's own file, links resolved; empty when it cannot be
// told. `argv0` is the fallback where the system does not say.
std::filesystem::path running_program_path(const char* argv0);

}  // namespace lumo
