// Prints what the Windows platform reads of the installed product, so that a
// test under Wine can hold it against the POSIX reader of the same prefix.
//
//   product_probe version PATH...   a line per path: "size fixed ms ls named name"
//   product_probe registry SUBKEY   "found text" of the key's default value
//   product_probe system            the major version byte of GetVersion
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win32/win32_platform.h"

int main(int argc, char** argv) {
    lumo::Win32Platform platform(GetModuleHandleA(nullptr));
    if (argc >= 2 && std::strcmp(argv[1], "version") == 0) {
        for (int i = 2; i < argc; ++i) {
            uint32_t size = platform.version_info_size(argv[i]);
            lumo::VersionInfo info;
            bool read = size && platform.read_version_info(argv[i], size, info);
            std::printf("%d %d %08lx %08lx %d %s\n", size != 0, read && info.has_fixed_info,
                        static_cast<unsigned long>(info.file_version_ms),
                        static_cast<unsigned long>(info.file_version_ls), info.has_product_name,
                        info.product_name.c_str());
        }
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "registry") == 0) {
        std::vector<uint8_t> data;
        bool found = platform.read_registry_value(argv[2], "", 256, data);
        std::printf("%d %s\n", found, found ? std::string(data.begin(), data.end()).c_str() : "");
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "system") == 0) {
        std::printf("%lu\n", static_cast<unsigned long>(platform.system_version() & 0xFF));
        return 0;
    }
    return 2;
}
