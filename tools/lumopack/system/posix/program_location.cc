#include <unistd.h>

#include <cstdlib>
#include <string_view>
#include <system_error>

#include "tools/lumopack/system/system.h"

namespace lumo {
namespace fs = std::filesystem;

fs::path running_program_path(const char* argv0) {
    std::error_code error;
    // Linux names the file the process runs, whatever it was started as.
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error) return self;
    // Elsewhere argv[0]: a path when it holds a slash, else a name the shell
    // found on PATH. Never a bare name taken as a file in the current
    // folder, where anyone could have left stubs beside it.
    const std::string_view name = argv0;
    if (name.find('/') != std::string_view::npos) return fs::weakly_canonical(fs::path(name), error);
    const char* search = std::getenv("PATH");
    for (std::string_view rest = search ? search : ""; !rest.empty();) {
        const size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        if (folder.empty() || folder.front() != '/') continue;
        const fs::path candidate = fs::path(folder) / name;
        if (access(candidate.c_str(), X_OK) == 0) return fs::weakly_canonical(candidate, error);
    }
    return {};
}

fs::path installed_stub_folder(const fs::path& program) {
    return (program.parent_path() / ".." / "lib" / "lumopack").lexically_normal();
}

}  // namespace lumo
