// Threads and the hand-off to the setup program on POSIX.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/posix/posix_platform.h"

namespace lumo {
namespace {

// The full path of `program` found in an absolute folder on PATH, or "".
// An empty or relative entry names a folder relative to the current one,
// and the program is started from the staging folder that the installer
// has just filled: "./wine" there would be a file of the payload.
std::string find_on_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        std::string folder = folders.substr(start, end - start);
        start = end + 1;
        if (folder.empty() || folder[0] != '/') continue;
        std::string candidate = folder + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

// Opens the setup program below the held staging folder (never through a
// link), adds the execute permission wherever it may be read (the payload
// carries no permission bits), and tells whether it is a Windows program
// ("MZ"), which Wine runs, and its path from the held folder ("./Setup.exe").
// False when there is no such file: a program outside the held folder is
// never started.
bool prepare_program(HeldFolder& staging, const std::string& path, bool& windows_program, std::string& relative) {
    std::string_view rest;
    if (staging.fd() < 0 || !staging.below(path, rest) || rest.empty()) return false;
    std::string name;
    const int folder = staging.locate(path, Walk::ours, name);
    if (folder < 0) return false;
    UniqueFd file(openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!file || fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    mode_t mode = st.st_mode & 07777;
    mode |= S_IXUSR | ((mode & S_IRGRP) ? S_IXGRP : 0) | ((mode & S_IROTH) ? S_IXOTH : 0);
    fchmod(file.get(), mode);
    char magic[2] = {};
    windows_program = pread(file.get(), magic, 2, 0) == 2 && magic[0] == 'M' && magic[1] == 'Z';
    relative = "./" + std::string(rest);
    return true;
}

}  // namespace

void PosixPlatform::start_program(const std::string&, const std::string& program_path,
                                  const std::string& current_folder) {
    // The program is started from the held staging folder as the current
    // folder, by its path from there: no one who moves the folder, or a
    // folder on the way to it, away and puts another in its place can have
    // theirs started, natively or through Wine.
    if (!staging_.is_staging_folder(current_folder)) return;  // like a failed CreateProcessA
    bool windows_program = false;
    std::string relative;
    if (!prepare_program(staging_, program_path, windows_program, relative)) return;
    std::vector<std::string> arguments;
    if (windows_program) {
        std::string wine = find_on_path("wine");
        if (!wine.empty()) arguments.push_back(wine);
    }
    arguments.push_back(relative);

    // Everything the child needs is prepared before fork: between fork and
    // exec only async-signal-safe calls are allowed.
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::string shell = "/bin/sh";
    std::vector<char*> shell_argv = {shell.data()};
    shell_argv.insert(shell_argv.end(), argv.begin(), argv.end());
    // The staging folder becomes the current folder as held, not as named.
    const int held_folder = staging_.fd();

    pid_t child = fork();
    if (child < 0) return;  // like a failed CreateProcessA: not reported
    if (child == 0) {
        // The middle process detaches the program into its own session and
        // leaves at once, so the installer waits for nothing but this exit
        // and the program is never left a zombie of ours.
        setsid();
        if (fork() != 0) _exit(0);
        // The installer ignores SIGPIPE; the program starts with the default.
        signal(SIGPIPE, SIG_DFL);
        if (fchdir(held_folder) != 0) _exit(127);
        // execv does not fall back to the shell; a script without "#!" is
        // run by /bin/sh, as execvp would. A Windows program without Wine is
        // never handed to the shell.
        execv(argv[0], argv.data());
        if (errno == ENOEXEC && !windows_program) execv(shell_argv[0], shell_argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace lumo
