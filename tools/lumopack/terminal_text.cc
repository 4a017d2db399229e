#include "tools/lumopack/terminal_text.h"

#include <cstdint>
#include <cstdio>

namespace lumo {
namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`
// (shortest form, no surrogates, at most U+10FFFF), or 0.
size_t sequence_length(std::string_view text, uint32_t& code_point) {
    const auto byte = [&](size_t i) { return uint8_t(text[i]); };
    const uint8_t lead = byte(0);
    size_t length;
    if (lead < 0x80) {
        code_point = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code_point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code_point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code_point = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        code_point = code_point << 6 | (byte(i) & 0x3F);
    }
    constexpr uint32_t shortest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (code_point < shortest[length] || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point < 0xE000))
        return 0;
    return length;
}

void append_escape(std::string& out, const char* format, unsigned value) {
    char escape[8];
    std::snprintf(escape, sizeof escape, format, value);
    out += escape;
}

}  // namespace

std::string escape_controls(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    while (!utf8.empty()) {
        uint32_t code_point = 0;
        const size_t length = sequence_length(utf8, code_point);
        if (length == 0) {
            append_escape(out, "\\x%02X", uint8_t(utf8[0]));
            utf8.remove_prefix(1);
            continue;
        }
        if (code_point < 0x20 || code_point == 0x7F)
            append_escape(out, "\\x%02X", code_point);
        else if (code_point >= 0x80 && code_point < 0xA0)
            append_escape(out, "\\u%04X", code_point);
        else if (code_point == '\\')
            out += "\\\\";
        else
            out.append(utf8.substr(0, length));
        utf8.remove_prefix(length);
    }
    return out;
}

}  // namespace lumo
