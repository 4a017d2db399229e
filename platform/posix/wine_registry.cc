#include "platform/posix/wine_registry.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "platform/posix/wine_text.h"

namespace lumo {

namespace {

// Registry value types (winnt.h).
constexpr uint32_t reg_sz = 1;
constexpr uint32_t reg_expand_sz = 2;
constexpr uint32_t reg_binary = 3;
constexpr uint32_t reg_multi_sz = 7;

char lower_ascii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower_ascii(a[i]) != lower_ascii(b[i])) return false;
    return true;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equal_ignoring_case(text.substr(0, prefix.size()), prefix);
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads an escaped text from `at` up to the unescaped `end` character (or the
// end of the line) and leaves `at` after it. Bytes other than escapes are
// UTF-8 already; escapes give UTF-16 units, paired into code points here.
std::string unescape(std::string_view line, size_t& at, char end) {
    std::string out;
    uint32_t high_surrogate = 0;
    auto put_unit = [&](uint32_t unit) {
        if (high_surrogate && unit >= 0xDC00 && unit <= 0xDFFF) {
            append_utf8(out, 0x10000 + ((high_surrogate - 0xD800) << 10) + (unit - 0xDC00));
            high_surrogate = 0;
            return;
        }
        if (high_surrogate) append_utf8(out, 0xFFFD);
        high_surrogate = 0;
        if (unit >= 0xD800 && unit <= 0xDBFF)
            high_surrogate = unit;
        else
            append_utf8(out, unit);
    };
    while (at < line.size() && line[at] != end) {
        char c = line[at++];
        if (c != '\\' || at >= line.size()) {
            if (high_surrogate) put_unit(0);
            out += c;
            continue;
        }
        char e = line[at++];
        switch (e) {
        case 'a': put_unit('\a'); break;
        case 'b': put_unit('\b'); break;
        case 'e': put_unit(0x1B); break;
        case 'f': put_unit('\f'); break;
        case 'n': put_unit('\n'); break;
        case 'r': put_unit('\r'); break;
        case 't': put_unit('\t'); break;
        case 'v': put_unit('\v'); break;
        case 'x': {
            uint32_t unit = 0;
            int digits = 0;
            for (; digits < 4 && at < line.size() && hex_digit(line[at]) >= 0; ++digits)
                unit = unit * 16 + hex_digit(line[at++]);
            put_unit(digits ? unit : 'x');
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                uint32_t unit = e - '0';
                for (int digits = 1; digits < 3 && at < line.size() && line[at] >= '0' && line[at] <= '7'; ++digits)
                    unit = unit * 8 + (line[at++] - '0');
                put_unit(unit);
            } else {
                put_unit(static_cast<uint8_t>(e));
            }
        }
    }
    if (high_surrogate) append_utf8(out, 0xFFFD);
    if (at < line.size()) ++at;  // the closing character
    return out;
}

// A text value as RegQueryValueExA hands it over.
std::vector<uint8_t> narrow_text(const std::string& text) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

// "hex:" and "hex(N):" data: comma-separated byte pairs.
std::optional<std::vector<uint8_t>> hex_bytes(std::string_view data) {
    std::vector<uint8_t> bytes;
    size_t at = 0;
    while (at < data.size()) {
        char c = data[at];
        if (c == ',' || c == ' ' || c == '\t') {
            ++at;
            continue;
        }
        if (at + 1 >= data.size() || hex_digit(c) < 0 || hex_digit(data[at + 1]) < 0) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(hex_digit(c) * 16 + hex_digit(data[at + 1])));
        at += 2;
    }
    return bytes;
}

// The data after "name=" on a value line, with its continuation lines joined.
std::optional<std::vector<uint8_t>> value_data(std::string_view data) {
    if (!data.empty() && data[0] == '"') {
        size_t at = 1;
        return narrow_text(unescape(data, at, '"'));
    }
    if (starts_with_ignoring_case(data, "str(")) {
        size_t quote = data.find(":\"");
        if (quote == std::string_view::npos) return std::nullopt;
        size_t at = quote + 2;
        return narrow_text(unescape(data, at, '"'));
    }
    if (starts_with_ignoring_case(data, "dword:")) {
        uint32_t value = 0;
        std::string_view digits = data.substr(6);
        if (digits.empty() || digits.size() > 8) return std::nullopt;
        for (char c : digits) {
            if (hex_digit(c) < 0) return std::nullopt;
            value = value * 16 + hex_digit(c);
        }
        return std::vector<uint8_t>{static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                    static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    }
    if (starts_with_ignoring_case(data, "hex")) {
        uint32_t type = reg_binary;
        size_t colon = data.find(':');
        if (colon == std::string_view::npos) return std::nullopt;
        if (data.size() > 3 && data[3] == '(') {
            type = 0;
            for (size_t i = 4; i < colon && data[i] != ')'; ++i) {
                if (hex_digit(data[i]) < 0 || type > 0xFFFFFFF) return std::nullopt;
                type = type * 16 + hex_digit(data[i]);
            }
        }
        auto bytes = hex_bytes(data.substr(colon + 1));
        if (!bytes) return std::nullopt;
        if (type != reg_sz && type != reg_expand_sz && type != reg_multi_sz) return bytes;
        // Texts stored as bytes are UTF-16; the narrow form keeps every
        // unit, the zeros between the strings of a REG_MULTI_SZ included.
        std::string text;
        for (size_t i = 0; i + 1 < bytes->size(); i += 2) {
            uint32_t unit = (*bytes)[i] | (*bytes)[i + 1] << 8;
            if (unit == 0)
                text += '\0';
            else
                text += utf16le_to_utf8(std::span<const uint8_t>(bytes->data() + i, 2));
        }
        std::vector<uint8_t> narrow(text.begin(), text.end());
        if (narrow.empty() || narrow.back() != 0) narrow.push_back(0);
        return narrow;
    }
    return std::nullopt;
}

// Splits the file into lines, handing each to `visit` until it answers false.
template <typename Visit>
void for_each_line(std::string_view text, Visit visit) {
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        at = end + 1;
        if (!visit(line, at)) return;
    }
}

}  // namespace

bool wine_registry_is_win64(std::string_view text) {
    bool win64 = false;
    for_each_line(text, [&](std::string_view line, size_t) {
        if (!line.empty() && line[0] == '[') return false;  // the header ends at the first key
        if (line == "#arch=win64") win64 = true;
        return true;
    });
    return win64;
}

std::string wine_32bit_view(const std::string& subkey, bool win64) {
    const std::string software = "Software\\";
    if (!win64 || !starts_with_ignoring_case(subkey, software) ||
        starts_with_ignoring_case(std::string_view(subkey).substr(software.size()), "Wow6432Node"))
        return subkey;
    return subkey.substr(0, software.size()) + "Wow6432Node\\" + subkey.substr(software.size());
}

namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = lower_ascii(c);
    return out;
}

// The keys of one file: where each key's values start, and the targets of
// the keys that are links.
struct KeyIndex {
    std::unordered_map<std::string, size_t> values_at;  // lowered key name -> offset after its line
    std::unordered_map<std::string, std::string> links;  // lowered key name -> target below the root
};

// The data of a value line, joined with the continuation lines of long hex
// data (lines that end in a backslash). `next` moves past what was used.
std::string joined_data(std::string_view text, std::string_view first, size_t& next) {
    std::string data(first);
    while (!data.empty() && data.back() == '\\' && data[0] != '"' && !starts_with_ignoring_case(data, "str(")) {
        data.pop_back();
        if (next >= text.size()) break;
        size_t end = text.find('\n', next);
        if (end == std::string_view::npos) end = text.size();
        std::string_view more = text.substr(next, end - next);
        if (!more.empty() && more.back() == '\r') more.remove_suffix(1);
        while (!more.empty() && (more[0] == ' ' || more[0] == '\t')) more.remove_prefix(1);
        data += more;
        next = end + 1;
    }
    return data;
}

// A link's target names the key from the registry's top
// ("\Registry\Machine\Software\..."); only targets in the same root count.
std::optional<std::string> link_target(const std::vector<uint8_t>& value) {
    std::string target = utf16le_to_utf8(value);
    const std::string root = "\\registry\\machine\\";
    if (!starts_with_ignoring_case(target, root)) return std::nullopt;
    return target.substr(root.size());
}

KeyIndex index_keys(std::string_view text) {
    KeyIndex index;
    std::string current;
    bool is_link = false;
    for_each_line(text, [&](std::string_view line, size_t& next) {
        if (line.empty()) return true;
        if (line[0] == '[') {
            size_t at = 1;
            current = lowered(unescape(line, at, ']'));
            index.values_at.emplace(current, next);
            is_link = false;
            return true;
        }
        if (line == "#link") is_link = true;
        if (is_link && starts_with_ignoring_case(line, "\"SymbolicLinkValue\"=")) {
            std::string data = joined_data(text, line.substr(20), next);
            if (auto bytes = hex_bytes(data.substr(data.find(':') == std::string::npos ? data.size() : data.find(':') + 1)))
                if (auto target = link_target(*bytes)) index.links.emplace(current, *target);
        }
        return true;
    });
    return index;
}

// Keys longer than this are no keys: the system's own names end at 32767
// UTF-16 units, and a link target read from the file may be any length.
constexpr size_t max_key_length = 32767;
// Links on the way to a key are followed this many times at most, so that a
// loop ends.
constexpr int max_link_hops = 16;

// The link names as a tree of their parts, so that the first link on a
// key's way is found in one walk along the key, each part looked up once.
class LinkTree {
public:
    explicit LinkTree(const KeyIndex& index) {
        for (const auto& [name, target] : index.links) {
            size_t node = 0;
            for (size_t start = 0;;) {
                const size_t end = std::min(name.find('\\', start), name.size());
                node = child(node, name.substr(start, end - start));
                if (end == name.size()) break;
                start = end + 1;
            }
            nodes_[node].target = &target;
        }
    }

    // The key once the first link on its way is followed, or nothing when
    // no part of it is a link.
    std::optional<std::string> follow_first(const std::string& key) const {
        size_t node = 0;
        for (size_t start = 0;;) {
            const size_t end = std::min(key.find('\\', start), key.size());
            const auto next = nodes_[node].children.find(lowered(std::string_view(key).substr(start, end - start)));
            if (next == nodes_[node].children.end()) return std::nullopt;
            node = next->second;
            if (nodes_[node].target) return *nodes_[node].target + key.substr(end);
            if (end == key.size()) return std::nullopt;
            start = end + 1;
        }
    }

private:
    struct Node {
        std::unordered_map<std::string, size_t> children;  // lowered part -> node
        const std::string* target = nullptr;                // the key up to here is a link
    };
    std::vector<Node> nodes_ = std::vector<Node>(1);

    size_t child(size_t node, const std::string& part) {
        const auto [at, added] = nodes_[node].children.emplace(part, nodes_.size());
        if (added) nodes_.emplace_back();
        return at->second;
    }
};

// The key that `subkey` names once the links on its way are followed.
// Nothing when it, or what a link makes of it, is longer than a key can be.
// Each hop walks the key once, so a lookup costs its length times the hops.
std::optional<std::string> resolved_key(const KeyIndex& index, std::string key) {
    const LinkTree links(index);
    for (int hops = 0; key.size() <= max_key_length; ++hops) {
        if (hops == max_link_hops) return key;
        auto followed = links.follow_first(key);
        if (!followed) return key;
        key = std::move(*followed);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::vector<uint8_t>> wine_registry_value(std::string_view text, const std::string& subkey,
                                                        const std::string& value_name) {
    KeyIndex index = index_keys(text);
    const auto key = resolved_key(index, subkey);
    if (!key) return std::nullopt;
    auto start = index.values_at.find(lowered(*key));
    if (start == index.values_at.end()) return std::nullopt;

    std::optional<std::vector<uint8_t>> found;
    std::string_view values = text.substr(std::min(start->second, text.size()));
    for_each_line(values, [&](std::string_view line, size_t& next) {
        if (line.empty()) return true;
        if (line[0] == '[') return false;  // the key's values are over
        std::string name;
        size_t at = 0;
        if (line[0] == '@') {
            at = 1;
        } else if (line[0] == '"') {
            at = 1;
            name = unescape(line, at, '"');
        } else {
            return true;  // "#time=", "#class=" and other notes
        }
        if (at >= line.size() || line[at] != '=') return true;
        if (!equal_ignoring_case(name, value_name)) return true;
        found = value_data(joined_data(values, line.substr(at + 1), next));
        return false;
    });
    return found;
}

}  // namespace lumo
