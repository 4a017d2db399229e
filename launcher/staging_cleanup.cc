#include "launcher/staging_cleanup.h"

namespace lumo {
namespace {

bool ends_in_separator(const std::string& path, char separator) {
    return !path.empty() && (path.back() == separator || path.back() == '/' || path.back() == '\\');
}

}  // namespace

bool empty_staging_folder(Platform& platform, const std::string& folder) {
    const char separator = platform.separator();
    bool verdict = true;

    std::string pattern = folder;
    if (!ends_in_separator(pattern, separator)) pattern += separator;
    pattern += "*.*";

    FoundEntry entry;
    std::unique_ptr<FolderSearch> search = platform.find_first(pattern, entry);
    if (!search) return true;  // missing or unreadable: nothing was done

    // The entries' base is the folder part of the pattern's absolute form.
    std::string base = platform.full_path_name(pattern);
    size_t cut = base.find_last_of("\\/");
    base = cut == std::string::npos ? std::string() : base.substr(0, cut);

    do {
        if (entry.is_directory && (entry.name == "." || entry.name == "..")) continue;
        std::string full_path = base;
        if (!ends_in_separator(full_path, separator)) full_path += separator;
        full_path += entry.name;

        bool removed;
        if (entry.is_link) {
            // A link (a symbolic link, a junction) leads out of the staging
            // folder: it goes itself and is never followed.
            removed = entry.is_directory ? platform.remove_directory(full_path) : platform.delete_file(full_path);
        } else if (entry.is_directory) {
            // The removal is tried even when emptying failed.
            bool emptied = empty_staging_folder(platform, full_path);
            removed = platform.remove_directory(full_path) && emptied;
        } else {
            removed = platform.delete_file(full_path);
        }
        if (!removed) verdict = false;
    } while (search->next(entry));

    return verdict;
}

}  // namespace lumo
