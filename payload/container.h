// The stored payload and the container image it unpacks to.
//
// Stored payload (little-endian):
//   u32 packed size, u32 unpacked size, then the packed stream.
//
// Container image: a 52-byte header, a directory of entries and the entries'
// file data, each guarded by a container checksum (payload/checksum.h).
//
//   header   0  u32  checksum of bytes 4..51
//            4  22   signature "(c) by Tovi Quarnbelt" and its zero byte
//           26  6    reserved
//           32  u32  directory length (the range of the directory checksum)
//           36  u32  directory offset
//           40  u32  directory checksum
//           44  u32  data end: every entry's data ends at or before it
//           48  u32  reserved
//   entry    0  u32  name area length; 0 ends the directory
//            4  u32  data checksum
//            8  u32  data size
//           12  u32  data offset
//           16  8    reserved
//           24  ...  name area: zero-terminated name, backslashes between folders
//
// Nothing that the image claims is trusted: every range is checked against
// the image before it is read, and one that leaves the image makes the image
// corrupt, exactly like a checksum mismatch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace lumo {

inline constexpr size_t image_header_size = 52;
inline constexpr size_t directory_entry_size = 24;  // the fixed part, before the name area
inline constexpr size_t image_signature_size = 22;  // the text and its terminating zero
inline constexpr char image_signature[image_signature_size] = "(c) by Tovi Quarnbelt";
static_assert(sizeof(image_signature) == image_signature_size);

// Offsets of the header fields.
inline constexpr size_t image_signature_offset = 4;
inline constexpr size_t directory_length_offset = 32;
inline constexpr size_t directory_offset_offset = 36;
inline constexpr size_t directory_checksum_offset = 40;
inline constexpr size_t data_end_offset = 44;

// Offsets of the fields of a directory entry.
inline constexpr size_t entry_name_length_offset = 0;
inline constexpr size_t entry_checksum_offset = 4;
inline constexpr size_t entry_size_offset = 8;
inline constexpr size_t entry_data_offset_offset = 12;

struct StoredPayload {
    uint32_t packed_size = 0;
    uint32_t unpacked_size = 0;
    std::span<const uint8_t> packed_stream;  // exactly packed_size bytes
};

// Reads the size header. False when the bytes are too few for the header or
// for the packed size it claims; bytes after the packed stream are ignored.
bool parse_stored_payload(std::span<const uint8_t> bytes, StoredPayload& payload);

struct ImageHeader {
    uint32_t directory_length = 0;
    uint32_t directory_offset = 0;
    uint32_t directory_checksum = 0;
    uint32_t data_end = 0;
};

// The first checks of an image, in this order: signature, header checksum,
// directory checksum. An image too short for its header, or whose directory
// range leaves the image, fails too.
bool validate_image_header(std::span<const uint8_t> image, ImageHeader& header);

// The same checks a piece at a time, for a reader that has the image's
// first image_header_size bytes before the rest: signature and header
// checksum, and the directory's range inside an image of `image_size`
// bytes; then the directory's checksum, once its bytes are there.
bool read_image_header(std::span<const uint8_t, image_header_size> bytes, uint64_t image_size,
                       ImageHeader& header);
bool directory_checksum_matches(std::span<const uint8_t> directory, const ImageHeader& header);

// One file of the directory.
struct DirectoryEntry {
    std::string_view name;  // Windows-1252 bytes, backslashes between folders
    uint32_t data_checksum = 0;
    uint32_t data_size = 0;
    uint32_t data_offset = 0;
    std::span<const uint8_t> data;  // set by check_entry_data
};

// The entry's data range against data end and the image, then its checksum.
// On success `entry.data` points at the data inside the image.
bool check_entry_data(std::span<const uint8_t> image, const ImageHeader& header,
                      DirectoryEntry& entry);

// The first of those checks alone: the entry's data range ends at or
// before data end and inside an image of `image_size` bytes.
bool entry_data_in_bounds(uint64_t image_size, const ImageHeader& header, const DirectoryEntry& entry);

// Walks the directory entry by entry. Each entry's fixed part and name are
// checked to lie inside the image just before they are read; its data is
// left to check_entry_data, so that a caller can act on the name first.
class DirectoryWalker {
public:
    enum class Step { entry, end, corrupt };

    DirectoryWalker(std::span<const uint8_t> image, const ImageHeader& header);
    // Over the directory's bytes alone, from their start: an entry that
    // leaves them counts as corrupt.
    explicit DirectoryWalker(std::span<const uint8_t> directory) : image_(directory), position_(0) {}

    // `entry` on an entry (name and fields set, data not yet checked); `end`
    // at the terminating entry; `corrupt` when the entry leaves the image.
    // After `end` or `corrupt` every further call answers the same.
    Step next(DirectoryEntry& entry);

private:
    std::span<const uint8_t> image_;
    uint64_t position_;
    Step stopped_ = Step::entry;
};

// Everything at once, for tools that list, test or extract an image: the
// header checks, then each entry with its data checked. `visit` gets every
// good entry in order; the result is false at the first failure.
template <typename Visit>
bool walk_image(std::span<const uint8_t> image, Visit&& visit) {
    ImageHeader header;
    if (!validate_image_header(image, header)) return false;
    DirectoryWalker walker(image, header);
    DirectoryEntry entry;
    for (;;) {
        switch (walker.next(entry)) {
        case DirectoryWalker::Step::end: return true;
        case DirectoryWalker::Step::corrupt: return false;
        case DirectoryWalker::Step::entry:
            if (!check_entry_data(image, header, entry)) return false;
            visit(static_cast<const DirectoryEntry&>(entry));
        }
    }
}

}  // namespace lumo
