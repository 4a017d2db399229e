// Builds container images: the 52-byte header, the directory and the files'
// data, each under its checksum (payload/container.h describes the layout).
//
// The image is laid out from the files' sizes alone: its front (header and
// directory) is held, and the files' data stays where it is until it is
// packed; once the data's checksums are known, the front is sealed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lumo {

// One file of an image: its stored name (Windows-1252, backslashes between
// folders) and its size.
struct ContainerFile {
    std::string name;
    uint64_t size = 0;
};

struct ContainerLayout {
    std::vector<uint8_t> front;         // header and directory, checksums zero until sealed
    std::vector<uint32_t> data_offset;  // where each file's data goes, in order
    uint64_t image_size = 0;
};

// Lays out an image for `files`, in the order given: the header, the
// directory with its terminating entry, then the data of each file in
// directory order. Nothing when the image would not fit the format's 32-bit
// sizes and offsets. Reserved fields are zero.
std::optional<ContainerLayout> lay_out_container(std::span<const ContainerFile> files);

// Fills in each file's data checksum (in directory order), then the
// directory checksum, then the header checksum.
void seal_container(ContainerLayout& layout, std::span<const uint32_t> data_checksums);

// Both steps for files already in memory: the whole image.
struct ContainerFileData {
    std::string name;
    std::span<const uint8_t> data;
};
std::optional<std::vector<uint8_t>> build_container_image(std::span<const ContainerFileData> files);

}  // namespace lumo
