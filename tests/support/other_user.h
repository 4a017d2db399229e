// Another local user, for tests that carry out an attack: a process of its
// own with a user and group id that no account has, made for the test. The
// tests run as root (the vendor, or the user of an installer); the other
// user only has what the system grants any user.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>

namespace lumo::test {

// A user id that belongs to no account and to no process of the machine's
// (above `after`, for a second one).
inline uid_t unused_user_id(uid_t after = 0) {
    for (uid_t id = std::max<uid_t>(62000 + getpid() % 1000, after + 1);; ++id)
        if (!getpwuid(id) && !getgrgid(id)) return id;
}

// A process of another user that runs `body` until it returns or is stopped;
// its group is one of its own unless given.
class OtherUser {
public:
    explicit OtherUser(const std::function<void()>& body, uid_t id = unused_user_id(), gid_t group = gid_t(-1))
        : id_(id) {
        if (group == gid_t(-1)) group = id;
        pid_ = fork();
        if (pid_ == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(group) != 0 || setuid(id_) != 0) _exit(1);
            umask(0);
            body();
            _exit(0);
        }
    }
    ~OtherUser() { stop(); }
    OtherUser(const OtherUser&) = delete;
    OtherUser& operator=(const OtherUser&) = delete;
    uid_t id() const { return id_; }
    // Waits for `body` to return; true when it ran to its end.
    bool wait() {
        int status = 0;
        const bool ended = pid_ > 0 && waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        pid_ = -1;
        return ended;
    }
    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    uid_t id_;
    pid_t pid_ = -1;
};

// Events of a folder, as another user watching it sees them (inotify).
class FolderEvents {
public:
    FolderEvents(const std::string& folder, uint32_t mask) : fd_(inotify_init1(IN_CLOEXEC)) {
        if (fd_ >= 0) inotify_add_watch(fd_, folder.c_str(), mask);
    }
    ~FolderEvents() {
        if (fd_ >= 0) close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    // Calls `seen(mask, name)` for each event, in order, until it returns false.
    template <typename Seen>
    void watch(Seen seen) {
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0) return;
            for (char* at = buffer; at < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                if (!seen(event->mask, std::string(event->len ? event->name : "")))
                    return;
                at += sizeof(inotify_event) + event->len;
            }
        }
    }

private:
    int fd_;
};

}  // namespace lumo::test
