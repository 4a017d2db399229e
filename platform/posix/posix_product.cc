// The installed product on POSIX: read from a Wine prefix.
#include "platform/posix/posix_platform.h"

namespace lumo {

uint32_t PosixPlatform::system_version() { return 5; }

std::string PosixPlatform::read_profile_string(const std::string&, const std::string&, uint32_t,
                                               const std::string&) {
    return "";
}

bool PosixPlatform::read_registry_value(const std::string&, const std::string&, uint32_t,
                                        std::vector<uint8_t>&) {
    return false;
}

uint32_t PosixPlatform::version_info_size(const std::string&) { return 0; }

bool PosixPlatform::read_version_info(const std::string&, uint32_t, VersionInfo&) { return false; }

}  // namespace lumo
