// Whether the installed product is one this add-on may update: its program's
// file version in the script's range, and, when the script asks, its product
// name and its language file.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "setup_script/setup_record.h"

namespace lumo {

inline constexpr const char* program_file_name = "lumo.exe";
inline constexpr const char* language_file_name = "lumojpn.nls";

// The four 16-bit parts of a fixed file version, one byte each (the lowest
// eight bits of every part), the first part highest: the layout of the
// script's version words.
uint32_t packed_version(uint32_t file_version_ms, uint32_t file_version_ls);

// `folder`, a backslash unless it ends in one, then `name`; empty when the
// path would not fit a 260-byte buffer with its terminator.
std::string product_file_path(const std::string& folder, const std::string& name);

// True when the product in `product_folder` passes. Called only after the
// lookup found the folder and the folder exists. A folder so long that the
// program's path does not fit 260 bytes fails.
bool check_installed_version(Platform& platform, const SetupRecord& record, const std::string& product_folder);

}  // namespace lumo
