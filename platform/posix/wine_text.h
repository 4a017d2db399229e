// UTF-16 texts of Windows files (version resources, registry values, profile
// files) as the POSIX platform's narrow encoding, UTF-8.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace lumo {

// Appends one code point as UTF-8; surrogates and values beyond Unicode
// become U+FFFD.
void append_utf8(std::string& out, uint32_t code_point);

// Little-endian UTF-16 code units up to the first zero unit or the end of
// `bytes` (an odd last byte is ignored). Unpaired surrogates become U+FFFD.
std::string utf16le_to_utf8(std::span<const uint8_t> bytes);

}  // namespace lumo
