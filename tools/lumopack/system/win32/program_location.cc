#include <windows.h>

#include <string>

#include "tools/lumopack/system/system.h"

namespace lumo {

std::filesystem::path running_program_path(const char*) {
    // The wide form: a folder outside the ANSI code page survives.
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, name.data(), DWORD(name.size()));
        if (length == 0) return {};
        if (length < name.size()) return std::filesystem::path(name.substr(0, length));
        name.resize(name.size() * 2);
        if (name.size() > 32768) return {};
    }
}

std::filesystem::path installed_stub_folder(const std::filesystem::path& program) { return program.parent_path(); }

}  // namespace lumo
