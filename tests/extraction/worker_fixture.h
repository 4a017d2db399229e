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

inline void copy_as_decoder(const uint8_t* packed_begin, const uint8_t* packed_end, uint8_t* image_begin,
                            uint8_t* image_end, ProgressSink& meter) {
    constexpr size_t block = 4096;
    while (image_begin < image_end) {
        size_t n = std::min<size_t>(block, size_t(image_end - image_begin));
        size_t available = std::min<size_t>(n, size_t(packed_end - packed_begin));
        std::copy(packed_begin, packed_begin + available, image_begin);
        packed_begin += available;
        image_begin += n;
        meter.report_progress(uint32_t(n));
    }
}

}  // namespace lumo::test
