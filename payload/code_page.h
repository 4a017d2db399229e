// Entry names travel in the 8-bit Windows code page 1252. These convert them
// from and to UTF-8, the encoding of names on POSIX systems.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumo {

// Every byte has a meaning: the five bytes that 1252 leaves undefined map to
// the control characters of the same value, as Windows does.
std::string cp1252_to_utf8(std::string_view text);

// Empty optional when the text is not valid UTF-8 or holds a character that
// code page 1252 cannot represent.
std::optional<std::string> utf8_to_cp1252(std::string_view text);

}  // namespace lumo
