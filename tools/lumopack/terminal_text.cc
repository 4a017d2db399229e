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

// The characters that are not seen but change how text around them is shown:
// Unicode's format characters (general category Cf, Unicode 15), among them
// the bidirectional embeddings, overrides and isolates that would print a
// name backwards ("x\u202Egpj.exe" as "xexe.jpg"), the zero-width characters
// that make two names look alike, and the line and paragraph separators
// (Zl, Zp), which some terminals and viewers break lines at.
struct CodeRange {
    uint32_t first, last;
};
constexpr CodeRange invisible_formats[] = {
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
    {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x2028, 0x202E},
    {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
    {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F},
};

bool is_invisible_format(uint32_t code_point) {
    for (const auto& range : invisible_formats)
        if (code_point >= range.first && code_point <= range.last) return true;
    return false;
}

void append_escape(std::string& out, const char* format, unsigned value) {
    char escape[12];
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
        else if ((code_point >= 0x80 && code_point < 0xA0) || is_invisible_format(code_point))
            append_escape(out, code_point > 0xFFFF ? "\\U%08X" : "\\u%04X", code_point);
        else if (code_point == '\\')
            out += "\\\\";
        else
            out.append(utf8.substr(0, length));
        utf8.remove_prefix(length);
    }
    return out;
}

}  // namespace lumo
