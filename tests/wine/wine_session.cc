#include "wine_session.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace lumo::wine {
namespace fs = std::filesystem;

namespace {

// Wine's Mono and Gecko installers would be offered on the first boot and
// are of no use to the installer.
constexpr char no_extras[] = "mscoree,mshtml=";

int spawn_shell(const std::string& command) {
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);  // its own group, so that a timeout ends the whole tree
        int null = open("/dev/null", O_RDWR);
        if (null >= 0) dup2(null, 0);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

int wait_for_process(int pid, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0) return -1;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(-pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace

bool runs_32bit_programs() {
    static const bool runs = std::system(LUMO_CAN_RUN_I386 " >/dev/null 2>&1") == 0;
    return runs;
}

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

void write_file(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

WineSession::WineSession() {
    char pattern[] = "/tmp/lumo-wine-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("cannot make a temporary folder");
    root_ = pattern;
    prefix_ = root_ / "prefix";
    // A session that cannot start leaves nothing behind: no display server
    // holding the test's output open, no Wine server, no folder.
    try {
        start_display();
        make_prefix();
    } catch (...) {
        stop();
        throw;
    }
}

void WineSession::start_display() {
    // Xvfb picks a free display and writes its number to the pipe.
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
    xvfb_ = spawn_shell("exec Xvfb -displayfd " + std::to_string(pipe_fds[1]) +
                        " -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 " +
                        std::to_string(pipe_fds[1]) + ">&" + std::to_string(pipe_fds[1]));
    close(pipe_fds[1]);
    std::string number;
    char c;
    while (read(pipe_fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(pipe_fds[0]);
    if (number.empty()) throw std::runtime_error("Xvfb did not start");
    display_ = ":" + number;
}

void WineSession::make_prefix() {
    // Where a booted prefix is at hand (the emulated machine bakes one into
    // its image, since booting one there takes minutes), the session starts
    // from a copy of it: hard links, as Wine replaces its registry files
    // rather than writing into them and never writes to the rest.
    if (const char* from = std::getenv("LUMO_WINE_PREFIX_TEMPLATE"); from && fs::is_directory(from)) {
        RunResult copied = host("cp -a --link " + shell_quote(from) + " " + shell_quote(prefix_.string()));
        if (copied.exit_code != 0 || !fs::exists(drive_c()))
            throw std::runtime_error("cannot copy the Wine prefix " + std::string(from) + ": " + copied.errors);
        return;
    }
    // Without a window manager on the virtual display, Wine draws the
    // windows' frames and captions itself only for unmanaged windows.
    const std::string wine = environment_text({});
    RunResult boot = host(wine + " wineboot -i && " + wine +
                              " wine reg add 'HKCU\\Software\\Wine\\X11 Driver' /v Managed /d N /f && " + wine +
                              " wineserver -w",
                          boot_seconds);
    if (boot.exit_code != 0 || !fs::exists(drive_c()))
        throw std::runtime_error(boot.exit_code == -1 ? "Wine did not boot a prefix within " +
                                                            std::to_string(int(boot_seconds)) + " s"
                                                      : "Wine does not start: " + boot.output + boot.errors);
}

void WineSession::stop() {
    if (!display_.empty()) host(environment_text({}) + " wineserver -k", 30);
    if (xvfb_ > 0) {
        kill(-xvfb_, SIGTERM);
        wait_for_process(xvfb_, 10);
        xvfb_ = -1;
    }
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

WineSession::~WineSession() { stop(); }

fs::path WineSession::temp_folder() const {
    for (const auto& user : fs::directory_iterator(drive_c() / "users"))
        if (user.path().filename() != "Public" && fs::exists(user.path() / "Temp")) return user.path() / "Temp";
    throw std::runtime_error("the prefix has no user temporary folder");
}

std::string WineSession::windows_temp_folder() const { return windows_path(temp_folder()) + "\\"; }

fs::path WineSession::scratch_folder(const std::string& name) const {
    fs::path folder = drive_c() / "tests" / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

std::string WineSession::windows_path(const fs::path& path) const {
    std::string relative = fs::relative(path, drive_c()).string();
    for (char& c : relative)
        if (c == '/') c = '\\';
    return "C:\\" + relative;
}

std::string WineSession::environment_text(const std::map<std::string, std::string>& extra) const {
    std::map<std::string, std::string> variables = {{"WINEPREFIX", prefix_.string()},
                                                    {"DISPLAY", display_},
                                                    {"WINEDEBUG", "-all"},
                                                    {"WINEDLLOVERRIDES", no_extras},
                                                    // English, and a locale that exists: Wine
                                                    // maps file names through it.
                                                    {"LANG", "C.UTF-8"}};
    for (const auto& [name, value] : extra) variables[name] = value;
    std::string text = "env -u LC_ALL -u LC_MESSAGES -u LC_CTYPE";
    for (const auto& [name, value] : variables) text += " " + name + "=" + shell_quote(value);
    return text;
}

RunResult WineSession::run(const fs::path& program, const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment, double seconds) const {
    std::string command = "cd " + shell_quote(program.parent_path().string()) + " && exec " +
                          environment_text(environment) + " wine " + shell_quote(program.string());
    for (const auto& argument : arguments) command.append(" ").append(shell_quote(argument));
    return collect(command, seconds);
}

int WineSession::start(const fs::path& program, const std::vector<std::string>& arguments,
                       const std::map<std::string, std::string>& environment) const {
    std::string command = "cd " + shell_quote(program.parent_path().string()) + " && exec " +
                          environment_text(environment) + " wine " + shell_quote(program.string());
    for (const auto& argument : arguments) command.append(" ").append(shell_quote(argument));
    return spawn_shell(command + " >/dev/null 2>/dev/null");
}

int WineSession::wait(int process, double seconds) const { return wait_for_process(process, seconds); }

bool WineSession::ended(int process, int& exit_code) const {
    int status = 0;
    if (waitpid(process, &status, WNOHANG) != process) return false;
    exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}

void WineSession::wait_until_idle() const { host(environment_text({}) + " wineserver -w"); }

RunResult WineSession::host(const std::string& command, double seconds) const {
    return collect("DISPLAY=" + display_ + " " + command, seconds);
}

// The output goes to a file, not a pipe: the wineserver that a Wine program
// starts inherits the program's output and would hold a pipe open.
RunResult WineSession::collect(const std::string& command, double seconds) const {
    const fs::path output = root_ / ("output-" + std::to_string(++outputs_) + ".txt");
    const fs::path errors = root_ / ("errors-" + std::to_string(outputs_) + ".txt");
    int pid = spawn_shell("{ " + command + "; } >" + shell_quote(output.string()) + " 2>" + shell_quote(errors.string()));
    RunResult result;
    result.exit_code = wait_for_process(pid, seconds);
    result.output = read_file(output);
    result.errors = read_file(errors);
    std::error_code ignored;
    fs::remove(output, ignored);
    fs::remove(errors, ignored);
    return result;
}

}  // namespace lumo::wine
