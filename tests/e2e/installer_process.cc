#include "installer_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace lumo::test {

ProcessResult run_process(const std::string& program, const std::vector<std::string>& arguments,
                          const std::map<std::string, std::string>& environment) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
    std::vector<std::string> argv_strings = {program};
    argv_strings.insert(argv_strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& s : argv_strings) argv.push_back(s.data());
    argv.push_back(nullptr);

    pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        for (const auto& [name, value] : environment) {
            if (value.empty()) unsetenv(name.c_str());
            else setenv(name.c_str(), value.c_str(), 1);
        }
        int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, STDIN_FILENO);
        dup2(pipe_fds[1], STDOUT_FILENO);
        dup2(pipe_fds[1], STDERR_FILENO);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    ProcessResult result;
    char buffer[4096];
    ssize_t n;
    // The setup program started by the installer inherits the pipe; reading
    // stops at the installer's exit, not at the program's.
    std::string& out = result.output;
    int status = 0;
    fcntl(pipe_fds[0], F_SETFL, O_NONBLOCK);
    for (;;) {
        while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, size_t(n));
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, size_t(n));
    close(pipe_fds[0]);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

TerminalProcess::TerminalProcess(const std::string& program, const std::map<std::string, std::string>& environment) {
    struct winsize size = {};
    size.ws_row = 24;
    size.ws_col = 80;
    pid_ = forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ < 0) throw std::runtime_error("forkpty failed");
    if (pid_ == 0) {
        for (const auto& [name, value] : environment) {
            if (value.empty()) unsetenv(name.c_str());
            else setenv(name.c_str(), value.c_str(), 1);
        }
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
}

TerminalProcess::~TerminalProcess() {
    if (!exited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close(master_);
}

void TerminalProcess::read_available(int timeout_ms) {
    struct pollfd fd = {master_, POLLIN, 0};
    while (poll(&fd, 1, timeout_ms) > 0) {
        char buffer[4096];
        ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0) break;  // EIO once the program and its children have closed the terminal
        output_.append(buffer, size_t(n));
        timeout_ms = 0;
    }
}

bool TerminalProcess::wait_for_output(const std::string& text, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (output_.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        read_available(10);
    }
    return true;
}

void TerminalProcess::type(const std::string& keys) {
    if (write(master_, keys.data(), keys.size()) != ssize_t(keys.size())) throw std::runtime_error("type failed");
}

int TerminalProcess::wait_for_exit(double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!exited_) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exited_ = true;
            exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        read_available(10);
    }
    read_available(50);
    return exit_code_;
}

ScratchFolder::ScratchFolder() {
    char pattern[] = "/tmp/lumo-e2e-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    // Read-only files and folders a test left behind must not stop the removal.
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(path_, ignored); it != fs::recursive_directory_iterator();
         it.increment(ignored))
        if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void write_file(const fs::path& path, const std::string& content, mode_t mode) {
    fs::create_directories(path.parent_path());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << content;
    }
    chmod(path.c_str(), mode);
}

bool wait_for_file(const fs::path& path, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code ec;
        if (fs::exists(path, ec) && fs::file_size(path, ec) > 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace lumo::test
