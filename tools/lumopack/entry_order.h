// The order of entries in an installer. The installer writes files in
// directory order and reads the setup script as soon as it is written, so
// the script "Setup.cfg" goes first and the setup program "Setup.exe"
// second (an early stop after a failed update check still writes the setup
// program). The rest follow in byte order of their stored names, which keeps
// the output independent of the order the file system lists them in.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumo {

inline constexpr std::string_view setup_script_name = "Setup.cfg";
inline constexpr std::string_view setup_program_name = "Setup.exe";

// Windows-1252 names compared as Windows compares file names: letters
// without regard to case.
std::string fold_case(std::string_view name);
bool same_file_name(std::string_view a, std::string_view b);

// Indices of `names` (stored names) in the default order.
std::vector<size_t> default_entry_order(std::span<const std::string> names);

// The names of `first` lead, in their order (matched without regard to
// case); the others follow in the default order. A listed name that is not among `names` (or is listed
// twice) is returned through `unknown` and the order is empty.
std::vector<size_t> listed_entry_order(std::span<const std::string> names, std::span<const std::string> first,
                                       std::string& unknown);

// Two names that Windows would take for the same file: equal but for letter
// case, or one a file and the other a folder of the same name. Nothing when
// every name stands for a file of its own.
std::optional<std::pair<std::string, std::string>> find_name_clash(std::span<const std::string> names);

}  // namespace lumo
