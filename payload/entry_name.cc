#include "payload/entry_name.h"

#include <array>

#include "payload/code_page.h"

namespace lumo {
namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

char to_upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

bool equals_upper(std::string_view text, std::string_view upper) {
    if (text.size() != upper.size()) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (to_upper(text[i]) != upper[i]) return false;
    return true;
}

// Windows maps these names to devices in every folder and with any
// extension ("nul.txt" is NUL as well). It also ignores spaces before the
// extension, and counts the superscript digits 1, 2 and 3 (Windows-1252
// 0xB9, 0xB2, 0xB3) as digits of COM and LPT. COM0 and LPT0 are refused
// too: newer Windows versions reserve them as well.
bool is_reserved_device(std::string_view component) {
    std::string_view base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    static constexpr std::array<std::string_view, 6> plain = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (auto name : plain)
        if (equals_upper(base, name)) return true;
    if (base.size() == 4 && (equals_upper(base.substr(0, 3), "COM") || equals_upper(base.substr(0, 3), "LPT"))) {
        const char digit = base[3];
        return (digit >= '0' && digit <= '9') || digit == '\xB9' || digit == '\xB2' || digit == '\xB3';
    }
    return false;
}

EntryNameFault check_component(std::string_view component) {
    if (component.empty()) return EntryNameFault::empty_component;
    if (component == "." || component == "..") return EntryNameFault::dot_component;
    for (char c : component) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ':') return EntryNameFault::colon;
        if (byte == 0 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*')
            return EntryNameFault::forbidden_character;
        if (byte < 0x20) return EntryNameFault::control_character;
    }
    if (component.back() == '.' || component.back() == ' ') return EntryNameFault::trailing_dot_or_space;
    if (is_reserved_device(component)) return EntryNameFault::reserved_device;
    return EntryNameFault::none;
}

}  // namespace

EntryNameFault check_entry_name(std::string_view name) {
    if (name.empty()) return EntryNameFault::empty;
    if (is_separator(name.front())) return EntryNameFault::absolute;
    if (name.size() > max_entry_name_length) return EntryNameFault::too_long;
    size_t start = 0;
    while (true) {
        size_t end = start;
        while (end < name.size() && !is_separator(name[end])) ++end;
        if (auto fault = check_component(name.substr(start, end - start)); fault != EntryNameFault::none)
            return fault;
        if (end == name.size()) return EntryNameFault::none;
        start = end + 1;
    }
}

std::variant<std::string, EntryNameFault> stored_entry_name(std::string_view host_name) {
    auto stored = utf8_to_cp1252(host_name);
    if (!stored) return EntryNameFault::not_representable;
    if (auto fault = check_entry_name(*stored); fault != EntryNameFault::none) return fault;
    if (stored->size() > max_packed_name_length) return EntryNameFault::too_long;
    return std::move(*stored);
}

const char* describe(EntryNameFault fault) {
    switch (fault) {
        case EntryNameFault::none: return "a valid name";
        case EntryNameFault::empty: return "the name is empty";
        case EntryNameFault::absolute: return "the name is an absolute path";
        case EntryNameFault::colon: return "the name holds a ':' (a drive or an alternate data stream)";
        case EntryNameFault::empty_component: return "the name holds an empty folder name";
        case EntryNameFault::dot_component: return "the name holds a '.' or '..' folder";
        case EntryNameFault::reserved_device: return "the name is a Windows device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9)";
        case EntryNameFault::forbidden_character: return "the name holds a character Windows forbids (< > \" | ? *)";
        case EntryNameFault::control_character: return "the name holds a control character";
        case EntryNameFault::trailing_dot_or_space: return "a part of the name ends in a dot or a space";
        case EntryNameFault::too_long: return "the name is too long for the installer's path";
        case EntryNameFault::not_representable: return "the name cannot be written in the Windows-1252 code page";
    }
    return "an invalid name";
}

}  // namespace lumo
