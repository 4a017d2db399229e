// The container image as the packer streams it: the sealed front (header
// and directory) in memory, the files' data read from the files when the
// encoder asks for it, every byte held against the first pass's checksums;
// and the check of an unpacked image against the same description, block
// by block as the decoder hands it out, without holding the image.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/encoder/image_source.h"
#include "tools/lumopack/file_digest.h"
#include "tools/lumopack/system/system.h"

namespace lumo {

struct PlannedFile {
    uint64_t data_offset = 0;
    uint64_t size = 0;
    std::shared_ptr<const HeldFile> file;  // the file as it was listed and opened
    std::string shown;                    // the name for messages
    FileDigest digest;
    std::optional<std::vector<uint8_t>> bytes;  // data that is not the file's own (a scrambled script)
};

struct PlannedImage {
    std::vector<uint8_t> front;
    std::vector<PlannedFile> files;  // in directory order, the data of each following the last
    uint64_t size = 0;
};

class ContainerSource final : public ImageSource {
public:
    explicit ContainerSource(const PlannedImage& image) : image_(image) {}
    uint64_t size() const override { return image_.size; }
    // Throws PackError naming the file when its bytes are no longer those of
    // the first pass.
    void read(uint64_t offset, std::span<uint8_t> out) const override;

private:
    void read_file(const PlannedFile& file, uint64_t at, std::span<uint8_t> out) const;

    const PlannedImage& image_;
};

// Takes an unpacked image in order, in blocks of any size, and tells whether
// it is byte for byte the planned one: the front compared whole, the data
// piece by piece against the checksums.
class ImageCheck {
public:
    explicit ImageCheck(const PlannedImage& image) : image_(image) {}
    void take(std::span<const uint8_t> bytes);
    // True when all of the image came and matched.
    bool whole() const { return good_ && at_ == image_.size; }

private:
    const PlannedImage& image_;
    uint64_t at_ = 0;
    size_t file_ = 0;       // the file whose data is at `at_`, once past the front
    uint32_t running_ = 0;  // checksum of the piece so far
    bool good_ = true;
};

}  // namespace lumo
