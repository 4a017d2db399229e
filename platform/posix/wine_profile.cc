#include "platform/posix/wine_profile.h"

#include <span>

#include "platform/posix/wine_text.h"

namespace lumo {

namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// UTF-16 files become UTF-8 (zero units as line ends, they end nothing
// else); others are taken as they are, without a UTF-8 byte order mark.
std::string as_narrow(std::string_view file) {
    if (file.size() >= 2 && static_cast<uint8_t>(file[0]) == 0xFF && static_cast<uint8_t>(file[1]) == 0xFE) {
        std::string text;
        auto bytes = std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(file.data()) + 2, file.size() - 2);
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            size_t end = i;
            while (end + 1 < bytes.size() && (bytes[end] | bytes[end + 1]) != 0) end += 2;
            text += utf16le_to_utf8(bytes.subspan(i, end - i));
            if (end + 1 < bytes.size()) text += '\n';
            i = end;
        }
        return text;
    }
    if (file.size() >= 3 && file.substr(0, 3) == "\xEF\xBB\xBF") file.remove_prefix(3);
    return std::string(file);
}

}  // namespace

std::optional<std::string> profile_value(std::string_view file, const std::string& section, const std::string& key) {
    std::string text = as_narrow(file);
    std::string_view rest = text;
    bool in_section = false;
    while (!rest.empty()) {
        size_t end = rest.find('\n');
        std::string_view line = trimmed(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            std::string_view name = trimmed(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
            in_section = equal_ignoring_case(name, section);
            continue;
        }
        if (!in_section) continue;
        size_t equals = line.find('=');
        std::string_view name = trimmed(line.substr(0, equals));
        if (!equal_ignoring_case(name, key)) continue;
        if (equals == std::string_view::npos) return std::string();
        std::string_view value = trimmed(line.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return std::string(value);
    }
    return std::nullopt;
}

}  // namespace lumo
