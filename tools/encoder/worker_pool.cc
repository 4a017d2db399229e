#include "tools/encoder/worker_pool.h"

#include <algorithm>

namespace lumo {

int default_thread_count() { return int(std::max(1u, std::thread::hardware_concurrency())); }

WorkerPool::WorkerPool(int threads) : threads_(std::max(1, threads)) {
    if (threads_ == 1) return;
    workers_.reserve(size_t(threads_));
    for (int i = 0; i < threads_; ++i) workers_.emplace_back([this] { work(); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    for (std::thread& worker : workers_) worker.join();
}

void WorkerPool::enqueue(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void WorkerPool::work() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        job();
    }
}

}  // namespace lumo
