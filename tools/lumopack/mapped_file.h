// A read-only view of part of a file, for decoding a packed stream that is
// larger than the packer wants to hold: pages come in as they are read and
// can be let go of once read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

namespace lumo {

class MappedFile {
public:
    // Maps bytes [offset, offset + length) of `path`; throws PackError.
    MappedFile(const std::filesystem::path& path, uint64_t offset, uint64_t length);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    std::span<const uint8_t> bytes() const { return {bytes_, size_t(length_)}; }

    // Lets go of the pages wholly before `offset` (in the view): they are read
    // from the file again should they be touched.
    void release_before(uint64_t offset);

private:
    [[maybe_unused]] void* handle_ = nullptr;  // the system's mapping object, where it has one
    void* block_ = nullptr;   // the view, from a page boundary
    size_t block_size_ = 0;
    const uint8_t* bytes_ = nullptr;
    uint64_t length_ = 0;
    uint64_t released_ = 0;
};

}  // namespace lumo
