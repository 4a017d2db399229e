// The installer's own file as the worker reads it: through the platform, a
// piece at a time, so that memory never grows with the file.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <span>

#include "payload/bit_input.h"
#include "payload/installer_layout.h"
#include "platform/platform.h"

namespace lumo {

class OwnInstallerFile final : public InstallerFile {
public:
    explicit OwnInstallerFile(Platform& platform) : platform_(platform) {}
    uint64_t size() override { return platform_.installer_size(); }
    bool read(uint64_t offset, uint8_t* destination, size_t n) override {
        return platform_.read_installer(offset, destination, n);
    }

private:
    Platform& platform_;
};

// The packed stream that lies at `offset` in the installer, `length` bytes,
// handed to the decoder in pieces. A piece that cannot be read ends the
// stream there: the decoder then reads on over stale input, as over any
// stream cut short, and the image fails its checks.
class InstallerFeed final : public PackedFeed {
public:
    // Pieces are a multiple of four bytes, as the feed's contract asks.
    static constexpr size_t piece_size = 256 * 1024;
    static_assert(piece_size % 4 == 0);

    InstallerFeed(Platform& platform, uint64_t offset, uint64_t length)
        : platform_(platform), next_(offset), end_(offset + length),
          piece_(static_cast<uint8_t*>(std::malloc(piece_size))) {}
    ~InstallerFeed() override { std::free(piece_); }
    InstallerFeed(const InstallerFeed&) = delete;
    InstallerFeed& operator=(const InstallerFeed&) = delete;

    std::span<const uint8_t> next_piece() override;

private:
    Platform& platform_;
    uint64_t next_;
    uint64_t end_;
    uint8_t* piece_;
};

}  // namespace lumo
