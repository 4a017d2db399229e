// Windows: a file of lumopack's installation lies beside lumopack.exe, in
// the folder of the program itself, whose keepers are the ones who could
// have changed the program too. The file itself is opened as itself, never
// through a junction or link.
#include <windows.h>

#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/system/system.h"

namespace lumo {
namespace fs = std::filesystem;

HeldFile open_installed_file(const fs::path& path, std::string& refusal) {
    refusal.clear();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) refusal = shown(path) + " cannot be opened";
        return {};
    }
    HeldFile held{reinterpret_cast<intptr_t>(file)};
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (!GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag))
        refusal = shown(path) + " cannot be examined";
    else if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        refusal = shown(path) + " is a link";
    else if (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        refusal = shown(path) + " is not a regular file";
    if (!refusal.empty()) return {};
    return held;
}

}  // namespace lumo
