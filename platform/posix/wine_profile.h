// Profile (.ini) files as GetPrivateProfileStringA reads them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumo {

// The value of `key` in `section` of a profile file's bytes, or nothing when
// the section or key is missing. Section and key names compare without
// regard to letter case; names and values lose their surrounding blanks, and
// a value one pair of matching quotes. The first matching entry counts. A
// file that starts with a UTF-16 byte order mark is read as UTF-16.
std::optional<std::string> profile_value(std::string_view file, const std::string& section, const std::string& key);

}  // namespace lumo
