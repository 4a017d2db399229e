// The installed product on Windows: registry, profile and version information.
#include "platform/win32/win32_platform.h"

namespace lumo {

uint32_t Win32Platform::system_version() { return GetVersion(); }

std::string Win32Platform::read_profile_string(const std::string&, const std::string&, uint32_t,
                                               const std::string&) {
    return "";
}

bool Win32Platform::read_registry_value(const std::string&, const std::string&, uint32_t,
                                        std::vector<uint8_t>&) {
    return false;
}

uint32_t Win32Platform::version_info_size(const std::string&) { return 0; }

bool Win32Platform::read_version_info(const std::string&, uint32_t, VersionInfo&) { return false; }

}  // namespace lumo
