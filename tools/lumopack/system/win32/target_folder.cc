// Windows: every folder on an entry's way is opened as itself (never
// through a reparse point) and held without FILE_SHARE_DELETE, so that it
// can be neither renamed nor removed while the entry is written below it;
// junctions and symbolic links on the way are refused. A file is written
// under a fresh name beside its place (CREATE_NEW) and then renamed over
// it through its own handle, which replaces whatever stood there (a link
// itself, or one name of a hard-linked file) and never writes through it.
//
// Under Wine a link of the host system is invisible to a handle (the open
// goes through it whatever the flags say) and shows only in the name's
// attributes, as a reparse point on a folder; a host link to a file shows
// as a plain file. Deleting such a name deletes the file it points to, so
// the old file is never deleted by name: the rename replaces the link
// itself there too.
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <vector>

#include "platform/win32/win32_held_folder.h"
#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/progress_bar.h"
#include "tools/lumopack/system/system.h"

namespace lumo {
namespace fs = std::filesystem;

namespace {

std::string reason(DWORD error) {
    char text[256] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                             sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.')) text[--n] = 0;
    return n ? std::string(text) : "error " + std::to_string(error);
}

std::wstring wide(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())).wstring(); }

// Held with read access (an open for attributes alone takes no part in
// sharing) and without FILE_SHARE_DELETE: nobody can rename or remove it.
ScopedHandle hold(const std::wstring& path, bool follow_links) {
    return ScopedHandle(CreateFileW(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr));
}

// The folder `path`, created when missing: a real folder, never a junction
// or symbolic link. Reparse points that are not links (files kept in the
// cloud, for example) are folders like any other.
ScopedHandle hold_folder(const std::wstring& path, const std::string& shown) {
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        throw PackError(shown + ": cannot create its folder: " + reason(GetLastError()));
    ScopedHandle folder = hold(path, false);
    if (!folder) throw PackError(shown + ": cannot open its folder: " + reason(GetLastError()));
    FILE_ATTRIBUTE_TAG_INFO opened = {};
    if (!GetFileInformationByHandleEx(folder.get(), FileAttributeTagInfo, &opened, sizeof opened))
        throw PackError(shown + ": cannot open its folder: " + reason(GetLastError()));
    const DWORD named = GetFileAttributesW(path.c_str());
    const bool link = (opened.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                          ? IsReparseTagNameSurrogate(opened.ReparseTag)
                          : named != INVALID_FILE_ATTRIBUTES && (named & FILE_ATTRIBUTE_REPARSE_POINT);
    if (link) throw PackError(shown + ": the folder on its way is a link");
    if (!(opened.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) throw PackError(shown + ": the folder on its way is a file");
    return folder;
}

// The name that the system's own rename takes: the full path in its native
// form.
std::wstring native_path(const std::wstring& path) {
    std::vector<wchar_t> full(32768);
    const DWORD n = GetFullPathNameW(path.c_str(), DWORD(full.size()), full.data(), nullptr);
    std::wstring text(full.data(), n > 0 && n < full.size() ? n : 0);
    if (text.rfind(L"\\\\?\\", 0) == 0) return L"\\??\\" + text.substr(4);
    if (text.rfind(L"\\\\", 0) == 0) return L"\\??\\UNC\\" + text.substr(2);
    return L"\\??\\" + text;
}

bool rename_over(HANDLE file, const std::wstring& target) {
    const std::wstring name = native_path(target);
    std::vector<uint8_t> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = DWORD(name.size() * sizeof(wchar_t));
    std::wmemcpy(info->FileName, name.data(), name.size());
    return SetFileInformationByHandle(file, FileRenameInfo, info, DWORD(buffer.size()));
}

void delete_on_close(HANDLE file) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

bool write_all(HANDLE file, std::span<const uint8_t> data, ProgressBar& progress) {
    constexpr size_t chunk = 1 << 16;
    for (size_t done = 0; done < data.size();) {
        DWORD written = 0;
        if (!WriteFile(file, data.data() + done, DWORD(std::min(chunk, data.size() - done)), &written, nullptr) ||
            written == 0)
            return false;
        done += written;
        progress.advance(written);
    }
    return true;
}

}  // namespace

struct TargetFolder::Held {
    std::wstring path;
    ScopedHandle folder;
};

TargetFolder::TargetFolder(const fs::path& path) : held_(std::make_unique<Held>()) {
    std::error_code ignored;
    fs::create_directories(path, ignored);
    held_->path = path.wstring();
    held_->folder = hold(held_->path, true);
    FILE_ATTRIBUTE_TAG_INFO opened = {};
    if (!held_->folder ||
        !GetFileInformationByHandleEx(held_->folder.get(), FileAttributeTagInfo, &opened, sizeof opened) ||
        !(opened.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        const auto text = path.u8string();
        throw PackError(std::string(text.begin(), text.end()) + ": not a folder and cannot be created");
    }
}

TargetFolder::~TargetFolder() = default;

void TargetFolder::write_file(const std::vector<std::string>& parts, std::span<const uint8_t> data,
                              const std::string& shown, ProgressBar& progress) {
    std::vector<ScopedHandle> way;
    std::wstring folder = held_->path;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        folder += L'\\' + wide(parts[i]);
        way.push_back(hold_folder(folder, shown));
    }

    const std::wstring path = folder + L'\\' + wide(parts.back());
    const DWORD existing = GetFileAttributesW(path.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY))
        throw PackError(shown + ": a folder of that name is in the way");

    // A fresh name beside the file's place; CREATE_NEW takes no name that
    // exists, link or not.
    ScopedHandle file;
    for (int attempt = 0; attempt < 16 && !file; ++attempt) {
        const std::wstring fresh = path + L".lumopack-" + std::to_wstring(unguessable_number());
        file = ScopedHandle(CreateFileW(fresh.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file && GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    if (!file) throw PackError(shown + ": cannot be created: " + reason(GetLastError()));
    if (!write_all(file.get(), data, progress)) {
        delete_on_close(file.get());
        throw PackError(shown + ": cannot be written (is the disk full?)");
    }
    if (!rename_over(file.get(), path)) {
        const DWORD error = GetLastError();
        delete_on_close(file.get());
        throw PackError(shown + ": cannot replace the file there: " + reason(error));
    }
}

}  // namespace lumo
