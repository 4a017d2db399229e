// A Wine session for tests: a fresh prefix and a virtual X display of its
// own, made once and shared by the tests of one program.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace lumo::wine {

struct RunResult {
    int exit_code = -1;  // -1 when the program did not end in time
    std::string output;  // standard output
    std::string errors;  // standard error
};

// Whether this system's kernel runs 32-bit x86 programs, as Wine's 32-bit
// half (the i686 installer, 32-bit helper programs) needs
// (scripts/can-run-i386.sh). Some kernels are built or booted without it;
// scripts/install-deps.sh then leaves Wine with its 64-bit half only, and
// the i686 tests run in an emulated machine instead (scripts/vm/).
bool runs_32bit_programs();
inline constexpr const char* no_32bit_programs = "this kernel runs no 32-bit programs (no IA-32 emulation)";

class WineSession {
public:
    // Starts Xvfb and boots a new prefix below a fresh temporary folder
    // (or copies the one LUMO_WINE_PREFIX_TEMPLATE names). Throws
    // std::runtime_error with the reason when either fails, leaving no
    // process behind.
    WineSession();
    ~WineSession();
    WineSession(const WineSession&) = delete;
    WineSession& operator=(const WineSession&) = delete;

    const std::filesystem::path& prefix() const { return prefix_; }
    const std::string& display() const { return display_; }
    // The prefix's C: drive and the user's temporary folder on it.
    std::filesystem::path drive_c() const { return prefix_ / "drive_c"; }
    std::filesystem::path temp_folder() const;
    // "C:\users\<name>\Temp\" as Windows programs see it.
    std::string windows_temp_folder() const;
    // A fresh folder for one test's files, below the prefix's C: drive.
    std::filesystem::path scratch_folder(const std::string& name) const;
    // The Windows path of a file below drive_c().
    std::string windows_path(const std::filesystem::path& path) const;

    // Runs `program` with `arguments` under Wine and waits at most `seconds`.
    // `environment` adds to the session's (LANG, WINEDLLOVERRIDES, ...).
    RunResult run(const std::filesystem::path& program, const std::vector<std::string>& arguments = {},
                  const std::map<std::string, std::string>& environment = {}, double seconds = 60) const;

    // The same without waiting; `wait` collects the result later.
    int start(const std::filesystem::path& program, const std::vector<std::string>& arguments = {},
              const std::map<std::string, std::string>& environment = {}) const;
    // Exit code of a started program, or -1 when it has not ended in `seconds`
    // (it is then killed).
    int wait(int process, double seconds) const;

    // True with the exit code once a started program has ended.
    bool ended(int process, int& exit_code) const;

    // Waits until every program of the session has ended.
    void wait_until_idle() const;

    // A host command with DISPLAY set to the session's display (xdotool,
    // import); its standard output and exit code.
    RunResult host(const std::string& command, double seconds = 300) const;

    // How long booting a new prefix may take: well over what it takes (about
    // 10 s) on a busy machine, well under a test's timeout.
    static constexpr double boot_seconds = 120;

private:
    void start_display();
    void make_prefix();
    void stop();
    std::string environment_text(const std::map<std::string, std::string>& extra) const;
    RunResult collect(const std::string& command, double seconds) const;

    std::filesystem::path root_;
    std::filesystem::path prefix_;
    std::string display_;
    int xvfb_ = -1;
    mutable int outputs_ = 0;
};

// Reads a whole file; "" when it is missing.
std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& content);
// Quotes a text for the POSIX shell.
std::string shell_quote(const std::string& text);

}  // namespace lumo::wine
