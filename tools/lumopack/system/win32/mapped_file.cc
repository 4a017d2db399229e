#include <windows.h>

#include <algorithm>

#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/system/system.h"

namespace lumo {

MappedFile::MappedFile(const HeldFile& file, uint64_t offset, uint64_t length, const std::string& shown)
    : length_(length) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const uint64_t granularity = system.dwAllocationGranularity;
    const uint64_t start = offset / granularity * granularity;
    block_size_ = size_t(offset - start + length);
    if (block_size_ == 0) return;
    HANDLE mapping = CreateFileMappingW(reinterpret_cast<HANDLE>(file.native()), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) throw PackError(shown + ": cannot be read back");
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, DWORD(start >> 32), DWORD(start), block_size_);
    if (view == nullptr) {
        CloseHandle(mapping);
        throw PackError(shown + ": cannot be read back");
    }
    handle_ = mapping;
    block_ = view;
    bytes_ = static_cast<const uint8_t*>(view) + (offset - start);
}

MappedFile::~MappedFile() {
    if (block_ != nullptr) UnmapViewOfFile(block_);
    if (handle_ != nullptr) CloseHandle(handle_);
}

// Unlocking pages that are not locked takes them out of the working set.
void MappedFile::release_before(uint64_t offset) {
    const uintptr_t page = 4096;
    const uintptr_t begin = reinterpret_cast<uintptr_t>(block_) + uintptr_t(released_);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(bytes_) + uintptr_t(std::min(offset, length_))) / page * page;
    if (block_ == nullptr || end <= begin) return;
    VirtualUnlock(reinterpret_cast<void*>(begin), end - begin);
    released_ = end - reinterpret_cast<uintptr_t>(block_);
}

}  // namespace lumo
