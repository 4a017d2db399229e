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
#include <algorithm>
#include <array>
#include <memory>
#include <span>

#if defined(__SANITIZE_ADDRESS__)
#define LUMO_FUZZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMO_FUZZ_ASAN 1
#endif
#endif
#if LUMO_FUZZ_ASAN
#include <sanitizer/asan_interface.h>
#endif

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
    // The first accessible byte, right after the leading guard page.
    uint8_t* first_accessible() { return mapped_ + page_size(); }

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

// A GuardedBuffer kept from one input to the next, for targets that run
// thousands of inputs a second, where mapping and unmapping pages for each
// (page faults, and the other processor's TLB flush that unmapping costs)
// would take more time than the input. Made for the largest size expected
// and made anew, larger, for an input larger than any before; each input's
// bytes end flush against the trailing guard page, and the bytes before
// them are filled and checked as GuardedBuffer's slack, up to a page of
// them, and out of bounds for AddressSanitizer all the way to the leading
// guard page.
class ReusedGuardedBuffer {
public:
    explicit ReusedGuardedBuffer(size_t largest) : buffer_(std::make_unique<GuardedBuffer>(largest)) {}

    // Room for `size` bytes, or a copy of `bytes`.
    void place(size_t size) {
        if (size > buffer_->size()) {
#if LUMO_FUZZ_ASAN
            __asan_unpoison_memory_region(first(), size_t(buffer_->end() - first()));
#endif
            buffer_ = std::make_unique<GuardedBuffer>(size);
        }
        data_ = buffer_->end() - size;
        size_ = size;
        slack_ = std::min(page_offset(data_), size_t(data_ - first()));
#if LUMO_FUZZ_ASAN
        __asan_poison_memory_region(first(), size_t(data_ - first()));
        __asan_unpoison_memory_region(data_ - slack_, slack_ + size);
#endif
        std::memset(data_ - slack_, slack_fill, slack_);
    }
    void place(std::span<const uint8_t> bytes) {
        place(bytes.size());
        if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
    }

    uint8_t* data() { return data_; }
    uint8_t* end() { return data_ + size_; }
    size_t size() const { return size_; }
    std::span<const uint8_t> bytes() const { return {data_, size_}; }

    bool slack_intact() const {
        static const std::array<uint8_t, 65536> filled = [] {
            std::array<uint8_t, 65536> bytes;
            bytes.fill(slack_fill);
            return bytes;
        }();
        return slack_ <= filled.size() && std::memcmp(data_ - slack_, filled.data(), slack_) == 0;
    }

private:
    static constexpr uint8_t slack_fill = 0xA5;
    uint8_t* first() { return buffer_->first_accessible(); }
    static size_t page_offset(const uint8_t* p) {
        return size_t(reinterpret_cast<uintptr_t>(p) % size_t(sysconf(_SC_PAGESIZE)));
    }

    std::unique_ptr<GuardedBuffer> buffer_;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t slack_ = 0;  // filled bytes right before the data
};

}  // namespace lumo::fuzz
