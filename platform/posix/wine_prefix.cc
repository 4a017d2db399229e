#include "platform/posix/wine_prefix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/posix/wine_registry.h"

namespace lumo {

namespace {

char lower_ascii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower_ascii(a[i]) != lower_ascii(b[i])) return false;
    return true;
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The entry of `folder` that equals `name` without regard to letter case.
std::optional<std::string> entry_ignoring_case(const std::string& folder, const std::string& name) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return std::nullopt;
    std::optional<std::string> found;
    while (dirent* entry = readdir(dir)) {
        if (equal_ignoring_case(entry->d_name, name)) {
            found = entry->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

// Registry files are a few megabytes; anything far larger is not one.
constexpr uint64_t registry_file_limit = 64u << 20;

// The number before the first dot of a "6.1" or "4.10.2222" text.
std::optional<uint32_t> version_number(const std::vector<uint8_t>& text, uint32_t& minor) {
    uint32_t major = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && major < 1000; ++i) major = major * 10 + (text[i] - '0');
    if (i == 0) return std::nullopt;
    minor = 0;
    if (i < text.size() && text[i] == '.')
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9' && minor < 1000; ++i) minor = minor * 10 + (text[i] - '0');
    return major;
}

}  // namespace

std::string wine_prefix_folder() {
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) return prefix;
    if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.wine";
    return "";
}

bool is_windows_drive_path(const std::string& path) {
    if (path.size() < 2 || path[1] != ':') return false;
    char letter = lower_ascii(path[0]);
    if (letter < 'a' || letter > 'z') return false;
    return path.size() == 2 || path[2] == '\\' || path[2] == '/';
}

std::string wine_host_path(const std::string& prefix, const std::string& windows_path) {
    if (prefix.empty() || !is_windows_drive_path(windows_path)) return "";
    char letter = lower_ascii(windows_path[0]);
    std::string drive = prefix + "/dosdevices/" + letter + ":";
    if (!exists(drive)) {
        if (letter != 'c') return "";
        drive = prefix + "/drive_c";
    }

    std::vector<std::string> parts;
    size_t at = 2;
    while (at < windows_path.size()) {
        size_t end = windows_path.find_first_of("\\/", at);
        if (end == std::string::npos) end = windows_path.size();
        std::string part = windows_path.substr(at, end - at);
        at = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }

    std::string host = drive;
    bool found_so_far = true;
    for (const std::string& part : parts) {
        // Once a part is missing, nothing below it can be looked up.
        if (found_so_far && !exists(host + "/" + part)) {
            if (auto match = entry_ignoring_case(host, part)) {
                host += "/" + *match;
                continue;
            }
            found_so_far = false;
        }
        host += "/" + part;
    }
    return host;
}

std::optional<std::string> read_small_file(const std::string& path, uint64_t limit) {
    // Without blocking: a fifo or device in the prefix is not a file to read.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > limit) {
        close(fd);
        return std::nullopt;
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || bytes.size() + n > limit) {
            close(fd);
            if (n != 0) return std::nullopt;
            return bytes;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
}

uint32_t wine_system_version(const std::string& prefix) {
    struct Named {
        const char* name;
        uint32_t version;  // major | minor << 8
    };
    // The names Wine's configuration uses for the Windows version it shows.
    static constexpr Named names[] = {
        {"win20", 0x0002}, {"win30", 0x0003}, {"win31", 0x0A03}, {"win95", 0x0004}, {"win98", 0x0A04},
        {"winme", 0x5A04}, {"nt351", 0x3303}, {"nt40", 0x0004},  {"win2k", 0x0005}, {"winxp", 0x0105},
        {"winxp64", 0x0205}, {"win2003", 0x0205}, {"vista", 0x0006}, {"win2008", 0x0006}, {"win7", 0x0106},
        {"win2008r2", 0x0106}, {"win8", 0x0206}, {"win81", 0x0306}, {"win10", 0x000A}, {"win11", 0x000A},
    };
    if (prefix.empty()) return 0x0106;
    if (auto user = read_small_file(prefix + "/user.reg", registry_file_limit)) {
        if (auto shown = wine_registry_value(*user, "Software\\Wine", "Version")) {
            std::string name(shown->begin(), shown->end());
            name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
            for (const Named& n : names)
                if (equal_ignoring_case(name, n.name)) return n.version;
        }
    }
    if (auto system = read_small_file(prefix + "/system.reg", registry_file_limit)) {
        const std::string nt = "Software\\Microsoft\\Windows NT\\CurrentVersion";
        auto major = wine_registry_value(*system, nt, "CurrentMajorVersionNumber");
        auto minor = wine_registry_value(*system, nt, "CurrentMinorVersionNumber");
        if (major && major->size() == 4 && (*major)[0] != 0) {
            uint32_t low = minor && minor->size() == 4 ? (*minor)[0] : 0;
            return (*major)[0] | low << 8;
        }
        uint32_t minor_number = 0;
        if (auto current = wine_registry_value(*system, nt, "CurrentVersion"))
            if (auto number = version_number(*current, minor_number)) return (*number & 0xFF) | (minor_number & 0xFF) << 8;
        auto nine = wine_registry_value(*system, "Software\\Microsoft\\Windows\\CurrentVersion", "VersionNumber");
        if (nine)
            if (auto number = version_number(*nine, minor_number)) return (*number & 0xFF) | (minor_number & 0xFF) << 8;
    }
    return 0x0106;
}

}  // namespace lumo
