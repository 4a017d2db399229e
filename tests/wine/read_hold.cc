#include "read_hold.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace lumo::wine {
namespace {

// The process a thread belongs to, from /proc; 0 when it is gone.
pid_t process_of_thread(pid_t thread) {
    std::ifstream status("/proc/" + std::to_string(thread) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Tgid:", 0) == 0) return pid_t(std::stol(line.substr(5)));
    return 0;
}

void answer(int watch, int event_fd, uint32_t verdict) {
    fanotify_response response{event_fd, verdict};
    // A failed answer (the reader gone) needs no retry: the kernel lets
    // the read go when the event's descriptor is closed.
    (void)!write(watch, &response, sizeof response);
    close(event_fd);
}

}  // namespace

ReadHold::ReadHold(const std::filesystem::path& file) {
    watch_ = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_REPORT_TID, O_RDONLY | O_LARGEFILE);
    if (watch_ < 0) throw std::runtime_error(std::string("fanotify_init: ") + std::strerror(errno));
    if (fanotify_mark(watch_, FAN_MARK_ADD, FAN_ACCESS_PERM, AT_FDCWD, file.c_str()) != 0 || pipe2(stop_, O_CLOEXEC) != 0) {
        const std::string why = std::strerror(errno);
        close(watch_);
        throw std::runtime_error("watching " + file.string() + ": " + why);
    }
    answering_ = std::thread([this] { answer_events(); });
}

ReadHold::~ReadHold() {
    release();
    close(stop_[1]);
    answering_.join();
    close(stop_[0]);
    close(watch_);  // any event still open is allowed by the kernel
}

void ReadHold::answer_events() {
    alignas(fanotify_event_metadata) char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{watch_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        const ssize_t length = read(watch_, buffer, sizeof buffer);
        if (length <= 0) continue;
        auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
        for (ssize_t left = length; FAN_EVENT_OK(event, left); event = FAN_EVENT_NEXT(event, left)) {
            if (event->fd < 0) continue;
            const pid_t thread = event->pid;  // a thread id, with FAN_REPORT_TID
            const pid_t process = process_of_thread(thread);
            std::lock_guard<std::mutex> lock(mutex_);
            if (held_event_ < 0 && !released_ && process != 0 && process != thread) {
                held_event_ = event->fd;
                holder_ = process;
                changed_.notify_all();
            } else {
                answer(watch_, event->fd, FAN_ALLOW);
            }
        }
    }
}

bool ReadHold::wait_until_held(double seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return holder_ != 0; });
}

std::string ReadHold::holder() const {
    pid_t process;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        process = holder_;
    }
    if (process == 0) return "";
    std::ifstream file("/proc/" + std::to_string(process) + "/cmdline", std::ios::binary);
    std::string line((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    for (char& c : line)
        if (c == '\0') c = ' ';
    return line;
}

void ReadHold::release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    if (held_event_ >= 0) answer(watch_, held_event_, FAN_ALLOW);
    held_event_ = -1;
}

}  // namespace lumo::wine
