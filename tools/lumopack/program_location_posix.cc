#include <system_error>

#include "tools/lumopack/program_location.h"

namespace lumo {

std::filesystem::path running_program_path(const char* argv0) {
    std::error_code error;
    // Linux names the file the process runs, whatever it was started as.
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) return self;
    self = std::filesystem::weakly_canonical(argv0, error);
    return error ? std::filesystem::path(argv0) : self;
}

}  // namespace lumo
