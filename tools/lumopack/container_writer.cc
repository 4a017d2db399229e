#include "tools/lumopack/container_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "payload/checksum.h"
#include "payload/container.h"

namespace lumo {
namespace {

constexpr uint64_t field_max = std::numeric_limits<uint32_t>::max();

void put_u32(std::vector<uint8_t>& image, uint64_t at, uint64_t value) {
    for (int i = 0; i < 4; ++i) image[size_t(at) + i] = uint8_t(value >> (8 * i));
}

uint32_t get_u32(std::span<const uint8_t> image, uint64_t at) {
    return uint32_t(image[at]) | uint32_t(image[at + 1]) << 8 | uint32_t(image[at + 2]) << 16 |
           uint32_t(image[at + 3]) << 24;
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
    layout.image.assign(size_t(image_size), 0);
    std::memcpy(layout.image.data() + image_signature_offset, image_signature, image_signature_size);
    put_u32(layout.image, directory_length_offset, directory_length);
    put_u32(layout.image, directory_offset_offset, image_header_size);
    put_u32(layout.image, data_end_offset, image_size);

    uint64_t entry = image_header_size;
    uint64_t data = image_header_size + directory_length;
    for (const auto& file : files) {
        put_u32(layout.image, entry + entry_name_length_offset, name_area_length(file));
        put_u32(layout.image, entry + entry_size_offset, file.size);
        put_u32(layout.image, entry + entry_data_offset_offset, data);
        std::memcpy(layout.image.data() + entry + directory_entry_size, file.name.data(), file.name.size());
        layout.data_offset.push_back(uint32_t(data));
        entry += directory_entry_size + name_area_length(file);
        data += file.size;
    }
    return layout;
}

void seal_container(ContainerLayout& layout) {
    auto& image = layout.image;
    const uint32_t directory_length = get_u32(image, directory_length_offset);
    uint64_t entry = image_header_size;
    for (uint32_t offset : layout.data_offset) {
        const uint32_t size = get_u32(image, entry + entry_size_offset);
        put_u32(image, entry + entry_checksum_offset, container_checksum(image.data() + offset, size));
        entry += directory_entry_size + get_u32(image, entry + entry_name_length_offset);
    }
    put_u32(image, directory_checksum_offset,
            container_checksum(image.data() + image_header_size, directory_length));
    put_u32(image, 0, container_checksum(image.data() + 4, image_header_size - 4));
}

std::optional<std::vector<uint8_t>> build_container_image(std::span<const ContainerFileData> files) {
    std::vector<ContainerFile> plan;
    plan.reserve(files.size());
    for (const auto& file : files) plan.push_back({file.name, file.data.size()});
    auto layout = lay_out_container(plan);
    if (!layout) return std::nullopt;
    for (size_t i = 0; i < files.size(); ++i)
        std::copy(files[i].data.begin(), files[i].data.end(), layout->image.begin() + layout->data_offset[i]);
    seal_container(*layout);
    return std::move(layout->image);
}

}  // namespace lumo
