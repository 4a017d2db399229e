#include "extraction/image_pipe.h"

namespace lumo {

bool ImagePipe::emit(const uint8_t* bytes, uint32_t n) {
    if (n == 0) return !stopped_.load(std::memory_order_acquire);
    const uint32_t put = put_.load(std::memory_order_relaxed);
    while (put - taken_.load(std::memory_order_acquire) == ring_size) {
        if (stopped_.load(std::memory_order_acquire)) return false;
        room_->wait();
    }
    ring_[put % ring_size] = {bytes, n};
    put_.store(put + 1, std::memory_order_release);
    blocks_ready_->give();
    return !stopped_.load(std::memory_order_acquire);
}

bool ImagePipe::reuse(uint64_t position) {
    while (released_.load(std::memory_order_acquire) < position) {
        if (stopped_.load(std::memory_order_acquire)) return false;
        room_->wait();
    }
    return !stopped_.load(std::memory_order_acquire);
}

void ImagePipe::close() {
    closed_.store(true, std::memory_order_release);
    blocks_ready_->give();
}

bool ImagePipe::take(Block& block) {
    for (;;) {
        const uint32_t taken = taken_.load(std::memory_order_relaxed);
        if (taken != put_.load(std::memory_order_acquire)) {
            block = ring_[taken % ring_size];
            taken_.store(taken + 1, std::memory_order_release);
            room_->give();
            return true;
        }
        // Every block is put before the pipe is closed.
        if (closed_.load(std::memory_order_acquire) && taken == put_.load(std::memory_order_acquire)) return false;
        blocks_ready_->wait();
    }
}

void ImagePipe::release(uint64_t position) {
    if (position <= released_.load(std::memory_order_relaxed)) return;
    released_.store(position, std::memory_order_release);
    room_->give();
}

void ImagePipe::stop() {
    stopped_.store(true, std::memory_order_release);
    room_->give();
}

}  // namespace lumo
