#include "platform/win32/win32_held_folder.h"

#include <cwchar>
#include <vector>

#include "platform/win32/win32_text.h"


namespace lumo {
namespace {

constexpr ACCESS_MASK folder_access = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL;
constexpr ULONG share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool is_separator(char c) { return c == '\\' || c == '/'; }

std::string without_trailing_separators(std::string path) {
    while (path.size() > 1 && is_separator(path.back())) path.pop_back();
    return path;
}

}  // namespace

ScopedHandle& ScopedHandle::operator=(ScopedHandle&& other) noexcept {
    if (this != &other) {
        if (handle_) CloseHandle(handle_);
        handle_ = other.release();
    }
    return *this;
}

ScopedHandle::~ScopedHandle() {
    if (handle_) CloseHandle(handle_);
}

HANDLE ScopedHandle::release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
}

ScopedHandle open_in(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                     ULONG options, long* status) {
    if (name.size() > 32767) return ScopedHandle();
    UNICODE_STRING text;
    text.Buffer = const_cast<wchar_t*>(name.c_str());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io;
    HANDLE handle = nullptr;
    const NTSTATUS result =
        NtCreateFile(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share, disposition,
                     options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (status) *status = result;
    return ScopedHandle(NT_SUCCESS(result) ? handle : nullptr);
}

bool is_link(HANDLE folder, const std::wstring& name, HANDLE entry) {
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    return !GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &tag, sizeof tag) ||
           (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !is_named_in(folder, name, entry);
}

// The name the system gives `handle`, its path below the volume's root, in
// `info` (room for the longest); false when there is none.
bool read_name(HANDLE handle, FILE_NAME_INFO* info) {
    return GetFileInformationByHandleEx(handle, FileNameInfo, info, sizeof(FILE_NAME_INFO) + 65536);
}

bool is_named_in(HANDLE folder, const std::wstring& name, HANDLE entry) {
    std::vector<unsigned char> buffer(2 * (sizeof(FILE_NAME_INFO) + 65536));
    auto* folder_name = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    auto* entry_name = reinterpret_cast<FILE_NAME_INFO*>(buffer.data() + buffer.size() / 2);
    if (!read_name(folder, folder_name) || !read_name(entry, entry_name) || folder_name->FileNameLength == 0) return false;
    // The folder's name, a separator unless the folder is a root, and `name`.
    const int length = int(folder_name->FileNameLength / sizeof(wchar_t));
    const int cut = length - (folder_name->FileName[length - 1] == L'\\');
    const wchar_t* given = entry_name->FileName;
    const int given_length = int(entry_name->FileNameLength / sizeof(wchar_t));
    return given_length == cut + 1 + int(name.size()) && given[cut] == L'\\' &&
           CompareStringOrdinal(given, cut, folder_name->FileName, cut, TRUE) == CSTR_EQUAL &&
           CompareStringOrdinal(given + cut + 1, int(name.size()), name.c_str(), int(name.size()), TRUE) == CSTR_EQUAL;
}

bool remove_entry(HANDLE folder, const std::wstring& name, bool folder_entry) {
    ScopedHandle entry = open_in(folder, name, DELETE | FILE_READ_ATTRIBUTES, share_all, FILE_OPEN,
                                 folder_entry ? FILE_DIRECTORY_FILE : FILE_NON_DIRECTORY_FILE);
    if (!entry) return false;
    // Windows opens the link itself, which then goes; Wine opens what it
    // leads to, which must stay.
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (!GetFileInformationByHandleEx(entry.get(), FileAttributeTagInfo, &tag, sizeof tag) ||
        (!(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !is_named_in(folder, name, entry.get())))
        return false;
    FILE_DISPOSITION_INFO gone = {TRUE};
    return SetFileInformationByHandle(entry.get(), FileDispositionInfo, &gone, sizeof gone) != 0;
}

void remove_contents(HANDLE folder, int depth) {
    ScopedHandle listing = open_in(folder, L"", FILE_LIST_DIRECTORY, share_all, FILE_OPEN, FILE_DIRECTORY_FILE);
    if (!listing || depth > 64) return;
    std::vector<unsigned char> buffer(64 * 1024);
    IO_STATUS_BLOCK io;
    for (BOOLEAN first = TRUE; NT_SUCCESS(NtQueryDirectoryFile(listing.get(), nullptr, nullptr, nullptr, &io, buffer.data(),
                                                               ULONG(buffer.size()), FileBothDirectoryInformation,
                                                               FALSE, nullptr, first)) &&
                               io.Information > 0;
         first = FALSE) {
        for (const unsigned char* at = buffer.data();;) {
            const auto* info = reinterpret_cast<const FILE_BOTH_DIR_INFORMATION*>(at);
            const std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
            const bool is_folder = info->FileAttributes & FILE_ATTRIBUTE_DIRECTORY;
            if (name.find_first_not_of(L'.') != std::wstring::npos) {  // not "." or ".."
                if (is_folder) {
                    ScopedHandle inner = open_in(folder, name, folder_access, share_all, FILE_OPEN, FILE_DIRECTORY_FILE);
                    if (inner && !is_link(folder, name, inner.get())) remove_contents(inner.get(), depth + 1);
                }
                remove_entry(folder, name, is_folder);
            }
            if (!info->NextEntryOffset) break;
            at += info->NextEntryOffset;
        }
    }
}

void HeldFolder::set(const std::string& text, ScopedHandle folder, const TokenSids& sids) {
    text_ = without_trailing_separators(text);
    char full[MAX_PATH * 2];
    const DWORD length = GetFullPathNameA(text_.c_str(), sizeof full, full, nullptr);
    full_text_ = length > 0 && length < sizeof full ? without_trailing_separators(full) : text_;
    folder_ = std::move(folder);
    sids_ = sids;
    forget_walks();
}

bool HeldFolder::below(const std::string& path, std::string& rest) const {
    for (const std::string* text : {&text_, &full_text_}) {
        if (text->empty() || path.compare(0, text->size(), *text) != 0) continue;
        if (path.size() > text->size() && !is_separator(path[text->size()])) continue;
        size_t start = text->size(), end = path.size();
        while (start < end && is_separator(path[start])) ++start;
        while (end > start && is_separator(path[end - 1])) --end;
        rest = path.substr(start, end - start);
        return true;
    }
    return false;
}

std::wstring HeldFolder::final_path() const {
    wchar_t buffer[32768];
    const DWORD length = folder_ ? GetFinalPathNameByHandleW(folder_.get(), buffer, 32768, FILE_NAME_NORMALIZED) : 0;
    if (length < 4 || length >= 32768) return L"";
    // "\\?\C:\..." or "\\?\UNC\server\...", for "C:\..." or "\\server\...".
    wchar_t* start = buffer + 4;
    if (length > 8 && std::wmemcmp(start, L"UNC\\", 4) == 0) *(start += 2) = L'\\';
    std::wstring path(start, size_t(buffer + length - start));
    std::string text;
    if (!to_ansi(path, text)) {
        const DWORD short_length = GetShortPathNameW(path.c_str(), buffer, 32768);
        if (short_length > 0 && short_length < 32768) path.assign(buffer, short_length);
    }
    return path;
}

bool HeldFolder::holds(const std::string& path) const {
    std::string rest;
    return below(path, rest);
}

ScopedHandle HeldFolder::walk(const std::string& rest, Walk walk) {
    if (!folder_) return ScopedHandle();
    ScopedHandle current = open_in(folder_.get(), L"", folder_access, share_all, FILE_OPEN, FILE_DIRECTORY_FILE);
    size_t start = 0;
    while (current && start < rest.size()) {
        size_t end = start;
        while (end < rest.size() && !is_separator(rest[end])) ++end;
        const std::string component = rest.substr(start, end - start);
        start = end + 1;
        if (component.empty()) continue;
        if (component == "." || component == "..") return ScopedHandle();
        const std::wstring name = to_wide(component);
        ScopedHandle next = open_in(current.get(), name, folder_access, share_all, FILE_OPEN, FILE_DIRECTORY_FILE);
        if (!next || is_link(current.get(), name, next.get())) return ScopedHandle();
        if (walk == Walk::ours && judge_open_folder(next.get(), sids_) != FolderSecurity::closed) return ScopedHandle();
        current = std::move(next);
    }
    return current;
}

ScopedHandle HeldFolder::open_folder(const std::string& path, Walk walk) {
    std::string rest;
    if (!below(path, rest)) return ScopedHandle();
    return this->walk(rest, walk);
}

HANDLE HeldFolder::locate(const std::string& path, Walk walk, std::wstring& name) {
    std::string rest;
    if (!below(path, rest)) return nullptr;
    const size_t cut = rest.find_last_of("\\/");
    const std::string leaf = cut == std::string::npos ? rest : rest.substr(cut + 1);
    if (leaf.empty() || leaf == "." || leaf == "..") return nullptr;  // the staging folder itself
    const std::string parent = cut == std::string::npos ? std::string() : rest.substr(0, cut);
    name = to_wide(leaf);
    if (!walked_ || parent != walked_rest_ || (walk == Walk::ours && walked_for_ != Walk::ours)) {
        walked_ = this->walk(parent, walk);
        walked_rest_ = walked_ ? parent : std::string();
        walked_for_ = walk;
    }
    return walked_.get();
}

}  // namespace lumo
