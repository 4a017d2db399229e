#include "tools/lumopack/folder_gathering.h"

#include "payload/code_page.h"
#include "payload/entry_name.h"
#include "tools/lumopack/entry_order.h"
#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/terminal_text.h"

namespace lumo {
namespace fs = std::filesystem;
namespace {

std::string utf8_of(const fs::path& path) {
    const auto text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

// The stored name of `relative`: its parts joined with backslashes. A host
// name that itself holds a backslash would turn into folders on Windows.
std::string stored_name_of(const fs::path& relative, const std::string& shown) {
    std::string joined;
    for (const auto& part : relative) {
        const std::string text = utf8_of(part);
        if (text.find('\\') != std::string::npos)
            throw PackError(shown + ": the name holds a backslash, which Windows reads as a folder separator");
        if (!joined.empty()) joined += '\\';
        joined += text;
    }
    auto stored = stored_entry_name(joined);
    if (auto* fault = std::get_if<EntryNameFault>(&stored)) {
        std::string why = describe(*fault);
        if (*fault == EntryNameFault::too_long)
            why += std::string(" (at most ") + std::to_string(max_packed_name_length) + " bytes, folders included)";
        throw PackError(shown + ": " + why);
    }
    return std::get<std::string>(std::move(stored));
}

}  // namespace

std::vector<GatheredFile> gather_folder(const fs::path& folder, std::span<const FileIdentity> skip) {
    std::vector<GatheredFile> files;
    for (SourceEntry& entry : list_source_folder(folder, skip)) {
        fs::path relative;
        for (const auto& part : entry.parts) relative /= fs::path(std::u8string(part.begin(), part.end()));
        const std::string shown = escape_controls(utf8_of(relative));
        switch (entry.kind) {
            case SourceEntry::Kind::link: throw PackError(shown + ": is a link; only regular files can be packed");
            case SourceEntry::Kind::special: throw PackError(shown + ": is not a regular file");
            case SourceEntry::Kind::changed: throw PackError(shown + ": changed while it was packed");
            case SourceEntry::Kind::file: break;
        }
        files.push_back({stored_name_of(relative, shown), shown, entry.size, std::move(entry.file)});
    }

    std::vector<std::string> names;
    names.reserve(files.size());
    for (const auto& file : files) names.push_back(file.stored_name);
    if (auto clash = find_name_clash(names))
        throw PackError(host_spelling(clash->first) + " and " + host_spelling(clash->second) +
                        ": Windows takes these names for the same file");
    return files;
}

std::string host_spelling(const std::string& stored_name) {
    std::string text = cp1252_to_utf8(stored_name);
    for (char& c : text)
        if (c == '\\') c = '/';
    return escape_controls(text);
}

}  // namespace lumo
