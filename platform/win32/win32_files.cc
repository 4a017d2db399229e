// Files, folders, the staging folder, the installer's own executable and the
// start of the setup program, with the 8-bit Win32 calls.
#include <aclapi.h>

#include <cstring>
#include <vector>

#include "platform/win32/win32_platform.h"

namespace lumo {
namespace {

class Win32FolderSearch final : public FolderSearch {
public:
    explicit Win32FolderSearch(HANDLE search) : search_(search) {}
    ~Win32FolderSearch() override { FindClose(search_); }

    bool next(FoundEntry& entry) override {
        WIN32_FIND_DATAA data;
        if (!FindNextFileA(search_, &data)) return false;
        entry = found_entry(data);
        return true;
    }

    static FoundEntry found_entry(const WIN32_FIND_DATAA& data) {
        FoundEntry entry;
        entry.name = data.cFileName;
        entry.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // Junctions and symbolic links carry the folder attribute too; the
        // clean-up must see them as links so that it never walks through one.
        entry.is_link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        return entry;
    }

private:
    HANDLE search_;
};

class Win32OutputFile final : public OutputFile {
public:
    explicit Win32OutputFile(HANDLE file) : file_(file) {}
    ~Win32OutputFile() override { CloseHandle(file_); }

    bool write(const uint8_t* data, uint32_t size, uint32_t& written) override {
        DWORD done = 0;
        BOOL ok = WriteFile(file_, data, size, &done, nullptr);
        written = done;
        return ok != 0;
    }

private:
    HANDLE file_;
};

std::string without_trailing_separator(std::string path) {
    while (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    return path;
}

// The full path of the running executable, however long it is.
std::string own_module_path() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return "";
        if (length < buffer.size()) return std::string(buffer.data(), length);
        if (buffer.size() >= 32768) return "";
        buffer.resize(buffer.size() * 2);
    }
}

// Whether the folder at `path` belongs to someone else than the user running
// the installer. Objects this process creates are owned by the token's user
// or by its default owner (the Administrators group for an elevated
// administrator); either is ours. When the owner cannot be told (a file
// system without owners, a failing query), the folder counts as ours.
bool owned_by_another_user(const std::string& path) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool foreign = false;
    HANDLE token = nullptr;
    if (owner && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        alignas(8) unsigned char user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
        alignas(8) unsigned char default_owner[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_OWNER)];
        DWORD size = 0;
        if (GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
            GetTokenInformation(token, TokenOwner, default_owner, sizeof default_owner, &size)) {
            foreign = !EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user)->User.Sid) &&
                      !EqualSid(owner, reinterpret_cast<TOKEN_OWNER*>(default_owner)->Owner);
        }
        CloseHandle(token);
    }
    LocalFree(descriptor);
    return foreign;
}

}  // namespace

Win32Platform::Win32Platform(HINSTANCE instance) : instance_(instance) {}

Win32Platform::~Win32Platform() {
    if (image_) UnmapViewOfFile(image_);
    if (image_mapping_) CloseHandle(image_mapping_);
    if (image_file_ != INVALID_HANDLE_VALUE) CloseHandle(image_file_);
}

std::string Win32Platform::temp_folder() {
    char buffer[256];
    DWORD length = GetTempPathA(sizeof buffer, buffer);
    // A result as large as the buffer is the size needed, not a path: the
    // buffer was left unfilled.
    if (length == 0 || length >= sizeof buffer) return "";
    return std::string(buffer, length);
}

bool Win32Platform::create_directory(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != 0; }

StagingCheck Win32Platform::prepare_staging_folder(const std::string& folder) {
    const std::string path = without_trailing_separator(folder);
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return StagingCheck::ready;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        // In a temporary folder shared by several users, another user's
        // folder of this name could be changed under the installer's hands
        // while it empties and fills it.
        return owned_by_another_user(path) ? StagingCheck::unsafe : StagingCheck::ready;
    }
    // A junction or symbolic link put in place of the staging folder would
    // make the clean-up delete, and the writer fill, a folder elsewhere.
    // Removing a link to a folder removes the link only, never its target.
    BOOL removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryA(path.c_str()) : DeleteFileA(path.c_str());
    if (!removed) return StagingCheck::unsafe;
    return StagingCheck::ready;
}

std::span<const uint8_t> Win32Platform::installer_image() {
    if (image_) return {image_, image_size_};
    const std::string path = own_module_path();
    if (path.empty()) return {};
    image_file_ = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (image_file_ == INVALID_HANDLE_VALUE) return {};
    LARGE_INTEGER size;
    if (!GetFileSizeEx(image_file_, &size) || size.QuadPart == 0 ||
        static_cast<uint64_t>(size.QuadPart) > SIZE_MAX)
        return {};
    image_mapping_ = CreateFileMappingA(image_file_, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!image_mapping_) return {};
    image_ = static_cast<const uint8_t*>(MapViewOfFile(image_mapping_, FILE_MAP_READ, 0, 0, 0));
    if (!image_) return {};
    image_size_ = static_cast<size_t>(size.QuadPart);
    return {image_, image_size_};
}

void Win32Platform::start_program(const std::string& command_line, const std::string&,
                                  const std::string& current_folder) {
    // CreateProcessA may write into the command line: it gets its own copy.
    std::vector<char> line(command_line.begin(), command_line.end());
    line.push_back('\0');
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr,
                       current_folder.c_str(), &startup, &process)) {
        // Not waited for: the installer exits while the setup program runs.
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

std::unique_ptr<FolderSearch> Win32Platform::find_first(const std::string& pattern, FoundEntry& first) {
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return nullptr;
    first = Win32FolderSearch::found_entry(data);
    return std::make_unique<Win32FolderSearch>(search);
}

std::string Win32Platform::full_path_name(const std::string& path) {
    DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return "";
    std::vector<char> buffer(needed + 1);
    DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0 || length >= buffer.size()) return "";
    return std::string(buffer.data(), length);
}

bool Win32Platform::delete_file(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool Win32Platform::remove_directory(const std::string& path) { return RemoveDirectoryA(path.c_str()) != 0; }

std::unique_ptr<OutputFile> Win32Platform::create_file(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32OutputFile>(file);
}

bool Win32Platform::path_exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::FILE* Win32Platform::open_for_reading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }

}  // namespace lumo
