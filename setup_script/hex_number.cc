#include "setup_script/hex_number.h"

#include "setup_script/script_reader.h"

namespace lumo {
namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool read_hex_number(std::string_view text, uint32_t& value) {
    std::size_t i = 0;
    while (i < text.size() && is_script_whitespace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        hex_digit(text[i + 2]) >= 0) {
        i += 2;
    }
    uint64_t magnitude = 0;
    bool any_digit = false;
    for (; i < text.size() && hex_digit(text[i]) >= 0; ++i) {
        any_digit = true;
        // Past 32 bits the reading saturates; stop growing so it cannot wrap.
        if (magnitude <= 0xFFFFFFFFu) magnitude = magnitude * 16 + static_cast<uint64_t>(hex_digit(text[i]));
    }
    if (!any_digit) return false;
    if (magnitude > 0xFFFFFFFFu) {
        value = 0xFFFFFFFFu;
    } else {
        uint32_t v = static_cast<uint32_t>(magnitude);
        value = negative ? static_cast<uint32_t>(0u - v) : v;
    }
    return true;
}

}  // namespace lumo
