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

// A program running on a pseudo-terminal of its own: standard input, output
// and error are the terminal, as when a user starts it from a shell.
class TerminalProcess {
public:
    TerminalProcess(const std::string& program, const std::map<std::string, std::string>& environment);
    ~TerminalProcess();
    // Reads what the program shows until `text` has appeared (true) or
    // `seconds` have passed or the program ended (false).
    bool wait_for_output(const std::string& text, double seconds);
    void type(const std::string& keys);
    // The exit code once the program has ended within `seconds`; -1 while it runs.
    int wait_for_exit(double seconds);
    const std::string& output() const { return output_; }

private:
    void read_available(int timeout_ms);
    int master_ = -1;
    int pid_ = -1;
    int exit_code_ = -1;
    bool exited_ = false;
    std::string output_;
};

// A scratch folder below /tmp, removed with everything in it at the end.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// The folders of one installer run inside a scratch folder of its own: the
// add-on's files, the installer built from them, and the temporary folder
// (TMPDIR) the run stages below.
class InstallerFolders {
public:
    InstallerFolders() {
        fs::create_directories(tmp());
        fs::create_directories(addon());
    }
    const fs::path& root() const { return scratch_.path(); }
    fs::path tmp() const { return root() / "tmp"; }
    fs::path addon() const { return root() / "addon"; }
    fs::path staging() const { return tmp() / "Lumo.40"; }
    fs::path installer() const { return root() / "installer"; }

private:
    ScratchFolder scratch_;
};

std::string read_file(const fs::path& path);
void write_file(const fs::path& path, const std::string& content, mode_t mode = 0644);

// Waits up to `seconds` for `path` to exist with content; true when it did.
bool wait_for_file(const fs::path& path, double seconds);

}  // namespace lumo::test
