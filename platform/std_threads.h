// A thread that is waited for and an auto-reset signal, from the C++
// standard library alone: the POSIX platform's, and the fake's for tests.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace lumo {

class StdThread final : public JoinableThread {
public:
    explicit StdThread(std::function<void()> body) : thread_(std::move(body)) {}
    ~StdThread() override { thread_.join(); }

private:
    std::thread thread_;
};

class StdSignal final : public Signal {
public:
    void give() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            given_ = true;
        }
        wakeup_.notify_one();
    }
    void wait() override {
        std::unique_lock<std::mutex> lock(mutex_);
        wakeup_.wait(lock, [this] { return given_; });
        given_ = false;
    }

private:
    std::mutex mutex_;
    std::condition_variable wakeup_;
    bool given_ = false;
};

}  // namespace lumo
