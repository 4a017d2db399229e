#include "tools/lumopack/folder_gathering.h"

#include <system_error>

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

bool same_file(const fs::path& a, const fs::path& b) {
    std::error_code ignored;
    return !b.empty() && fs::equivalent(a, b, ignored);
}

}  // namespace

std::vector<GatheredFile> gather_folder(const fs::path& folder, const fs::path& skip) {
    std::error_code error;
    const auto status = fs::status(folder, error);
    if (error || !fs::is_directory(status)) throw PackError(utf8_of(folder) + ": not a folder");

    std::vector<GatheredFile> files;
    fs::recursive_directory_iterator walk(folder, fs::directory_options::none, error);
    for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        const fs::path& path = walk->path();
        const fs::path relative = path.lexically_relative(folder);
        const std::string shown = escape_controls(utf8_of(relative));
        const auto kind = walk->symlink_status(error);
        if (error) break;
        if (fs::is_symlink(kind)) throw PackError(shown + ": is a link; only regular files can be packed");
        if (fs::is_directory(kind)) continue;
        if (!fs::is_regular_file(kind)) throw PackError(shown + ": is not a regular file");
        if (same_file(path, skip)) continue;
        GatheredFile file{stored_name_of(relative, shown), shown, path, walk->file_size(error)};
        if (error) break;
        files.push_back(std::move(file));
    }
    if (error) throw PackError(utf8_of(folder) + ": " + error.message());

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
