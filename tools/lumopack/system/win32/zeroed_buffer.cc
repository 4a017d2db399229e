#include <windows.h>

#include <algorithm>
#include <new>

#include "tools/lumopack/system/system.h"

namespace lumo {

// Committed pages arrive zeroed.
ZeroedBuffer::ZeroedBuffer(size_t size) : size_(size) {
    block_size_ = size == 0 ? 1 : size;
    block_ = VirtualAlloc(nullptr, block_size_, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (block_ == nullptr) throw std::bad_alloc();
    bytes_ = static_cast<uint8_t*>(block_);
}

// Decommitted and committed again, pages come back zero.
void ZeroedBuffer::forget(size_t begin, size_t end) {
    const uintptr_t page = 4096;
    const uintptr_t from = (reinterpret_cast<uintptr_t>(bytes_) + begin + page - 1) / page * page;
    const uintptr_t to = (reinterpret_cast<uintptr_t>(bytes_) + std::min(end, size_)) / page * page;
    if (to <= from) return;
    VirtualFree(reinterpret_cast<void*>(from), to - from, MEM_DECOMMIT);
    VirtualAlloc(reinterpret_cast<void*>(from), to - from, MEM_COMMIT, PAGE_READWRITE);
}

void ZeroedBuffer::release() {
    if (block_ != nullptr) VirtualFree(block_, 0, MEM_RELEASE);
    block_ = nullptr;
}

}  // namespace lumo
