// A buffer with an inaccessible page right after its last byte and right
// before its first, so that a read or write one byte outside it faults at
// once, also in builds without AddressSanitizer (the plain replay driver).
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

namespace lumo::fuzz {

class GuardedBuffer {
public:
    explicit GuardedBuffer(size_t size) : size_(size) {
        const size_t page = page_size();
        const size_t body = (size + page - 1) / page * page;
        mapped_size_ = body + 2 * page;
        void* map = mmap(nullptr, mapped_size_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED) std::abort();
        mapped_ = static_cast<uint8_t*>(map);
        if (body != 0 && mprotect(mapped_ + page, body, PROT_READ | PROT_WRITE) != 0) std::abort();
        // The data ends flush against the trailing guard page.
        data_ = mapped_ + page + body - size;
        std::memset(mapped_ + page, slack_fill, body - size);
    }
    GuardedBuffer(std::span<const uint8_t> bytes) : GuardedBuffer(bytes.size()) {
        if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
    }
    ~GuardedBuffer() { munmap(mapped_, mapped_size_); }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    uint8_t* data() { return data_; }
    uint8_t* end() { return data_ + size_; }
    size_t size() const { return size_; }
    std::span<const uint8_t> bytes() const { return {data_, size_}; }

    // The bytes between the leading guard page and the data are filled on
    // creation; a write before the data's first byte changes them.
    bool slack_intact() const {
        for (const uint8_t* p = data_ - 1; p >= mapped_ + page_size() && p < data_; --p)
            if (*p != slack_fill) return false;
        return true;
    }

private:
    static constexpr uint8_t slack_fill = 0xA5;
    static size_t page_size() {
        static const size_t size = size_t(sysconf(_SC_PAGESIZE));
        return size;
    }

    uint8_t* mapped_ = nullptr;
    size_t mapped_size_ = 0;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace lumo::fuzz
