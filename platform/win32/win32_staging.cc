// The temporary folder and the check of the staging folder on Windows. The
// folder is made here with a private DACL, or the one that is there is
// verified (and moved aside and made anew when it is ours but open); either
// way it is then held (win32_held_folder.h) for the rest of the run.
#include <aclapi.h>
#include <ntsecapi.h>

#include <cstring>

#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_text.h"

namespace lumo {
namespace {

// How often the folder is made or opened again when it vanishes in between
// (someone keeps removing it) before the run gives up.
constexpr int attempts = 16;

// Moves the folder at `path`, checked as `opened`, out of the way under a
// fresh name ("<name>.old-" and twelve hexadecimal digits nobody can
// guess), and removes what it can of it.
bool move_aside(const std::wstring& path, ScopedHandle opened) {
    BY_HANDLE_FILE_INFORMATION checked, found;
    if (!GetFileInformationByHandle(opened.get(), &checked)) return false;
    // The held handle shares no deletion, so that it would refuse the one
    // that renames: that one is opened by the path, and must be the same.
    opened = ScopedHandle();
    ScopedHandle folder(CreateFileW(path.c_str(), DELETE | FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder || !GetFileInformationByHandle(folder.get(), &found) ||
        found.dwVolumeSerialNumber != checked.dwVolumeSerialNumber || found.nFileIndexHigh != checked.nFileIndexHigh ||
        found.nFileIndexLow != checked.nFileIndexLow || (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    // The new name in full, as NT takes it: "\\??\\C:\\...\\Lumo.40.old-0123456789ab".
    struct {
        FILE_RENAME_INFO info;
        wchar_t name[MAX_PATH * 2];
    } rename = {};
    wchar_t* const name = rename.info.FileName;
    std::memcpy(name, L"\\?" L"?\\", 4 * sizeof(wchar_t));
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH * 2 - 40, name + 4, nullptr);
    if (length == 0 || length >= MAX_PATH * 2 - 40) return false;
    std::memcpy(name + 4 + length, L".old-", 5 * sizeof(wchar_t));
    rename.info.FileNameLength = (4 + length + 5 + 12) * sizeof(wchar_t);
    for (int attempt = 0; attempt < 8; ++attempt) {
        unsigned char bytes[6];
        if (!RtlGenRandom(bytes, sizeof bytes)) return false;
        for (int digit = 0; digit < 12; ++digit)
            name[4 + length + 5 + digit] = L"0123456789abcdef"[(bytes[digit / 2] >> (digit % 2 ? 0 : 4)) & 15];
        IO_STATUS_BLOCK io;
        const NTSTATUS status = NtSetInformationFile(folder.get(), &io, &rename, sizeof rename,
                                                     FILE_INFORMATION_CLASS(10) /* FileRenameInformation */);
        if (NT_SUCCESS(status)) {
            remove_contents(folder.get());
            FILE_DISPOSITION_INFO gone = {TRUE};
            SetFileInformationByHandle(folder.get(), FileDispositionInfo, &gone, sizeof gone);  // once empty
            return true;
        }
        if (status != NTSTATUS(0xC0000035) /* STATUS_OBJECT_NAME_COLLISION */) return false;
    }
    return false;
}

}  // namespace

std::string Win32Platform::temp_folder() {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    // A result larger than the buffer is the size needed, not a path.
    if (length == 0 || length > MAX_PATH) return "";
    std::wstring system(buffer, length);
    std::string text;
    if (!to_ansi(system, text)) {
        // A user or folder name in a script the code page lacks: the short
        // (8.3) form, where the volume keeps one, names the same folder in
        // characters it has. Without one the text keeps '?' for what the
        // code page lacks; the installer still reaches the folder through
        // its own form (system_path), only the dialog and messages show the
        // '?', and the setup program is started in the folder all the same.
        wchar_t short_form[MAX_PATH + 1];
        const DWORD short_length = GetShortPathNameW(system.c_str(), short_form, MAX_PATH + 1);
        std::string short_text;
        if (short_length > 0 && short_length <= MAX_PATH && to_ansi(std::wstring(short_form, short_length), short_text)) {
            system.assign(short_form, short_length);
            text = short_text;
        }
    }
    // The staging folder's text holds 256 bytes with the terminating zero.
    if (text.size() >= 256) return "";
    temp_text_ = text;
    temp_system_ = system;
    return text;
}

std::wstring Win32Platform::system_path(const std::string& path) const {
    if (!temp_text_.empty() && path.compare(0, temp_text_.size(), temp_text_) == 0)
        return temp_system_ + to_wide(path.substr(temp_text_.size()));
    return to_wide(path);
}

StagingCheck Win32Platform::prepare_staging_folder(const std::string& folder) {
    TokenSids sids;
    const bool sids_read = read_token_sids(sids);
    staging_.set(folder, ScopedHandle(), sids);  // nothing below it is touched until it is verified
    const std::vector<unsigned char> dacl = sids_read ? private_dacl(sids) : std::vector<unsigned char>();
    if (dacl.empty()) return StagingCheck::unsafe;
    PACL private_acl = reinterpret_cast<PACL>(const_cast<unsigned char*>(dacl.data()));
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, private_acl, FALSE);
    SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    SECURITY_ATTRIBUTES made_private = {sizeof made_private, &descriptor, FALSE};

    std::wstring path = system_path(folder);
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    for (int attempt = 0; attempt < attempts; ++attempt) {
        // Made here, closed to others from the start: nobody can place files,
        // folders or links in it before or while it is used.
        if (!CreateDirectoryW(path.c_str(), &made_private) && GetLastError() != ERROR_ALREADY_EXISTS)
            return StagingCheck::unavailable;  // the writer reports the first file, as on a read-only disk
        // Held without FILE_SHARE_DELETE: until the installer ends it can be
        // neither renamed nor removed (nor, on NTFS, the folders above it,
        // which hold an open entry), so its path keeps naming it.
        ScopedHandle opened(CreateFileW(path.c_str(),
                                        READ_CONTROL | WRITE_DAC | FILE_LIST_DIRECTORY | FILE_TRAVERSE |
                                            FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!opened) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) continue;  // gone since: once more
            return StagingCheck::unsafe;  // not the user's to open
        }
        FILE_ATTRIBUTE_TAG_INFO tag = {};
        if (!GetFileInformationByHandleEx(opened.get(), FileAttributeTagInfo, &tag, sizeof tag))
            return StagingCheck::unsafe;
        if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A junction or link in the staging folder's place would make the
            // clean-up delete, and the writer fill, a folder elsewhere. It
            // goes itself (its target stays), and the folder is made anew.
            ScopedHandle link = open_in(opened.get(), L"", DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        FILE_OPEN, 0);
            FILE_DISPOSITION_INFO gone = {TRUE};
            if (!link || !SetFileInformationByHandle(link.get(), FileDispositionInfo, &gone, sizeof gone))
                return StagingCheck::unsafe;
            continue;
        }
        // Wine opens a link even when asked not to follow it; it still shows
        // the link by its path.
        const DWORD by_path = GetFileAttributesW(path.c_str());
        if (by_path == INVALID_FILE_ATTRIBUTES || (by_path & FILE_ATTRIBUTE_REPARSE_POINT)) return StagingCheck::unsafe;

        const FolderSecurity judged = judge_open_folder(opened.get(), sids);
        if (judged == FolderSecurity::foreign) return StagingCheck::unsafe;
        // A file of the user's in the way: the writer reports the first file.
        if (!(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return StagingCheck::unavailable;
        if (judged == FolderSecurity::open) {
            // Others may have put entries of theirs in it, which could stay
            // theirs to change whatever its DACL becomes: it is never used
            // again, but moved aside and made anew.
            if (!move_aside(path, std::move(opened))) return StagingCheck::unsafe;
            continue;
        }
        staging_.set(folder, std::move(opened), sids);
        return StagingCheck::ready;
    }
    return StagingCheck::unsafe;
}

}  // namespace lumo
