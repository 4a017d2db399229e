// The installed product on Windows: GetVersion, the profile file, the
// registry below HKEY_LOCAL_MACHINE and version information.
#include <algorithm>
#include <memory>
#include <new>

#include "platform/win32/win32_platform.h"

namespace lumo {

namespace {

// version.dll is loaded from the system folder only and reached through
// GetProcAddress: an import would let a DLL of that name placed beside the
// installer (a downloads folder) be loaded instead.
struct VersionLibrary {
    using SizeFunction = DWORD(WINAPI*)(LPCSTR, LPDWORD);
    using InfoFunction = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
    using QueryFunction = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);

    HMODULE module = nullptr;
    SizeFunction info_size = nullptr;
    InfoFunction info = nullptr;
    QueryFunction query = nullptr;

    VersionLibrary() {
        module = LoadLibraryExA("version.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!module) {
            // Systems without the search flag: the full path in the system folder.
            char folder[MAX_PATH];
            UINT length = GetSystemDirectoryA(folder, MAX_PATH);
            if (length == 0 || length >= MAX_PATH - 13) return;
            std::string path = std::string(folder, length) + "\\version.dll";
            module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
        if (!module) return;
        info_size = reinterpret_cast<SizeFunction>(
            reinterpret_cast<void*>(GetProcAddress(module, "GetFileVersionInfoSizeA")));
        info = reinterpret_cast<InfoFunction>(reinterpret_cast<void*>(GetProcAddress(module, "GetFileVersionInfoA")));
        query = reinterpret_cast<QueryFunction>(reinterpret_cast<void*>(GetProcAddress(module, "VerQueryValueA")));
    }
    ~VersionLibrary() {
        if (module) FreeLibrary(module);
    }
    VersionLibrary(const VersionLibrary&) = delete;
    VersionLibrary& operator=(const VersionLibrary&) = delete;
    bool ready() const { return info_size && info && query; }
};

// VS_FIXEDFILEINFO's signature: the "\" answer is that record.
constexpr DWORD fixed_info_signature = 0xFEEF04BD;

}  // namespace

uint32_t Win32Platform::system_version() { return GetVersion(); }

std::string Win32Platform::read_profile_string(const std::string& section, const std::string& key, uint32_t capacity,
                                               const std::string& file) {
    if (capacity == 0) return "";
    std::string buffer(capacity, '\0');
    DWORD copied = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer.data(), capacity, file.c_str());
    buffer.resize(std::min<DWORD>(copied, capacity - 1));
    return buffer;
}

bool Win32Platform::read_registry_value(const std::string& subkey, const std::string& value_name,
                                        uint32_t buffer_size, std::vector<uint8_t>& data) {
    HKEY key = nullptr;
    // The installer reads the 32-bit registry view in both builds, so that the
    // 64-bit build finds the product where the 32-bit program finds it.
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        return false;
    std::vector<uint8_t> buffer(buffer_size);
    DWORD size = buffer_size;
    LONG result = RegQueryValueExA(key, value_name.c_str(), nullptr, nullptr, buffer.data(), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || size > buffer_size) return false;
    buffer.resize(size);
    data = std::move(buffer);
    return true;
}

uint32_t Win32Platform::version_info_size(const std::string& path) {
    VersionLibrary library;
    if (!library.ready()) return 0;
    DWORD handle = 0;
    return library.info_size(path.c_str(), &handle);
}

bool Win32Platform::read_version_info(const std::string& path, uint32_t size, VersionInfo& info) {
    VersionLibrary library;
    if (!library.ready() || size == 0) return false;
    // The one block of the check, released on every path.
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[size]);
    if (!block || !library.info(path.c_str(), 0, size, block.get())) return false;

    info = VersionInfo{};
    void* fixed = nullptr;
    UINT fixed_size = 0;
    if (library.query(block.get(), "\\", &fixed, &fixed_size) && fixed && fixed_size >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* record = static_cast<const VS_FIXEDFILEINFO*>(fixed);
        if (record->dwSignature == fixed_info_signature) {
            info.has_fixed_info = true;
            info.file_version_ms = record->dwFileVersionMS;
            info.file_version_ls = record->dwFileVersionLS;
        }
    }
    void* name = nullptr;
    UINT name_size = 0;
    if (library.query(block.get(), "\\StringFileInfo\\040904B0\\ProductName", &name, &name_size) && name) {
        // The text ends at its terminator or at the length given, whichever
        // comes first; the block bounds both.
        const char* text = static_cast<const char*>(name);
        const char* block_end = reinterpret_cast<const char*>(block.get()) + size;
        size_t room = text >= reinterpret_cast<const char*>(block.get()) && text < block_end ? block_end - text : 0;
        size_t length = std::min<size_t>(name_size, room);
        info.has_product_name = true;
        info.product_name.assign(text, std::find(text, text + length, '\0'));
    }
    return true;
}

}  // namespace lumo
