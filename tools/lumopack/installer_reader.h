// Opens an installer the way the installer itself reads its payload: finds
// the trailer, reads the stored payload's size header and unpacks the
// container image. Works on any file that follows the installer layout,
// whoever packed it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "payload/container.h"
#include "tools/lumopack/system/system.h"

namespace lumo {

struct OpenedInstaller {
    uint64_t file_size = 0;
    uint64_t payload_offset = 0;
    uint32_t packed_size = 0;
    uint32_t unpacked_size = 0;
    ZeroedBuffer image;  // the unpacked container image, unpacked_size bytes
    // False when the packed stream had to be read past its end to fill the
    // image, as it must when the unpacked size was raised.
    bool stream_filled = false;
};

class ProgressBar;

// Throws PackError with the installer's corrupt-payload message when the
// file carries no stored payload that the installer would accept, or one
// whose unpacked size is more than its packed stream can hold (see
// max_unpacked_size): nothing is reserved for such a size. The bar shows the
// unpacking.
OpenedInstaller open_installer(const std::filesystem::path& path, ProgressBar& progress);

// What is wrong with the stored unpacked size, which the installer takes on
// trust, or nothing: the packed stream ran out before the image was full, or
// the image runs on past the end of everything its header names (header,
// directory and data end). Both mean a size that was raised; the installer
// itself still works from the image's front.
std::optional<std::string> unpacked_size_fault(const OpenedInstaller& installer);

// The installer's own message for a damaged payload, on one line, with
// `detail` (what exactly is wrong) after it.
std::string corrupt_payload_message(const std::string& detail);

// How much of an installer a walk checks.
enum class EntryChecks {
    names_only,  // the directory as it stands, for listing
    all,         // each entry's data against data end and its checksum, and
                 // its name against the installer's rule, before it is visited
};

// Checks the image's header, then walks its directory in order and hands
// each entry to `visit`. Throws PackError with the corrupt-payload message,
// naming the entry, at the first failure; entries visited before stay
// visited.
void walk_entries(const OpenedInstaller& installer, EntryChecks checks,
                  const std::function<void(const DirectoryEntry&)>& visit);

// What the full check of one entry found.
struct EntryVerdict {
    enum class Kind { ok, damaged, unsafe_name };
    Kind kind = Kind::ok;
    std::string reason;  // what exactly is wrong; empty when ok
};

// Like walk_entries with every check, but each entry is judged on its own:
// `visit` gets it with its verdict, and the walk goes on past a bad one.
// Throws PackError only when the header or the directory itself is damaged,
// which leaves nothing to judge.
void judge_entries(const OpenedInstaller& installer,
                   const std::function<void(const DirectoryEntry&, const EntryVerdict&)>& visit);

// The corrupt-payload message for an entry whose verdict is not ok.
std::string entry_failure_message(const DirectoryEntry& entry, const EntryVerdict& verdict);

}  // namespace lumo
