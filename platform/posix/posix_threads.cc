// Threads that are waited for, and the signals the worker and its decoding
// thread pass between them, on POSIX.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/posix/posix_platform.h"

namespace lumo {
namespace {

class PosixThread final : public JoinableThread {
public:
    explicit PosixThread(std::function<void()> body) : thread_(std::move(body)) {}
    ~PosixThread() override { thread_.join(); }

private:
    std::thread thread_;
};

class PosixSignal final : public Signal {
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

}  // namespace

std::unique_ptr<JoinableThread> PosixPlatform::start_joinable_thread(std::function<void()> body) {
    return std::make_unique<PosixThread>(std::move(body));
}

std::unique_ptr<Signal> PosixPlatform::create_signal() { return std::make_unique<PosixSignal>(); }

}  // namespace lumo
