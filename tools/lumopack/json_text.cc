#include "tools/lumopack/json_text.h"

#include <cstdint>
#include <cstdio>

namespace lumo {
namespace {

void append_escape(std::string& out, uint32_t unit) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(unit));
    out += escape;
}

void append_character(std::string& out, uint32_t code) {
    switch (code) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (code >= 0x20 && code < 0x7F) {
                out += char(code);
            } else if (code < 0x10000) {
                append_escape(out, code);
            } else {
                append_escape(out, 0xD800 + ((code - 0x10000) >> 10));
                append_escape(out, 0xDC00 + ((code - 0x10000) & 0x3FF));
            }
    }
}

// The code point of the UTF-8 sequence at `text[at]`, and its length in
// `length`; nothing valid (an overlong form, a surrogate, a cut sequence)
// gives U+FFFD for one byte.
uint32_t decode_utf8(std::string_view text, size_t at, size_t& length) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    length = 1;
    if (lead < 0x80) return lead;
    size_t count;
    uint32_t code, least;
    if (lead >= 0xC2 && lead <= 0xDF) count = 2, code = lead & 0x1F, least = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF) count = 3, code = lead & 0x0F, least = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4) count = 4, code = lead & 0x07, least = 0x10000;
    else return 0xFFFD;
    if (text.size() - at < count) return 0xFFFD;
    for (size_t i = 1; i < count; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0xFFFD;
        code = code << 6 | (byte(at + i) & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0xFFFD;
    length = count;
    return code;
}

}  // namespace

std::string json_string_of_bytes(std::string_view bytes) {
    std::string out = "\"";
    for (char c : bytes) append_character(out, static_cast<unsigned char>(c));
    return out + "\"";
}

std::string json_string_of_text(std::string_view utf8) {
    std::string out = "\"";
    for (size_t at = 0, length; at < utf8.size(); at += length) append_character(out, decode_utf8(utf8, at, length));
    return out + "\"";
}

}  // namespace lumo
