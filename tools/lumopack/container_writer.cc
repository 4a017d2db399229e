#include "tools/lumopack/container_writer.h"

#include <cstring>
#include <limits>

#include "payload/checksum.h"
#include "payload/container.h"

namespace lumo {
namespace {

constexpr uint64_t field_max = std::numeric_limits<uint32_t>::max();

void put_u32(std::vector<uint8_t>& bytes, uint64_t at, uint64_t value) {
    for (int i = 0; i < 4; ++i) bytes[size_t(at) + i] = uint8_t(value >> (8 * i));
}

uint32_t get_u32(std::span<const uint8_t> bytes, uint64_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}

// A name area holds the name and its terminating zero.
uint64_t name_area_length(const ContainerFile& file) { return file.name.size() + 1; }

}  // namespace

std::optional<ContainerLayout> lay_out_container(std::span<const ContainerFile> files) {
    // The directory: one entry per file, then a terminating entry, written
    // whole (24 zero bytes) so that readers that fetch the fixed part of
    // every entry stay inside the directory.
    uint64_t directory_length = directory_entry_size;
    uint64_t data_length = 0;
    for (const auto& file : files) {
        if (file.size > field_max || file.name.empty()) return std::nullopt;
        directory_length += directory_entry_size + name_area_length(file);
        data_length += file.size;
    }
    const uint64_t image_size = image_header_size + directory_length + data_length;
    if (image_size > field_max) return std::nullopt;

    ContainerLayout layout;
    layout.image_size = image_size;
    std::vector<uint8_t>& front = layout.front;
    front.assign(size_t(image_header_size + directory_length), 0);
    std::memcpy(front.data() + image_signature_offset, image_signature, image_signature_size);
    put_u32(front, directory_length_offset, directory_length);
    put_u32(front, directory_offset_offset, image_header_size);
    put_u32(front, data_end_offset, image_size);

    uint64_t entry = image_header_size;
    uint64_t data = front.size();
    for (const auto& file : files) {
        put_u32(front, entry + entry_name_length_offset, name_area_length(file));
        put_u32(front, entry + entry_size_offset, file.size);
        put_u32(front, entry + entry_data_offset_offset, data);
        std::memcpy(front.data() + entry + directory_entry_size, file.name.data(), file.name.size());
        layout.data_offset.push_back(uint32_t(data));
        entry += directory_entry_size + name_area_length(file);
        data += file.size;
    }
    return layout;
}

void seal_container(ContainerLayout& layout, std::span<const uint32_t> data_checksums) {
    auto& front = layout.front;
    const uint32_t directory_length = get_u32(front, directory_length_offset);
    uint64_t entry = image_header_size;
    for (uint32_t checksum : data_checksums) {
        put_u32(front, entry + entry_checksum_offset, checksum);
        entry += directory_entry_size + get_u32(front, entry + entry_name_length_offset);
    }
    put_u32(front, directory_checksum_offset, container_checksum(front.data() + image_header_size, directory_length));
    put_u32(front, 0, container_checksum(front.data() + 4, image_header_size - 4));
}

std::optional<std::vector<uint8_t>> build_container_image(std::span<const ContainerFileData> files) {
    std::vector<ContainerFile> plan;
    std::vector<uint32_t> checksums;
    for (const auto& file : files) {
        plan.push_back({file.name, file.data.size()});
        checksums.push_back(container_checksum(file.data.data(), file.data.size()));
    }
    auto layout = lay_out_container(plan);
    if (!layout) return std::nullopt;
    seal_container(*layout, checksums);
    std::vector<uint8_t> image = std::move(layout->front);
    for (const auto& file : files) image.insert(image.end(), file.data.begin(), file.data.end());
    return image;
}

}  // namespace lumo
