// Threads and the hand-off to the setup program on POSIX.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <strings.h>
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

// The name in `folder` that Windows would take for `name`: `name` itself
// when it is there, else the first (in byte order) that differs from it in
// letter case alone. A payload's "setup.exe" is the setup program on
// Windows, so it is here too. Empty when there is none.
std::string name_as_windows_finds(int folder, const std::string& name) {
    struct stat st;
    if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return name;
    std::string found;
    const int listing = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listing >= 0 ? fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0) close(listing);
        return found;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string candidate = entry->d_name;
        if (strcasecmp(candidate.c_str(), name.c_str()) == 0 && (found.empty() || candidate < found))
            found = candidate;
    }
    closedir(dir);
    return found;
}

// Opens the setup program below the held staging folder (never through a
// link), adds the execute permission wherever it may be read (the payload
// carries no permission bits), and tells whether it is a Windows program
// ("MZ"), which Wine runs, and its path from the held folder ("./Setup.exe").
// An error number when there is no such file: a program outside the held
// folder is never started.
int prepare_program(HeldFolder& staging, const std::string& path, bool& windows_program, std::string& relative) {
    std::string_view rest;
    if (staging.fd() < 0 || !staging.below(path, rest) || rest.empty()) return ENOENT;
    std::string name;
    const int folder = staging.locate(path, Walk::ours, name);
    if (folder < 0) return ENOENT;
    name = name_as_windows_finds(folder, name);
    if (name.empty()) return ENOENT;
    UniqueFd file(openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!file || fstat(file.get(), &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return EACCES;  // as execve answers for anything but a regular file
    mode_t mode = st.st_mode & 07777;
    mode |= S_IXUSR | ((mode & S_IRGRP) ? S_IXGRP : 0) | ((mode & S_IROTH) ? S_IXOTH : 0);
    fchmod(file.get(), mode);
    char magic[2] = {};
    windows_program = pread(file.get(), magic, 2, 0) == 2 && magic[0] == 'M' && magic[1] == 'Z';
    const size_t cut = rest.find_last_of('/');
    relative = "./" + std::string(cut == std::string_view::npos ? std::string_view() : rest.substr(0, cut + 1)) + name;
    return 0;
}

bool failed(int error, std::string& failure) {
    failure = std::strerror(error);
    return false;
}

}  // namespace

bool PosixPlatform::start_program(const std::string&, const std::string& program_path,
                                  const std::string& current_folder, std::string& failure) {
    // The program is started from the held staging folder as the current
    // folder, by its path from there: no one who moves the folder, or a
    // folder on the way to it, away and puts another in its place can have
    // theirs started, natively or through Wine.
    if (!staging_.is_staging_folder(current_folder)) return failed(ENOENT, failure);
    bool windows_program = false;
    std::string relative;
    if (const int error = prepare_program(staging_, program_path, windows_program, relative)) return failed(error, failure);
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
    // The program's own process tells why it could not start through a pipe
    // that its start closes: the end of the pipe without a word is success.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return failed(errno, failure);

    pid_t child = fork();
    if (child < 0) {
        const int error = errno;
        close(report[0]);
        close(report[1]);
        return failed(error, failure);
    }
    if (child == 0) {
        // The middle process detaches the program into its own session and
        // leaves at once, so the installer waits for nothing but this exit
        // and the program is never left a zombie of ours.
        close(report[0]);
        setsid();
        const pid_t program = fork();
        if (program > 0) _exit(0);
        // The installer ignores SIGPIPE; the program starts with the default.
        signal(SIGPIPE, SIG_DFL);
        if (program == 0 && fchdir(held_folder) == 0) {
            // execv does not fall back to the shell; a script without "#!" is
            // run by /bin/sh, as execvp would. A Windows program without Wine
            // is never handed to the shell.
            execv(argv[0], argv.data());
            if (errno == ENOEXEC && !windows_program) execv(shell_argv[0], shell_argv.data());
        }
        const int error = errno;
        [[maybe_unused]] ssize_t n = write(report[1], &error, sizeof error);
        _exit(127);
    }
    close(report[1]);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t n;
    while ((n = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    return n == ssize_t(sizeof error) ? failed(error, failure) : true;
}

}  // namespace lumo
