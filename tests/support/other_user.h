// Another local user, for tests that carry out an attack: a process of its
// own with a user and group id that no account has, made for the test. The
// tests run as root (the vendor, or the user of an installer); the other
// user only has what the system grants any user.
#pragma once

#include <fcntl.h>
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

// Leaves a mark in `folder` each time the other user carried out its
// attack, so that the test can tell the race was run at all.
inline void mark_acted(const std::string& folder) {
    const int log = open((folder + "/.acted").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    [[maybe_unused]] ssize_t n = write(log, "x", 1);
    close(log);
}

// What another user who can write to `drop` does to a program that writes
// a file there under a temporary name starting with `prefix`: renames a
// link to `target` over that name, as it is created, when it is first
// written, or when it is read back after it was written (one in turn, a
// name each), marking each success (mark_acted).
inline std::function<void()> links_over_temporaries(std::string drop, std::string prefix, std::string target) {
    return [drop, prefix, target] {
        FolderEvents events(drop, IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
        if (!events.ok()) return;
        const std::string link = drop + "/.link";
        unsigned round = 0;
        std::string temporary;
        bool closed = false, acted = false;
        const auto act = [&] {
            symlink(target.c_str(), link.c_str());
            if (rename(link.c_str(), (drop + "/" + temporary).c_str()) == 0) {
                acted = true;
                mark_acted(drop);
            }
        };
        events.watch([&](uint32_t mask, const std::string& name) {
            if (!name.starts_with(prefix)) return true;
            if (mask & IN_CREATE) {
                temporary = name, closed = false, acted = false, ++round;
                if (round % 3 == 0) act();
            } else if (name == temporary && !acted) {
                if ((mask & IN_MODIFY) && round % 3 == 1) act();
                if (mask & IN_CLOSE_WRITE) closed = true;
                if ((mask & IN_CLOSE_NOWRITE) && closed && round % 3 == 2) act();
            }
            return true;
        });
    };
}

}  // namespace lumo::test
