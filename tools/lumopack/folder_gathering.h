// Collects the files below an add-on's folder for packing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "tools/lumopack/system/system.h"

namespace lumo {

struct GatheredFile {
    std::string stored_name;          // Windows-1252, backslashes between folders
    std::string host_name;            // the name relative to the folder, for messages (escape_controls)
    uint64_t size = 0;
    // The file as it was listed, held open: every pass reads it through this.
    std::shared_ptr<HeldFile> file;
};

// Every regular file below `folder`, in no particular order, each held open
// (list_source_folder). Throws PackError, naming the file, for a link, a
// special file, a file that changed between the listing and its opening, a
// name that cannot be stored (payload/entry_name.h), or two names that
// Windows takes for the same file. Files among `skip` (the installer being
// written, when it lies inside the folder) are left out.
std::vector<GatheredFile> gather_folder(const std::filesystem::path& folder, std::span<const FileIdentity> skip = {});

// The host's spelling of a stored name, for messages and listings: UTF-8,
// '/' between folders, control characters escaped (escape_controls), so
// that a name from an installer cannot steer the terminal. Not for file
// names or machine-read output, which need the name itself.
std::string host_spelling(const std::string& stored_name);

}  // namespace lumo
