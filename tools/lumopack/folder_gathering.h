// Collects the files below an add-on's folder for packing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace lumo {

struct GatheredFile {
    std::string stored_name;          // Windows-1252, backslashes between folders
    std::string host_name;            // the name relative to the folder, for messages (escape_controls)
    std::filesystem::path path;
    uint64_t size = 0;
};

// Every regular file below `folder`, in no particular order. Throws
// PackError, naming the file, for a link, a special file, a name that cannot
// be stored (payload/entry_name.h), or two names that Windows takes for the
// same file. A file equivalent to `skip` (the installer being written, when
// it lies inside the folder) is left out.
std::vector<GatheredFile> gather_folder(const std::filesystem::path& folder, const std::filesystem::path& skip = {});

// The host's spelling of a stored name, for messages and listings: UTF-8,
// '/' between folders, control characters escaped (escape_controls), so
// that a name from an installer cannot steer the terminal. Not for file
// names or machine-read output, which need the name itself.
std::string host_spelling(const std::string& stored_name);

}  // namespace lumo
