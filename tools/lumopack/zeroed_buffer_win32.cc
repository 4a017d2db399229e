#include <windows.h>

#include <new>

#include "tools/lumopack/zeroed_buffer.h"

namespace lumo {

// Committed pages arrive zeroed.
ZeroedBuffer::ZeroedBuffer(size_t size) : size_(size) {
    block_size_ = size == 0 ? 1 : size;
    block_ = VirtualAlloc(nullptr, block_size_, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (block_ == nullptr) throw std::bad_alloc();
    bytes_ = static_cast<uint8_t*>(block_);
}

void ZeroedBuffer::release() {
    if (block_ != nullptr) VirtualFree(block_, 0, MEM_RELEASE);
    block_ = nullptr;
}

}  // namespace lumo
