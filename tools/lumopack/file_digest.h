// The first pass over an add-on's files: each file's container checksum for
// the directory, and the checksums of its 64 KiB pieces, against which every
// later read of the file is held. A file that changes while it is packed is
// so caught whenever the bytes the encoder sees are not the ones the
// directory describes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lumo {

class HeldFile;

inline constexpr uint64_t kDigestPiece = 64 * 1024;

struct FileDigest {
    uint32_t whole = 0;            // the container checksum of all the bytes
    std::vector<uint32_t> pieces;  // of each 64 KiB piece on its own (the last may be shorter)
};

FileDigest digest_bytes(std::span<const uint8_t> bytes);

// Reads `size` bytes of `file`. Throws PackError naming `shown` when the file
// cannot be read or its size is no longer `size`.
FileDigest digest_file(const HeldFile& file, uint64_t size, const std::string& shown);

}  // namespace lumo
