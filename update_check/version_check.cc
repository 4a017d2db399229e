#include "update_check/version_check.h"

#include "update_check/installed_product.h"

namespace lumo {

uint32_t packed_version(uint32_t file_version_ms, uint32_t file_version_ls) {
    uint32_t major = (file_version_ms >> 16) & 0xFF;
    uint32_t minor = file_version_ms & 0xFF;
    uint32_t third = (file_version_ls >> 16) & 0xFF;
    uint32_t fourth = file_version_ls & 0xFF;
    return major << 24 | minor << 16 | third << 8 | fourth;
}

std::string product_file_path(const std::string& folder, const std::string& name) {
    std::string path = folder;
    if (path.empty() || path.back() != '\\') path += '\\';
    path += name;
    if (path.size() > product_folder_size - 1) return "";
    return path;
}

bool check_installed_version(Platform& platform, const SetupRecord& record, const std::string& product_folder) {
    if (record.mp3_install == 1) return true;

    std::string program = product_file_path(product_folder, program_file_name);
    if (program.empty()) return false;

    uint32_t size = platform.version_info_size(program);
    if (size == 0) return false;
    // The platform reads the block of `size` bytes once and answers both
    // queries from it.
    VersionInfo info;
    if (!platform.read_version_info(program, size, info) || !info.has_fixed_info) return false;

    uint32_t version = packed_version(info.file_version_ms, info.file_version_ls);
    if (version < record.version_lo || version > record.version_hi) return false;

    if (record.product_name) {
        // Only the U.S. English, Unicode string table counts, byte for byte.
        if (!info.has_product_name || info.product_name != *record.product_name) return false;
    }

    if (record.check_language) {
        // Only whether the language file carries version information matters.
        std::string language_file = product_file_path(product_folder, language_file_name);
        if (language_file.empty() || platform.version_info_size(language_file) == 0) return false;
    }
    return true;
}

}  // namespace lumo
