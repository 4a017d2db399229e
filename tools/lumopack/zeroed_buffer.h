// A byte buffer that starts out zero without being written: fresh pages from
// the system are zero already. The unpacked image is the largest thing
// lumopack holds, so this saves a pass of zeroing over it; where the system
// offers large pages for big buffers, it also saves most of the page faults
// that the first touch of each small page costs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

namespace lumo {

class ZeroedBuffer {
public:
    ZeroedBuffer() = default;
    explicit ZeroedBuffer(size_t size);  // throws std::bad_alloc
    ZeroedBuffer(ZeroedBuffer&& other) noexcept { swap(other); }
    ZeroedBuffer& operator=(ZeroedBuffer&& other) noexcept {
        ZeroedBuffer(std::move(other)).swap(*this);
        return *this;
    }
    ZeroedBuffer(const ZeroedBuffer&) = delete;
    ZeroedBuffer& operator=(const ZeroedBuffer&) = delete;
    ~ZeroedBuffer() { release(); }

    uint8_t* data() { return bytes_; }
    const uint8_t* data() const { return bytes_; }
    size_t size() const { return size_; }
    operator std::span<const uint8_t>() const { return {bytes_, size_}; }

    // Gives the whole pages inside [begin, end) back to the system; they
    // read as zero when touched again. For a buffer read once, front to back.
    void forget(size_t begin, size_t end);

private:
    void release();
    void swap(ZeroedBuffer& other) noexcept {
        std::swap(block_, other.block_);
        std::swap(block_size_, other.block_size_);
        std::swap(bytes_, other.bytes_);
        std::swap(size_, other.size_);
    }

    void* block_ = nullptr;  // what the system handed out
    size_t block_size_ = 0;
    uint8_t* bytes_ = nullptr;  // within the block
    size_t size_ = 0;
};

}  // namespace lumo
