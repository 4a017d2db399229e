// The installed product on POSIX: a Windows program in a Wine prefix. The
// registry comes from the prefix's system.reg, the profile file from its
// Windows folder, and version information from the program's own bytes.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "platform/posix/pe_version_resource.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/wine_prefix.h"
#include "platform/posix/wine_profile.h"
#include "platform/posix/wine_registry.h"

namespace lumo {

namespace {

constexpr uint64_t registry_file_limit = 64u << 20;
constexpr uint64_t profile_file_limit = 16u << 20;

// A product path: a Windows drive path is looked up in the prefix; any other
// path is taken as a host path.
std::string host_path(const std::string& path) {
    if (is_windows_drive_path(path)) return wine_host_path(wine_prefix_folder(), path);
    return path;
}

// A program is read whole, not mapped: a file of the prefix that another
// process shortens while it is mapped would end the run with SIGBUS at the
// first touch of a page past its new end. Read, a changing file only gives
// bytes that are no version resource.
constexpr uint64_t program_file_limit = 256u << 20;

std::string read_program(const std::string& path) {
    if (path.empty()) return "";
    return read_small_file(path, program_file_limit).value_or("");
}

std::span<const uint8_t> bytes_of(const std::string& file) {
    return {reinterpret_cast<const uint8_t*>(file.data()), file.size()};
}

}  // namespace

uint32_t PosixPlatform::system_version() { return wine_system_version(wine_prefix_folder()); }

std::string PosixPlatform::read_profile_string(const std::string& section, const std::string& key, uint32_t capacity,
                                               const std::string& file) {
    if (capacity == 0) return "";
    // A profile named without a folder lives in the Windows folder.
    std::string windows_path = file.find_first_of("\\/") == std::string::npos ? "C:\\windows\\" + file : file;
    auto bytes = read_small_file(host_path(windows_path), profile_file_limit);
    if (!bytes) return "";
    std::string value = profile_value(*bytes, section, key).value_or("");
    if (value.size() > capacity - 1) value.resize(capacity - 1);
    return value;
}

bool PosixPlatform::read_registry_value(const std::string& subkey, const std::string& value_name,
                                        uint32_t buffer_size, std::vector<uint8_t>& data) {
    std::string prefix = wine_prefix_folder();
    if (prefix.empty()) return false;
    auto text = read_small_file(prefix + "/system.reg", registry_file_limit);
    if (!text) return false;
    // The installer is a 32-bit program: in a 64-bit prefix it sees the
    // Wow6432Node branch.
    std::string key = wine_32bit_view(subkey, wine_registry_is_win64(*text));
    auto value = wine_registry_value(*text, key, value_name);
    if (!value || value->size() > buffer_size) return false;
    data = std::move(*value);
    return true;
}

uint32_t PosixPlatform::version_info_size(const std::string& path) {
    const std::string file = read_program(host_path(path));
    auto resource = find_version_resource(bytes_of(file));
    return resource ? resource->size : 0;
}

bool PosixPlatform::read_version_info(const std::string& path, uint32_t size, VersionInfo& info) {
    const std::string file = read_program(host_path(path));
    auto resource = find_version_resource(bytes_of(file));
    if (!resource || size == 0) return false;
    // One block of the size asked for, as GetFileVersionInfoA fills it.
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[size]);
    if (!block) return false;
    uint32_t copied = std::min(size, resource->size);
    std::memcpy(block.get(), file.data() + resource->offset, copied);
    info = query_version_block(std::span<const uint8_t>(block.get(), copied));
    return true;
}

}  // namespace lumo
