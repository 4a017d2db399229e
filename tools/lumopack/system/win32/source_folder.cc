// Windows: the add-on's folder as a handle, each folder below it opened
// relative to the one above (NtCreateFile, never through a junction or
// link), each file opened the same way as it is listed and compared with
// what the listing said of it (file ID, size, kind). Files are held without
// sharing writes or deletion: nobody can change, rename or replace them
// until the installer is written.
//
// Under Wine a host link is opened through whatever the flags say; it is
// told by the listing, as a reparse point, where Wine shows it as one.
#include <windows.h>

#include <algorithm>

#include "platform/win32/win32_held_folder.h"
#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/system/system.h"
#include "tools/lumopack/terminal_text.h"

namespace lumo {
namespace fs = std::filesystem;
namespace {

constexpr ACCESS_MASK folder_access = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL;
constexpr ULONG share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

struct Listed {
    std::wstring name;
    DWORD attributes = 0;
    DWORD reparse_tag = 0;
    uint64_t file_id = 0;
    uint64_t size = 0;
};

std::string utf8_of(const std::wstring& name) {
    const auto text = fs::path(name).u8string();
    return std::string(text.begin(), text.end());
}

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const auto& part : parts) text += (text.empty() ? "" : "/") + part;
    return escape_controls(text.empty() ? std::string(".") : text);
}

std::vector<Listed> list(HANDLE folder, const std::vector<std::string>& parts) {
    ScopedHandle listing = open_in(folder, L"", FILE_LIST_DIRECTORY, share_all, FILE_OPEN, FILE_DIRECTORY_FILE);
    if (!listing) throw PackError(joined(parts) + ": cannot be listed");
    std::vector<Listed> entries;
    alignas(8) static thread_local unsigned char buffer[64 * 1024];
    for (bool first = true;; first = false) {
        if (!GetFileInformationByHandleEx(listing.get(), first ? FileIdBothDirectoryRestartInfo : FileIdBothDirectoryInfo,
                                          buffer, sizeof buffer)) {
            if (GetLastError() == ERROR_NO_MORE_FILES) break;
            throw PackError(joined(parts) + ": cannot be listed");
        }
        for (size_t at = 0;;) {
            const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + at);
            Listed entry;
            entry.name.assign(info->FileName, info->FileNameLength / sizeof(wchar_t));
            entry.attributes = info->FileAttributes;
            // The reparse tag, where the entry is a reparse point.
            entry.reparse_tag = (info->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? info->EaSize : 0;
            entry.file_id = uint64_t(info->FileId.QuadPart);
            entry.size = uint64_t(info->EndOfFile.QuadPart);
            if (entry.name != L"." && entry.name != L"..") entries.push_back(std::move(entry));
            if (info->NextEntryOffset == 0) break;
            at += info->NextEntryOffset;
        }
    }
    std::sort(entries.begin(), entries.end(), [](const Listed& a, const Listed& b) { return a.name < b.name; });
    return entries;
}

// The file ID and size of what `opened` is, and whether it is a folder.
bool describe(HANDLE opened, uint64_t& file_id, uint64_t& size, bool& folder) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(opened, &info)) return false;
    file_id = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    size = uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

void walk(HANDLE folder, std::vector<std::string>& parts, std::span<const FileIdentity> skip,
          std::vector<SourceEntry>& entries) {
    for (const Listed& listed : list(folder, parts)) {
        parts.push_back(utf8_of(listed.name));
        SourceEntry entry{parts, SourceEntry::Kind::changed, 0, nullptr};
        uint64_t file_id = 0, size = 0;
        bool is_folder = false;
        if (listed.reparse_tag != 0 && IsReparseTagNameSurrogate(listed.reparse_tag)) {
            entry.kind = SourceEntry::Kind::link;
        } else if (listed.attributes & FILE_ATTRIBUTE_DIRECTORY) {
            ScopedHandle below = open_in(folder, listed.name, folder_access, share_all, FILE_OPEN, FILE_DIRECTORY_FILE);
            if (below && !is_link(folder, listed.name, below.get()) && describe(below.get(), file_id, size, is_folder) &&
                is_folder && file_id == listed.file_id) {
                walk(below.get(), parts, skip, entries);
                parts.pop_back();
                continue;
            }
        } else if (listed.attributes & FILE_ATTRIBUTE_DEVICE) {
            entry.kind = SourceEntry::Kind::special;
        } else {
            ScopedHandle opened = open_in(folder, listed.name, GENERIC_READ, FILE_SHARE_READ, FILE_OPEN,
                                          FILE_NON_DIRECTORY_FILE);
            if (opened && !is_link(folder, listed.name, opened.get()) &&
                describe(opened.get(), file_id, size, is_folder) && !is_folder && file_id == listed.file_id &&
                size == listed.size) {
                auto file = std::make_shared<HeldFile>(reinterpret_cast<intptr_t>(opened.release()));
                if (std::find(skip.begin(), skip.end(), file->identity()) != skip.end()) {
                    parts.pop_back();
                    continue;
                }
                entry.kind = SourceEntry::Kind::file;
                entry.size = size;
                entry.file = std::move(file);
            }
        }
        entries.push_back(std::move(entry));
        parts.pop_back();
    }
}

}  // namespace

std::vector<SourceEntry> list_source_folder(const fs::path& folder, std::span<const FileIdentity> skip) {
    ScopedHandle top(CreateFileW(folder.c_str(), folder_access, share_all, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    uint64_t file_id = 0, size = 0;
    bool is_folder = false;
    if (!top || !describe(top.get(), file_id, size, is_folder) || !is_folder)
        throw PackError(shown(folder) + ": not a folder");
    std::vector<SourceEntry> entries;
    std::vector<std::string> parts;
    walk(top.get(), parts, skip, entries);
    return entries;
}

}  // namespace lumo
