// lumopack's build: a folder in, a ready installer out.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/encoder/encoder.h"
#include "tools/lumopack/script_check.h"
#include "tools/lumopack/system/system.h"

namespace lumo {

class ProgressBar;

struct PackOptions {
    EncoderOptions encoder;
    // The stub as it was read (once: build_command checks it and names it),
    // its name for messages, and the permission bits the installer takes
    // from it so that it runs.
    std::vector<uint8_t> stub;
    std::string stub_shown;
    std::optional<uint32_t> stub_permissions;
    // Stored or host names (either separator) that lead the directory in
    // this order; the rest follow in the default order.
    std::vector<std::string> order;
    // What is done with the payload's "Setup.cfg".
    ScriptBuildOptions script;
    // Names outside ASCII refused, not only warned about.
    bool strict_names = false;
};

struct PackSummary {
    size_t files = 0;
    uint64_t file_bytes = 0;   // the files' sizes together
    uint64_t image_size = 0;   // the container image
    uint64_t packed_size = 0;  // the packed stream
    uint64_t installer_size = 0;
    std::vector<std::string> warnings;
    // Where the processor time went, for `--report`.
    EncoderWork work;
    std::vector<double> reading_seconds;  // the first pass's checksums, file by file, side by side
    double verifying_seconds = 0;         // unpacking the installer's stream again, one thread
};

// The pieces of an installer, in file order: the stub, the stored
// payload's size header, the packed stream, the padding and the trailer.
struct InstallerPieces {
    std::span<const uint8_t> stub;
    std::vector<uint8_t> payload_header;
    std::vector<uint8_t> packed_stream;
    std::vector<uint8_t> tail;

    std::vector<std::span<const uint8_t>> in_order() const;
};

// Packs `image` and lays the installer out behind `stub`. Throws PackError
// when the stub already carries a payload or a size does not fit the
// format's 32-bit fields.
InstallerPieces make_installer(std::span<const uint8_t> stub, std::span<const uint8_t> image,
                               const EncoderOptions& options);

// Packs every file below `folder` into an installer at `output`.
PackSummary pack_folder(const std::filesystem::path& folder, const std::filesystem::path& output,
                        const PackOptions& options, ProgressBar& progress);

// Reads a whole file into a std::vector<uint8_t> or a ZeroedBuffer (which
// skips zeroing a buffer about to be overwritten); throws PackError naming
// the file on failure.
template <typename Buffer>
Buffer read_whole_file(const std::filesystem::path& path);

// Reads an order file: one name per line; blank lines and lines that begin
// with '#' are skipped, a carriage return before the line feed is dropped.
std::vector<std::string> read_order_file(const std::filesystem::path& path);

}  // namespace lumo
