// The image as the encoder reads it, and where the packed stream goes. The
// encoder never needs the whole image at once: each part of the work reads
// the range it codes and the window before it, so the packer can read files
// as they are packed instead of holding them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace lumo {

class ImageSource {
public:
    virtual ~ImageSource() = default;
    virtual uint64_t size() const = 0;
    // Fills `out` with the image's bytes from `offset` on; the range lies
    // inside the image. Called from any thread, any number of times for the
    // same bytes. May throw (a read that fails, a file that changed); the
    // encoding then stops with that exception.
    virtual void read(uint64_t offset, std::span<uint8_t> out) const = 0;
};

// An image already in memory.
class MemoryImage final : public ImageSource {
public:
    explicit MemoryImage(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    uint64_t size() const override { return bytes_.size(); }
    void read(uint64_t offset, std::span<uint8_t> out) const override;

private:
    std::span<const uint8_t> bytes_;
};

// Takes the packed stream in order, piece by piece, on the thread that
// called the encoder.
class StreamSink {
public:
    virtual ~StreamSink() = default;
    virtual void write(std::span<const uint8_t> bytes) = 0;
    // The image's first `bytes` are coded (for a progress bar).
    virtual void coded(uint64_t bytes) { (void)bytes; }
};

class VectorSink final : public StreamSink {
public:
    void write(std::span<const uint8_t> bytes) override { bytes_.insert(bytes_.end(), bytes.begin(), bytes.end()); }
    std::vector<uint8_t>& bytes() { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

// Reads image[begin, end) into a fresh buffer.
std::vector<uint8_t> read_range(const ImageSource& source, uint64_t begin, uint64_t end);

}  // namespace lumo
