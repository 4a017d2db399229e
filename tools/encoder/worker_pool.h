// A fixed set of worker threads that run tasks in the order they were
// submitted. With one thread there are no workers at all: each task runs in
// the caller as it is submitted, so `--threads 1` really is one thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

#include "tools/encoder/thread_clock.h"

namespace lumo {

// The threads to use when the caller leaves it open: one per processor.
int default_thread_count();

class WorkerPool {
public:
    explicit WorkerPool(int threads);
    // Tasks not yet started are dropped (their futures report a broken
    // promise); running ones are waited for.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int threads() const { return threads_; }

    // Runs `task` on a worker; its result or exception comes through the future.
    template <typename Task>
    auto submit(Task task) -> std::future<std::invoke_result_t<Task>> {
        using Result = std::invoke_result_t<Task>;
        auto packaged = std::make_shared<std::packaged_task<Result()>>(std::move(task));
        std::future<Result> result = packaged->get_future();
        if (workers_.empty()) {
            (*packaged)();
        } else {
            enqueue([packaged] { (*packaged)(); });
        }
        return result;
    }

private:
    void enqueue(std::function<void()> job);
    void work();

    int threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

// Runs `task(i)` for i in [0, count) on the pool and waits for all of them;
// the first exception, in index order, is rethrown. Returns the processor
// seconds the tasks took together.
template <typename Task>
double run_each(WorkerPool& pool, size_t count, const Task& task) {
    std::vector<std::future<double>> done;
    done.reserve(count);
    for (size_t i = 0; i < count; ++i)
        done.push_back(pool.submit([&task, i] {
            const double started = thread_processor_seconds();
            task(i);
            return thread_processor_seconds() - started;
        }));
    for (auto& d : done) d.wait();
    double seconds = 0;
    for (auto& d : done) seconds += d.get();
    return seconds;
}

}  // namespace lumo
