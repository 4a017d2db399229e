#include "tools/lumopack/entry_json.h"

#include <cstdio>

#include "payload/code_page.h"

namespace lumo {
namespace {

void append_escape(std::string& out, uint32_t unit) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(unit));
    out += escape;
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

// The name as `list` spells it: its Windows-1252 characters, '/' between
// folders. (Only JSON's own escaping applies: the text goes to a parser, not
// a terminal.)
std::string listed_name(std::string_view stored) {
    std::string text = cp1252_to_utf8(stored);
    for (char& c : text)
        if (c == '\\') c = '/';
    return text;
}

const char* verdict_word(EntryVerdict::Kind kind) {
    switch (kind) {
        case EntryVerdict::Kind::ok: return "ok";
        case EntryVerdict::Kind::damaged: return "damaged";
        case EntryVerdict::Kind::unsafe_name: return "unsafe name";
    }
    return "";
}

std::string entry_fields(const DirectoryEntry& entry) {
    char checksum[16];
    std::snprintf(checksum, sizeof checksum, "%08x", unsigned(entry.data_checksum));
    return "{\"name\": " + json_string_of_text(listed_name(entry.name)) +
           ", \"size\": " + std::to_string(entry.data_size) + ", \"checksum\": \"" + checksum + "\"";
}

}  // namespace

std::string json_string_of_text(std::string_view utf8) {
    std::string out = "\"";
    for (size_t at = 0, length; at < utf8.size(); at += length) {
        const uint32_t code = decode_utf8(utf8, at, length);
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
    return out + "\"";
}

void EntriesJson::add(const DirectoryEntry& entry) {
    entries_ += (files_ ? ", " : "") + entry_fields(entry) + "}";
    ++files_;
    bytes_ += entry.data_size;
}

void EntriesJson::add(const DirectoryEntry& entry, const EntryVerdict& verdict) {
    entries_ += (files_ ? ", " : "") + entry_fields(entry) + ", \"verdict\": \"" + verdict_word(verdict.kind) + "\"";
    if (verdict.kind != EntryVerdict::Kind::ok) entries_ += ", \"reason\": " + json_string_of_text(verdict.reason);
    entries_ += "}";
    ++files_;
    bytes_ += entry.data_size;
}

std::string EntriesJson::listing(const OpenedInstaller& opened) const {
    return "{\"entries\": [" + entries_ + "], \"files\": " + std::to_string(files_) +
           ", \"bytes\": " + std::to_string(bytes_) + ", \"container\": " + std::to_string(opened.unpacked_size) +
           ", \"packed\": " + std::to_string(opened.packed_size) + "}";
}

std::string EntriesJson::verdict(const std::string& error) const {
    const std::string head = error.empty() ? "{\"ok\": true" : "{\"ok\": false, \"error\": " + json_string_of_text(error);
    return head + ", \"entries\": [" + entries_ + "], \"files\": " + std::to_string(files_) +
           ", \"bytes\": " + std::to_string(bytes_) + "}";
}

}  // namespace lumo
