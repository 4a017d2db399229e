// The text registry files of a Wine prefix (system.reg, user.reg): keys in
// brackets, each followed by its values, as Wine itself writes them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumo {

// Whether the file belongs to a 64-bit prefix (its "#arch=win64" line). In
// such a prefix a 32-bit program's view of "Software\..." is the
// "Software\Wow6432Node\..." branch.
bool wine_registry_is_win64(std::string_view text);

// `subkey` as a 32-bit program sees it in a prefix of the given kind.
std::string wine_32bit_view(const std::string& subkey, bool win64);

// The value `value_name` (empty for the key's default value) of `subkey`,
// relative to the file's root, as RegQueryValueExA hands it over: texts
// (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) in UTF-8 with their terminator, a
// REG_DWORD as four little-endian bytes, anything else as its raw bytes.
// Key and value names compare without regard to letter case. Keys that are
// links ("#link" with a SymbolicLinkValue into the same root) are followed,
// as Wine links shared keys such as App Paths from the Wow6432Node branch
// to the 64-bit one.
std::optional<std::vector<uint8_t>> wine_registry_value(std::string_view text, const std::string& subkey,
                                                        const std::string& value_name);

}  // namespace lumo
