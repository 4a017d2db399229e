// A byte buffer that starts out zero without being written: calloc hands
// large blocks straight from fresh pages, which the system zeroes on first
// touch anyway. The unpacked image is the largest thing lumopack holds, so
// this saves a pass of zeroing (and of page faults) over it.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>

namespace lumo {

class ZeroedBuffer {
public:
    ZeroedBuffer() = default;
    explicit ZeroedBuffer(size_t size)
        : bytes_(static_cast<uint8_t*>(std::calloc(size == 0 ? 1 : size, 1))), size_(size) {
        if (!bytes_) throw std::bad_alloc();
    }

    uint8_t* data() { return bytes_.get(); }
    const uint8_t* data() const { return bytes_.get(); }
    size_t size() const { return size_; }
    operator std::span<const uint8_t>() const { return {bytes_.get(), size_}; }

private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<uint8_t, Free> bytes_;
    size_t size_ = 0;
};

}  // namespace lumo
