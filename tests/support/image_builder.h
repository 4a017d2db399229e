// Builds small container images for tests: a header, a directory and the
// entries' data with every checksum right, laid out as
//   header (52) | directory entries | terminating entry | data of each entry.
// Tests then damage what they need through the offsets it reports.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "payload/checksum.h"
#include "payload/container.h"

namespace lumo::test {

inline void put_le32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(value >> (8 * i));
}

inline uint32_t get_le32(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}

struct ImageFile {
    std::string name;  // Windows-1252 bytes
    std::string data;
};

struct BuiltImage {
    std::vector<uint8_t> bytes;
    std::vector<size_t> entry_offsets;  // of each entry's fixed part
    std::vector<size_t> data_offsets;   // of each entry's data

    // After a test changed the directory: the directory checksum and then the
    // header checksum made right again.
    void reseal_directory() {
        const uint32_t length = get_le32(bytes, directory_length_offset);
        const uint32_t offset = get_le32(bytes, directory_offset_offset);
        put_le32(bytes, directory_checksum_offset, container_checksum(bytes.data() + offset, length));
        reseal_header();
    }
    void reseal_header() {
        put_le32(bytes, 0, container_checksum(bytes.data() + 4, image_header_size - 4));
    }
};

inline BuiltImage build_image(const std::vector<ImageFile>& files) {
    BuiltImage image;
    auto& b = image.bytes;
    b.assign(image_header_size, 0);
    std::memcpy(b.data() + image_signature_offset, image_signature, image_signature_size);

    const size_t directory_offset = b.size();
    size_t data_at = directory_offset;
    for (const auto& f : files) data_at += directory_entry_size + f.name.size() + 1;
    data_at += directory_entry_size;  // the terminating entry
    const size_t directory_length = data_at - directory_offset;

    for (const auto& f : files) {
        const size_t at = b.size();
        image.entry_offsets.push_back(at);
        b.resize(at + directory_entry_size, 0);
        put_le32(b, at + entry_name_length_offset, uint32_t(f.name.size() + 1));
        put_le32(b, at + entry_checksum_offset,
                 container_checksum(reinterpret_cast<const uint8_t*>(f.data.data()), f.data.size()));
        put_le32(b, at + entry_size_offset, uint32_t(f.data.size()));
        put_le32(b, at + entry_data_offset_offset, uint32_t(data_at));
        image.data_offsets.push_back(data_at);
        data_at += f.data.size();
        b.insert(b.end(), f.name.begin(), f.name.end());
        b.push_back(0);
    }
    b.resize(b.size() + directory_entry_size, 0);  // name area length 0: the end
    for (const auto& f : files) b.insert(b.end(), f.data.begin(), f.data.end());

    put_le32(b, directory_length_offset, uint32_t(directory_length));
    put_le32(b, directory_offset_offset, uint32_t(directory_offset));
    put_le32(b, data_end_offset, uint32_t(b.size()));
    image.reseal_directory();
    return image;
}

}  // namespace lumo::test
