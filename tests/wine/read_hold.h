// Holds a running program at a known point: its first read of one file made
// by any thread but its process's first. The kernel keeps that thread in its
// read call (a fanotify permission event left unanswered) until release();
// the process's other threads, a window's message loop among them, run on.
//
// For a Windows program under Wine this is a read by a thread the program
// started: Wine's loader and the wineserver read the file from their first
// threads and pass. Needs CAP_SYS_ADMIN, as the Wine tests run.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

namespace lumo::wine {

class ReadHold {
public:
    // Watches `file` from now on. Throws std::runtime_error when the kernel
    // refuses the watch.
    explicit ReadHold(const std::filesystem::path& file);
    ~ReadHold();  // releases the held read, if any
    ReadHold(const ReadHold&) = delete;
    ReadHold& operator=(const ReadHold&) = delete;

    // True once a read is held, within `seconds`.
    bool wait_until_held(double seconds);
    // The command line of the process whose read is held ("" before).
    std::string holder() const;
    // Lets the held read go on; every later read passes.
    void release();

private:
    void answer_events();

    int watch_ = -1;    // fanotify descriptor
    int stop_[2] = {-1, -1};  // a pipe that ends answer_events()
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int held_event_ = -1;  // the held event's file descriptor
    bool released_ = false;
    pid_t holder_ = 0;
    std::thread answering_;
};

}  // namespace lumo::wine
