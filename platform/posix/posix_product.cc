// The installed product on POSIX: a Windows program in a Wine prefix. The
// registry comes from the prefix's system.reg, the profile file from its
// Windows folder, and version information from the program's own bytes.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A regular file mapped read-only for the version resource search.
class MappedFile {
public:
    explicit MappedFile(const std::string& path) {
        if (path.empty()) return;
        int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return;
        struct stat st;
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
            void* at = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
            if (at != MAP_FAILED) {
                data_ = static_cast<const uint8_t*>(at);
                size_ = static_cast<size_t>(st.st_size);
            }
        }
        close(fd);
    }
    ~MappedFile() {
        if (data_) munmap(const_cast<uint8_t*>(data_), size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    std::span<const uint8_t> bytes() const { return {data_, size_}; }

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

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
    MappedFile file(host_path(path));
    auto resource = find_version_resource(file.bytes());
    return resource ? resource->size : 0;
}

bool PosixPlatform::read_version_info(const std::string& path, uint32_t size, VersionInfo& info) {
    MappedFile file(host_path(path));
    auto resource = find_version_resource(file.bytes());
    if (!resource || size == 0) return false;
    // One block of the size asked for, as GetFileVersionInfoA fills it.
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[size]);
    if (!block) return false;
    uint32_t copied = std::min(size, resource->size);
    std::memcpy(block.get(), file.bytes().data() + resource->offset, copied);
    info = query_version_block(std::span<const uint8_t>(block.get(), copied));
    return true;
}

}  // namespace lumo
