#include "platform/win32/win32_held_folder.h"

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
    if (!GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &tag, sizeof tag)) return true;
    if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
    // A folder handle keeps the first name it was asked to list: the
    // question goes to a handle of its own.
    ScopedHandle listing = open_in(folder, L"", FILE_LIST_DIRECTORY, share_all, FILE_OPEN, FILE_DIRECTORY_FILE);
    if (!listing || name.size() > 255) return true;
    alignas(8) unsigned char buffer[sizeof(FILE_BOTH_DIR_INFORMATION) + 256 * sizeof(wchar_t)];
    UNICODE_STRING mask;
    mask.Buffer = const_cast<wchar_t*>(name.c_str());
    mask.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    mask.MaximumLength = mask.Length;
    IO_STATUS_BLOCK io;
    const NTSTATUS status = NtQueryDirectoryFile(listing.get(), nullptr, nullptr, nullptr, &io, buffer, sizeof buffer,
                                                 FileBothDirectoryInformation, TRUE, &mask, TRUE);
    if (!NT_SUCCESS(status)) return true;
    return reinterpret_cast<FILE_BOTH_DIR_INFORMATION*>(buffer)->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
}

void HeldFolder::set(const std::string& text, ScopedHandle folder, const TokenSids& sids) {
    text_ = without_trailing_separators(text);
    folder_ = std::move(folder);
    sids_ = sids;
    forget_walks();
    listed_links_.clear();
}

void HeldFolder::note_listed_link(const std::string& folder, const std::string& name) {
    std::string rest;
    if (!below(folder, rest)) return;
    for (char& c : rest)
        if (c == '/') c = '\\';
    listed_links_.insert(rest.empty() ? name : rest + '\\' + name);
}

bool HeldFolder::listed_as_link(const std::string& path) const {
    std::string rest;
    if (!below(path, rest)) return false;
    for (char& c : rest)
        if (c == '/') c = '\\';
    return listed_links_.count(rest) > 0;
}

bool HeldFolder::below(const std::string& path, std::string& rest) const {
    if (text_.empty() || path.compare(0, text_.size(), text_) != 0) return false;
    if (path.size() > text_.size() && !is_separator(path[text_.size()])) return false;
    size_t start = text_.size(), end = path.size();
    while (start < end && is_separator(path[start])) ++start;
    while (end > start && is_separator(path[end - 1])) --end;
    rest = path.substr(start, end - start);
    return true;
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
