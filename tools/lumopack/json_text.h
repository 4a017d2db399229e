// JSON strings as lumopack writes them: ASCII only, every other character
// as a \u escape, so that the output reads the same in any locale.
#pragma once

#include <string>
#include <string_view>

namespace lumo {

// Each byte the character of the same code point: byte 0xE4 is "\u00e4".
// For texts whose bytes are not characters of any one code page.
std::string json_string_of_bytes(std::string_view bytes);

// UTF-8 text, a pair of escapes for a character beyond U+FFFF, and U+FFFD
// for each byte that is not part of valid UTF-8.
std::string json_string_of_text(std::string_view utf8);

}  // namespace lumo
