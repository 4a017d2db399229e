#include "payload/code_page.h"

#include <cstdint>

namespace lumo {
namespace {

// Code points of the bytes 0x80..0x9F; the rest of the page is Latin-1.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

uint32_t code_point_of(uint8_t byte) {
    return byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : byte;
}

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::string cp1252_to_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) append_utf8(out, code_point_of(uint8_t(c)));
    return out;
}

std::optional<std::string> utf8_to_cp1252(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        uint8_t b = uint8_t(text[i]);
        uint32_t cp;
        size_t len;
        if (b < 0x80) { cp = b; len = 1; }
        else if ((b & 0xE0) == 0xC0) { cp = b & 0x1F; len = 2; }
        else if ((b & 0xF0) == 0xE0) { cp = b & 0x0F; len = 3; }
        else if ((b & 0xF8) == 0xF0) { cp = b & 0x07; len = 4; }
        else return std::nullopt;
        if (i + len > text.size()) return std::nullopt;
        for (size_t k = 1; k < len; ++k) {
            uint8_t c = uint8_t(text[i + k]);
            if ((c & 0xC0) != 0x80) return std::nullopt;
            cp = (cp << 6) | (c & 0x3F);
        }
        // Overlong forms would let two spellings stand for one name.
        static constexpr uint32_t kMinimum[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMinimum[len]) return std::nullopt;
        i += len;

        int byte = -1;
        if (cp < 0x80 || (cp >= 0xA0 && cp < 0x100)) {
            byte = int(cp);
        } else {
            for (int k = 0; k < 32; ++k)
                if (kHighControls[k] == cp) byte = 0x80 + k;
        }
        if (byte < 0) return std::nullopt;
        out += char(byte);
    }
    return out;
}

}  // namespace lumo
