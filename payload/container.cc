#include "payload/container.h"

#include <cstring>

#include "payload/checksum.h"

namespace lumo {
namespace {

uint32_t load_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Ranges are added up in 64 bits, so that no offset and size from the image
// can wrap around and pass a bound.
bool inside(uint64_t image_size, uint64_t offset, uint64_t size) {
    return offset <= image_size && size <= image_size - offset;
}

bool inside(std::span<const uint8_t> image, uint64_t offset, uint64_t size) {
    return inside(uint64_t(image.size()), offset, size);
}

}  // namespace

bool parse_stored_payload(std::span<const uint8_t> bytes, StoredPayload& payload) {
    if (bytes.size() < 8) return false;
    const uint32_t packed_size = load_le32(bytes.data());
    if (packed_size > bytes.size() - 8) return false;
    payload.packed_size = packed_size;
    payload.unpacked_size = load_le32(bytes.data() + 4);
    payload.packed_stream = bytes.subspan(8, packed_size);
    return true;
}

bool read_image_header(std::span<const uint8_t, image_header_size> bytes, uint64_t image_size,
                       ImageHeader& header) {
    const uint8_t* h = bytes.data();
    if (std::memcmp(h + image_signature_offset, image_signature, image_signature_size) != 0)
        return false;
    if (container_checksum(h + 4, image_header_size - 4) != load_le32(h)) return false;

    header.directory_length = load_le32(h + directory_length_offset);
    header.directory_offset = load_le32(h + directory_offset_offset);
    header.directory_checksum = load_le32(h + directory_checksum_offset);
    header.data_end = load_le32(h + data_end_offset);
    return inside(image_size, header.directory_offset, header.directory_length);
}

bool directory_checksum_matches(std::span<const uint8_t> directory, const ImageHeader& header) {
    return container_checksum(directory.data(), directory.size()) == header.directory_checksum;
}

bool validate_image_header(std::span<const uint8_t> image, ImageHeader& header) {
    if (image.size() < image_header_size) return false;
    if (!read_image_header(image.first<image_header_size>(), image.size(), header)) return false;
    return directory_checksum_matches(image.subspan(header.directory_offset, header.directory_length), header);
}

bool entry_data_in_bounds(uint64_t image_size, const ImageHeader& header, const DirectoryEntry& entry) {
    const uint64_t end = uint64_t(entry.data_offset) + entry.data_size;
    return end <= header.data_end && inside(image_size, entry.data_offset, entry.data_size);
}

bool check_entry_data(std::span<const uint8_t> image, const ImageHeader& header,
                      DirectoryEntry& entry) {
    if (!entry_data_in_bounds(image.size(), header, entry)) return false;
    const auto data = image.subspan(entry.data_offset, entry.data_size);
    if (container_checksum(data.data(), data.size()) != entry.data_checksum) return false;
    entry.data = data;
    return true;
}

DirectoryWalker::DirectoryWalker(std::span<const uint8_t> image, const ImageHeader& header)
    : image_(image), position_(header.directory_offset) {}

DirectoryWalker::Step DirectoryWalker::next(DirectoryEntry& entry) {
    if (stopped_ != Step::entry) return stopped_;
    // The terminating entry is read no further than its name area length.
    if (!inside(image_, position_, 4)) return stopped_ = Step::corrupt;
    const uint8_t* e = image_.data() + position_;
    const uint32_t name_length = load_le32(e + entry_name_length_offset);
    if (name_length == 0) return stopped_ = Step::end;
    if (!inside(image_, position_, directory_entry_size)) return stopped_ = Step::corrupt;

    // The name is read up to its terminating zero, as the name area length
    // only says where the next entry begins; it must end inside the image.
    const uint64_t name_start = position_ + directory_entry_size;
    if (name_start >= image_.size()) return stopped_ = Step::corrupt;
    const auto* name = reinterpret_cast<const char*>(image_.data() + name_start);
    const auto* zero = static_cast<const char*>(std::memchr(name, 0, image_.size() - name_start));
    if (zero == nullptr) return stopped_ = Step::corrupt;

    entry = DirectoryEntry{};
    entry.name = std::string_view(name, size_t(zero - name));
    entry.data_checksum = load_le32(e + entry_checksum_offset);
    entry.data_size = load_le32(e + entry_size_offset);
    entry.data_offset = load_le32(e + entry_data_offset_offset);
    position_ = name_start + name_length;
    return Step::entry;
}

}  // namespace lumo
