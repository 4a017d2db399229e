// Runs a built installer as a user would, in a scratch folder of its own: a
// temporary folder (TMPDIR) inside it, standard input from /dev/null so no
// message waits for Enter, and standard error captured.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace lumo::test {

namespace fs = std::filesystem;

struct ProcessResult {
    int exit_code = -1;
    std::string output;  // standard output and standard error together
};

// Runs `program` with `arguments`, the environment changed by `environment`
// (an empty value removes the variable), standard input from /dev/null.
ProcessResult run_process(const std::string& program, const std::vector<std::string>& arguments,
                          const std::map<std::string, std::string>& environment);

// A scratch folder below /tmp, removed with everything in it at the end.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::string read_file(const fs::path& path);
void write_file(const fs::path& path, const std::string& content, mode_t mode = 0644);

// Waits up to `seconds` for `path` to exist with content; true when it did.
bool wait_for_file(const fs::path& path, double seconds);

}  // namespace lumo::test
