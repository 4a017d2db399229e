#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/system/system.h"

namespace lumo {

MappedFile::MappedFile(const HeldFile& file, uint64_t offset, uint64_t length, const std::string& shown)
    : length_(length) {
    const int fd = int(file.native());
    const uint64_t page = uint64_t(sysconf(_SC_PAGESIZE));
    const uint64_t start = offset / page * page;
    block_size_ = size_t(offset - start + length);
    void* block = block_size_ == 0 ? nullptr : mmap(nullptr, block_size_, PROT_READ, MAP_SHARED, fd, off_t(start));
    if (block == MAP_FAILED) throw PackError(shown + ": cannot be read back");
    block_ = block;
    bytes_ = static_cast<const uint8_t*>(block) + (offset - start);
}

MappedFile::~MappedFile() {
    if (block_ != nullptr) munmap(block_, block_size_);
}

void MappedFile::release_before(uint64_t offset) {
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t begin = reinterpret_cast<uintptr_t>(block_) + uintptr_t(released_);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(bytes_) + uintptr_t(std::min(offset, length_))) / page * page;
    if (block_ == nullptr || end <= begin) return;
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
    released_ = end - reinterpret_cast<uintptr_t>(block_);
}

}  // namespace lumo
