// Hexadecimal numbers of the script, read the way sscanf reads "%lx" with a
// 32-bit unsigned long.
#pragma once

#include <cstdint>
#include <string_view>

namespace lumo {

// Leading whitespace is skipped; then an optional sign, an optional 0x or 0X
// prefix (taken only when a hexadecimal digit follows it) and hexadecimal
// digits of either case up to the first other character. A minus negates the
// value modulo 2^32; a magnitude above 0xFFFFFFFF reads as 0xFFFFFFFF, sign
// or not. False, with `value` unchanged, when no digit is found.
bool read_hex_number(std::string_view text, uint32_t& value);

}  // namespace lumo
