#include "tools/lumopack/entry_order.h"

#include <algorithm>
#include <map>
#include <numeric>

namespace lumo {
namespace {

// Upper case of a Windows-1252 letter: ASCII, the Latin-1 letters (but for
// the multiplication sign, sharp s and y with diaeresis, which pairs with
// 0x9F), and the letters of 0x80..0x9F.
char upper_1252(char c) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 'a' && b <= 'z') return char(b - 0x20);
    if (b >= 0xE0 && b <= 0xFE && b != 0xF7) return char(b - 0x20);
    switch (b) {
        case 0x9A: return char(0x8A);  // s caron
        case 0x9C: return char(0x8C);  // oe
        case 0x9E: return char(0x8E);  // z caron
        case 0xFF: return char(0x9F);  // y diaeresis
        default: return c;
    }
}

int rank(const std::string& name) {
    if (same_file_name(name, setup_script_name)) return 0;
    if (same_file_name(name, setup_program_name)) return 1;
    return 2;
}

}  // namespace

std::string fold_case(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) c = c == '/' ? '\\' : upper_1252(c);
    return folded;
}

bool same_file_name(std::string_view a, std::string_view b) { return fold_case(a) == fold_case(b); }

std::vector<size_t> default_entry_order(std::span<const std::string> names) {
    std::vector<size_t> order(names.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const int ra = rank(names[a]), rb = rank(names[b]);
        if (ra != rb) return ra < rb;
        // Byte order: compare as unsigned bytes, whatever char's sign.
        return std::lexicographical_compare(names[a].begin(), names[a].end(), names[b].begin(), names[b].end(),
                                            [](char x, char y) { return uint8_t(x) < uint8_t(y); });
    });
    return order;
}

std::vector<size_t> listed_entry_order(std::span<const std::string> names, std::span<const std::string> first,
                                       std::string& unknown) {
    std::map<std::string, size_t> index;
    // Names are matched as Windows matches file names; the packer has
    // refused names that differ only in case, so the match is unique.
    for (size_t i = 0; i < names.size(); ++i) index.emplace(fold_case(names[i]), i);
    std::vector<bool> placed(names.size(), false);
    std::vector<size_t> order;
    for (const auto& name : first) {
        auto found = index.find(fold_case(name));
        if (found == index.end() || placed[found->second]) {
            unknown = name;
            return {};
        }
        placed[found->second] = true;
        order.push_back(found->second);
    }
    for (size_t i : default_entry_order(names))
        if (!placed[i]) order.push_back(i);
    return order;
}

std::optional<std::pair<std::string, std::string>> find_name_clash(std::span<const std::string> names) {
    // Every file and every folder it implies, by folded name.
    std::map<std::string, std::string> files, folders;
    for (const auto& name : names) {
        const std::string folded = fold_case(name);
        auto [file, fresh] = files.emplace(folded, name);
        if (!fresh) return std::pair{file->second, name};
        for (size_t cut = folded.find('\\'); cut != std::string::npos; cut = folded.find('\\', cut + 1))
            folders.emplace(folded.substr(0, cut), name);
    }
    for (const auto& [folded, name] : files)
        if (auto folder = folders.find(folded); folder != folders.end()) return std::pair{name, folder->second};
    return std::nullopt;
}

}  // namespace lumo
