// The Wine prefix that holds the installed Windows product on a POSIX
// machine: its folder, its drives and its registry files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lumo {

// WINEPREFIX, else ~/.wine; empty when neither can be named.
std::string wine_prefix_folder();

// Whether `path` names a place on a drive: a letter, a colon, then a
// backslash or slash or nothing.
bool is_windows_drive_path(const std::string& path);

// The host path of a Windows drive path inside `prefix`: the drive through
// the prefix's dosdevices link ("c:" also through drive_c), every part
// matched without regard to letter case as Windows does. Parts that exist
// nowhere are kept as written, so the result then names nothing. ".." never
// climbs above the drive. Empty for any other kind of path.
std::string wine_host_path(const std::string& prefix, const std::string& windows_path);

// Reads a whole file of at most `limit` bytes; nothing when it cannot be
// read or is larger.
std::optional<std::string> read_small_file(const std::string& path, uint64_t limit);

// GetVersion as the prefix reports it: the major version in the lowest byte,
// the minor in the next. From the Windows version Wine was told to show
// (user.reg), else the system's CurrentVersion numbers (system.reg), else a
// Windows 9x VersionNumber; a prefix that says nothing counts as version 6.1.
uint32_t wine_system_version(const std::string& prefix);

}  // namespace lumo
