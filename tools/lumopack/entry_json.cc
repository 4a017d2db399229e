#include "tools/lumopack/entry_json.h"

#include <cstdio>

#include "payload/code_page.h"
#include "tools/lumopack/json_text.h"

namespace lumo {
namespace {

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
