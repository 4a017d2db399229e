#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <new>

#include "tools/lumopack/system/system.h"

namespace lumo {
namespace {

constexpr size_t large_page = size_t(2) << 20;

}  // namespace

// Anonymous pages arrive zeroed. A big buffer starts on a large-page
// boundary and asks for large pages, one fault and one clear per 2 MiB.
ZeroedBuffer::ZeroedBuffer(size_t size) : size_(size) {
    const bool big = size >= large_page;
    block_size_ = (size == 0 ? 1 : size) + (big ? large_page : 0);
    void* block = mmap(nullptr, block_size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    block_ = block;
    const uintptr_t start = reinterpret_cast<uintptr_t>(block);
    bytes_ = static_cast<uint8_t*>(block) + (big ? (large_page - start % large_page) % large_page : 0);
#ifdef MADV_HUGEPAGE
    if (big) madvise(bytes_, size, MADV_HUGEPAGE);  // a hint; refused is fine
#endif
}

void ZeroedBuffer::forget(size_t begin, size_t end) {
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t from = (reinterpret_cast<uintptr_t>(bytes_) + begin + page - 1) / page * page;
    const uintptr_t to = (reinterpret_cast<uintptr_t>(bytes_) + std::min(end, size_)) / page * page;
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
}

void ZeroedBuffer::release() {
    if (block_ != nullptr) munmap(block_, block_size_);
    block_ = nullptr;
}

}  // namespace lumo
