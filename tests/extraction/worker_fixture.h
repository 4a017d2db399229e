// An installer for the worker's tests: a stub, a stored payload whose packed
// stream is the container image itself, and the trailer. The stand-in decoder
// copies the stream into the image in blocks, reporting each to the meter as
// the real decoder does, so the worker's own paths are reached with images
// built field by field.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "extraction/extraction_worker.h"
#include "image_builder.h"
#include "payload/installer_layout.h"
#include "payload/unpack_stream.h"

namespace lumo::test {

inline std::vector<uint8_t> installer_with_image(const std::vector<uint8_t>& image, uint32_t unpacked_size) {
    std::vector<uint8_t> installer(100, 0x90);  // the stub's bytes
    std::vector<uint8_t> stored(8, 0);
    put_le32(stored, 0, uint32_t(image.size()));
    put_le32(stored, 4, unpacked_size);
    stored.insert(stored.end(), image.begin(), image.end());
    append_stored_payload(installer, stored);
    return installer;
}

inline std::vector<uint8_t> installer_with_image(const std::vector<uint8_t>& image) {
    return installer_with_image(image, uint32_t(image.size()));
}

// The stand-in decoder: the packed stream is the image itself, handed on
// in blocks of 4 KiB, zeros where the stream is short. The blocks stay
// until the worker lets go of them, as the decoder's buffer does.
inline StreamedImage copy_as_decoder(PackedFeed& feed, uint64_t image_size, ImageOutput& output) {
    std::vector<uint8_t> image;
    for (auto piece = feed.next_piece(); !piece.empty(); piece = feed.next_piece())
        image.insert(image.end(), piece.begin(), piece.end());
    image.resize(std::max<uint64_t>(image.size(), image_size), 0);
    constexpr uint64_t block = 4096;
    StreamedImage result;
    result.filled = true;
    while (result.emitted < image_size) {
        const uint64_t n = std::min(block, image_size - result.emitted);
        if (!output.emit(image.data() + result.emitted, uint32_t(n))) break;
        result.emitted += n;
    }
    output.reuse(result.emitted);
    return result;
}

}  // namespace lumo::test
