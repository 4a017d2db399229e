#include "update_check/installed_product.h"

#include <algorithm>
#include <vector>

namespace lumo {

namespace {

// Appends `tail` to a fixed-size field, as far as it fits with its terminator.
void append_to_field(std::string& field, const std::string& tail, uint32_t field_size) {
    size_t room = field.size() < field_size - 1 ? field_size - 1 - field.size() : 0;
    field += tail.substr(0, room);
}

// Drops everything from the last backslash on; a text without one stays whole.
void cut_at_last_backslash(std::string& text) {
    size_t at = text.rfind('\\');
    if (at != std::string::npos) text.resize(at);
}

// The lowest byte of GetVersion's answer is the major version.
uint32_t major_system_version(Platform& platform) { return platform.system_version() & 0xFF; }

// Systems older than major version 4 keep the product's folder in a profile file.
constexpr uint32_t first_registry_system = 4;

}  // namespace

void complete_lookup_names(InstalledProduct& product) {
    if (product.names_completed) return;
    append_to_field(product.first_app_paths_key, product.program_file_name, key_field_size);
    append_to_field(product.second_app_paths_key, product.program_file_name, key_field_size);
    product.profile_file_name = product.product_word;
    append_to_field(product.profile_file_name, ".ini", name_field_size);
    product.names_completed = true;
}

bool read_registry_string(Platform& platform, const std::string& subkey, const std::string& value_name,
                          std::string& destination, uint32_t capacity) {
    if (capacity == 0) return false;
    destination.clear();
    std::vector<uint8_t> data;
    // A value longer than the buffer is refused, not cut.
    if (!platform.read_registry_value(subkey, value_name, registry_value_size, data)) return false;
    if (data.size() > registry_value_size) return false;
    // The value's type is ignored: its bytes are text up to the first NUL,
    // never beyond the bytes returned (a value stored without terminator
    // ends where its bytes end).
    auto end = std::find(data.begin(), data.end(), uint8_t{0});
    destination.assign(data.begin(), end);
    if (destination.size() > capacity - 1) destination.resize(capacity - 1);
    return true;
}

bool locate_installed_product(Platform& platform, const SetupRecord& record, InstalledProduct& product) {
    std::string& folder = product.product_folder;
    folder.clear();

    if (major_system_version(platform) < first_registry_system) {
        // The profile names the product's folder itself: used unchanged.
        folder = platform.read_profile_string("Info", "Path", product_folder_size, product.profile_file_name);
        if (folder.size() > product_folder_size - 1) folder.resize(product_folder_size - 1);
        return !folder.empty();
    }

    if (!read_registry_string(platform, product.first_app_paths_key, "", folder, product_folder_size) &&
        !read_registry_string(platform, product.second_app_paths_key, "", folder, product_folder_size)) {
        if (record.mp3_install != 1) return false;
        if (!read_registry_string(platform, media_player_key, "", folder, product_folder_size)) return false;
        cut_at_last_backslash(folder);
        // The player's folder and the suffix must fit the folder's 260 bytes;
        // a cut suffix would name some other folder, so such a lookup fails.
        if (folder.size() + std::char_traits<char>::length(files_folder_suffix) > product_folder_size - 1) {
            folder.clear();
            return false;
        }
        folder += files_folder_suffix;
    }

    // An App Paths value names the program itself: keep its folder. After the
    // media player suffix this drops the suffix's trailing backslash.
    cut_at_last_backslash(folder);
    return true;
}

}  // namespace lumo
