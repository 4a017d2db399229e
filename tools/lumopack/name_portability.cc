#include "tools/lumopack/name_portability.h"

#include <algorithm>
#include <map>
#include <utility>

#include "tools/lumopack/folder_gathering.h"
#include "tools/lumopack/pack_error.h"

namespace lumo {
namespace {

char upper_ascii(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }
bool alphanumeric(char c) { return (c >= '0' && c <= '9') || (upper_ascii(c) >= 'A' && upper_ascii(c) <= 'Z'); }

// A character an 8.3 name may hold as it is.
bool short_name_character(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b > ' ' && b < 0x80 && std::string_view("\"*+,/:;<=>?[\\]|.").find(c) == std::string_view::npos;
}

// Base and extension at the last dot (a leading dot starts no extension).
std::pair<std::string_view, std::string_view> split_extension(std::string_view name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {name, {}};
    return {name.substr(0, dot), name.substr(dot + 1)};
}

bool is_short_name(std::string_view name) {
    const auto [base, extension] = split_extension(name);
    return !base.empty() && base.size() <= 8 && extension.size() <= 3 &&
           std::all_of(base.begin(), base.end(), short_name_character) &&
           std::all_of(extension.begin(), extension.end(), short_name_character);
}

// `part` shortened as Windows does for a short name: NTFS leaves out spaces
// and dots and puts "_" for what an 8.3 name cannot hold; Wine leaves
// nothing out.
std::string shortened(std::string_view part, bool leave_out_spaces) {
    std::string out;
    for (char c : part) {
        if (leave_out_spaces && (c == ' ' || c == '.')) continue;
        out += short_name_character(c) ? upper_ascii(c) : '_';
    }
    return out;
}

bool begins_with_folded(std::string_view text, std::string_view prefix) {
    if (prefix.size() > text.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (upper_ascii(text[i]) != upper_ascii(prefix[i])) return false;
    return true;
}

std::string_view folder_of(std::string_view name) {
    const size_t cut = name.rfind('\\');
    return cut == std::string_view::npos ? std::string_view() : name.substr(0, cut);
}

std::string_view leaf_of(std::string_view name) {
    const size_t cut = name.rfind('\\');
    return cut == std::string_view::npos ? name : name.substr(cut + 1);
}

}  // namespace

std::optional<std::string> aliased_long_name(std::string_view name, std::span<const std::string> others) {
    if (!is_short_name(name)) return std::nullopt;
    const auto [base, extension] = split_extension(name);
    const size_t tilde = base.find('~');
    if (tilde == 0 || tilde == std::string_view::npos) return std::nullopt;
    const std::string_view prefix = base.substr(0, tilde), tail = base.substr(tilde + 1);
    // NTFS: up to six characters, "~" and a number ("README~1").
    const bool ntfs_form = !tail.empty() && std::all_of(tail.begin(), tail.end(), [](char c) { return c >= '0' && c <= '9'; });
    // Wine: up to four characters, "~" up to the fifth, three of a hash ("READ~DL5", "AB~~~K2Q").
    const bool wine_form = base.size() == 8 && tilde <= 4 &&
                           std::all_of(base.begin() + tilde, base.begin() + 5, [](char c) { return c == '~'; }) &&
                           std::all_of(base.begin() + 5, base.end(), alphanumeric);
    if (!ntfs_form && !wine_form) return std::nullopt;
    for (const std::string& other : others) {
        if (is_short_name(other) || other == name) continue;
        const auto [other_base, other_extension] = split_extension(other);
        bool prefix_fits = false;
        for (bool leave_out : {true, false})
            prefix_fits |= begins_with_folded(shortened(other_base, leave_out), prefix);
        const std::string short_extension = shortened(other_extension.substr(0, 3), true);
        if (prefix_fits && extension.size() == short_extension.size() && begins_with_folded(short_extension, extension))
            return other;
    }
    return std::nullopt;
}

void check_name_portability(std::span<const std::string> stored_names, bool strict,
                            std::vector<std::string>& warnings) {
    std::vector<std::string> outside;
    for (const auto& name : stored_names)
        if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
            outside.push_back(host_spelling(name));
    std::sort(outside.begin(), outside.end());

    // Names by folder, for the aliases: a short name is another's only in its folder.
    std::map<std::string_view, std::vector<std::string>> folders;
    for (const auto& name : stored_names) folders[folder_of(name)].emplace_back(leaf_of(name));
    std::vector<std::pair<std::string, std::string>> aliases;  // the name, the long name it may stand for
    for (const auto& name : stored_names)
        if (auto other = aliased_long_name(leaf_of(name), folders[folder_of(name)])) {
            const std::string_view folder = folder_of(name);
            aliases.emplace_back(host_spelling(name),
                                 host_spelling(folder.empty() ? *other : std::string(folder) + "\\" + *other));
        }
    std::sort(aliases.begin(), aliases.end());

    if (strict && (!outside.empty() || !aliases.empty())) {
        std::string refused;
        if (!outside.empty()) {
            refused = "names with characters outside ASCII, refused by --strict-names (Windows writes them right only "
                      "where the system's code page is 1252): ";
            for (size_t i = 0; i < outside.size(); ++i) refused += (i ? ", " : "") + outside[i];
        }
        if (!aliases.empty()) {
            refused += std::string(refused.empty() ? "" : "; ") +
                       "names Windows may take for another's short name, refused by --strict-names: ";
            for (size_t i = 0; i < aliases.size(); ++i)
                refused += (i ? ", " : "") + aliases[i].first + " (beside " + aliases[i].second + ")";
        }
        throw PackError(refused);
    }
    for (const auto& name : outside)
        warnings.push_back(name + ": the name has characters outside ASCII; Windows writes it right only where the "
                                  "system's code page is 1252 (Western European)");
    for (const auto& [name, other] : aliases)
        warnings.push_back(name + ": the name has the form of the short name Windows may give " + other +
                           "; where it does, the installer cannot write both");
}

}  // namespace lumo
