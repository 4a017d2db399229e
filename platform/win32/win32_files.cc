// Files, folders, the installer's own executable and the start of the setup
// program. Below the staging folder every call goes through the folder the
// check holds (win32_held_folder.h); names are the core's ANSI texts,
// converted as the "A" calls convert them.
#include <fcntl.h>
#include <io.h>

#include <cstring>
#include <vector>

#include "platform/win32/win32_platform.h"
#include "platform/win32/win32_text.h"


namespace lumo {
namespace {

constexpr ULONG share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

FoundEntry entry_of(const std::string& name, DWORD attributes) {
    FoundEntry entry;
    entry.name = name;
    entry.is_directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // Junctions and symbolic links carry the folder attribute too; the
    // clean-up must see them as links so that it never walks through one.
    entry.is_link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    return entry;
}

// A search outside the staging folder: FindFirstFileA and its kin.
class Win32FolderSearch final : public FolderSearch {
public:
    explicit Win32FolderSearch(HANDLE search) : search_(search) {}
    ~Win32FolderSearch() override { FindClose(search_); }

    bool next(FoundEntry& entry) override {
        WIN32_FIND_DATAA data;
        if (!FindNextFileA(search_, &data)) return false;
        entry = entry_of(data.cFileName, data.dwFileAttributes);
        return true;
    }

private:
    HANDLE search_;
};

// A search of a folder below the staging folder, through a handle of it.
class HeldFolderSearch final : public FolderSearch {
public:
    explicit HeldFolderSearch(ScopedHandle folder) : folder_(std::move(folder)) {}

    bool next(FoundEntry& entry) override {
        if (!entry_ && !fill()) return false;
        const auto* info = reinterpret_cast<const FILE_BOTH_DIR_INFORMATION*>(entry_);
        std::string name;
        // A name the code page cannot hold is given by its short form, which
        // the later calls reach too; without one it keeps its '?'.
        if (!to_ansi(std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t)), name) &&
            info->ShortNameLength > 0) {
            std::string short_name;
            if (to_ansi(std::wstring(info->ShortName, info->ShortNameLength / sizeof(wchar_t)), short_name))
                name = short_name;
        }
        entry = entry_of(name, info->FileAttributes);
        entry_ = info->NextEntryOffset ? entry_ + info->NextEntryOffset : nullptr;
        return true;
    }

private:
    bool fill() {
        IO_STATUS_BLOCK io;
        const NTSTATUS status = NtQueryDirectoryFile(folder_.get(), nullptr, nullptr, nullptr, &io, buffer_.data(),
                                                     ULONG(buffer_.size()), FileBothDirectoryInformation, FALSE,
                                                     nullptr, first_);
        first_ = FALSE;
        if (!NT_SUCCESS(status) || io.Information == 0) return false;
        entry_ = buffer_.data();
        return true;
    }

    ScopedHandle folder_;
    std::vector<unsigned char> buffer_ = std::vector<unsigned char>(64 * 1024);
    const unsigned char* entry_ = nullptr;
    BOOLEAN first_ = TRUE;
};

// The rename of an open file, as ntdll takes it: the new name relative to
// a folder handle. (The kernel32 call makes a DOS path of the name first,
// which Wine then resolves against the current folder.)
struct RenameInformation {
    BOOLEAN replace_if_exists;
    HANDLE root_directory;
    ULONG file_name_length;  // in bytes
    WCHAR file_name[1];
};

// Removes `name` in `folder` for a file to take its place: the file there,
// never a link (only the link itself would be replaced) or a folder, and
// not a read-only file. True when nothing is in the way any more.
bool clear_place(HANDLE folder, const std::wstring& name) {
    long status = 0;
    ScopedHandle old = open_in(folder, name, DELETE | FILE_READ_ATTRIBUTES, share_all, FILE_OPEN,
                               FILE_NON_DIRECTORY_FILE, &status);
    if (!old) return status == long(0xC0000034);  // STATUS_OBJECT_NAME_NOT_FOUND
    FILE_DISPOSITION_INFO gone = {TRUE};
    return !is_link(folder, name, old.get()) &&
           SetFileInformationByHandle(old.get(), FileDispositionInfo, &gone, sizeof gone);
}

// A file below the staging folder is made in the staging folder under a
// name of its own and renamed into its place through its handle when
// finished; one outside it (only tests write there) is made in place.
class Win32OutputFile final : public OutputFile {
public:
    explicit Win32OutputFile(HANDLE file) : file_(file), finished_(true) {}
    Win32OutputFile(ScopedHandle file, HeldFolder& staging, std::string path)
        : file_(file.release()), staging_(&staging), path_(std::move(path)) {}
    ~Win32OutputFile() override {
        if (!finished_) {
            FILE_DISPOSITION_INFO gone = {TRUE};
            SetFileInformationByHandle(file_, FileDispositionInfo, &gone, sizeof gone);
        }
        CloseHandle(file_);
    }

    bool write(const uint8_t* data, uint32_t size, uint32_t& written) override {
        DWORD done = 0;
        BOOL ok = WriteFile(file_, data, size, &done, nullptr);
        written = done;
        return ok != 0;
    }

    bool finish() override {
        if (finished_) return true;
        std::wstring name;
        const HANDLE folder = staging_->locate(path_, Walk::ours, name);
        if (!folder || name.size() > 32767) return false;
        std::vector<unsigned char> buffer(sizeof(RenameInformation) + name.size() * sizeof(wchar_t));
        auto* rename = reinterpret_cast<RenameInformation*>(buffer.data());
        rename->replace_if_exists = FALSE;
        rename->root_directory = folder;
        rename->file_name_length = ULONG(name.size() * sizeof(wchar_t));
        std::memcpy(rename->file_name, name.data(), name.size() * sizeof(wchar_t));
        const auto rename_file = [&] {
            IO_STATUS_BLOCK io;
            return NtSetInformationFile(file_, &io, rename, ULONG(buffer.size()),
                                        FILE_INFORMATION_CLASS(10) /* FileRenameInformation */);
        };
        // The place is almost always free (the staging folder was emptied),
        // so the rename comes first and the place is cleared only when it is
        // taken: under Wine every look for a name that is not there reads the
        // whole folder, and clearing first made that two reads a file.
        NTSTATUS status = rename_file();
        if (status == NTSTATUS(0xC0000035) /* STATUS_OBJECT_NAME_COLLISION */ && clear_place(folder, name))
            status = rename_file();
        finished_ = NT_SUCCESS(status);
        return finished_;
    }

private:
    HANDLE file_;
    HeldFolder* staging_ = nullptr;
    std::string path_;
    bool finished_ = false;
};

// The full path of the running executable, however long it is and whatever
// characters it holds.
std::wstring own_module_path() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return L"";
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        if (buffer.size() >= 32768) return L"";
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

Win32Platform::Win32Platform(HINSTANCE instance) : instance_(instance) {}

Win32Platform::~Win32Platform() {
    if (image_file_ != INVALID_HANDLE_VALUE) CloseHandle(image_file_);
}

bool Win32Platform::create_directory(const std::string& path) {
    if (!staging_.holds(path)) return CreateDirectoryW(system_path(path).c_str(), nullptr) != 0;
    // Below the staging folder it inherits the staging folder's private DACL.
    std::wstring name;
    const HANDLE folder = staging_.locate(path, Walk::ours, name);
    return folder && open_in(folder, name, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
                   FILE_DIRECTORY_FILE);
}

uint64_t Win32Platform::installer_size() {
    if (image_opened_) return image_size_;
    image_opened_ = true;
    const std::wstring path = own_module_path();
    if (path.empty()) return 0;
    // Read, not mapped: a view of the whole file would need as much address
    // space as the add-on, which a 32-bit installer does not have.
    image_file_ = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    LARGE_INTEGER size;
    if (image_file_ != INVALID_HANDLE_VALUE && GetFileSizeEx(image_file_, &size) && size.QuadPart > 0)
        image_size_ = uint64_t(size.QuadPart);
    return image_size_;
}

bool Win32Platform::read_installer(uint64_t offset, uint8_t* destination, size_t size) {
    if (offset > installer_size() || size > image_size_ - offset) return false;
    while (size > 0) {
        OVERLAPPED at = {};
        at.Offset = DWORD(offset);
        at.OffsetHigh = DWORD(offset >> 32);
        const DWORD wanted = DWORD(size < (1u << 30) ? size : (1u << 30));
        DWORD done = 0;
        if (!ReadFile(image_file_, destination, wanted, &done, &at) || done == 0) return false;
        destination += done;
        offset += done;
        size -= done;
    }
    return true;
}

namespace {

// The system's own words for `error`, in the ANSI code page.
bool failed(DWORD error, std::string& failure) {
    char* text = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    failure = length ? std::string(text, length) : "error " + std::to_string(error);
    if (text) LocalFree(text);
    while (!failure.empty() && (failure.back() == '\n' || failure.back() == '\r')) failure.pop_back();
    return false;
}

}  // namespace

bool Win32Platform::start_program(const std::string& command_line, const std::string& program_path,
                                  const std::string& current_folder, std::string& failure) {
    // Only a plain file directly in the held staging folder is started, held
    // open so that it can be neither changed, renamed nor removed, and named
    // by the path the system gives the held folder, which no link on the way
    // to it can turn elsewhere. The setup program starts in that folder.
    std::string rest;
    std::wstring name;
    const HANDLE folder = staging_.locate(program_path, Walk::ours, name);
    if (!folder) return failed(ERROR_PATH_NOT_FOUND, failure);
    if (!staging_.below(current_folder, rest) || !rest.empty() || !staging_.below(program_path, rest) ||
        rest.find_first_of("\\/") != std::string::npos)
        return failed(ERROR_PATH_NOT_FOUND, failure);
    long status = 0;
    ScopedHandle program = open_in(folder, name, FILE_READ_DATA | FILE_EXECUTE | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ, FILE_OPEN, FILE_NON_DIRECTORY_FILE, &status);
    if (!program) return failed(RtlNtStatusToDosError(status), failure);
    const std::wstring held = staging_.final_path();
    if (is_link(folder, name, program.get()) || held.empty()) return failed(ERROR_ACCESS_DENIED, failure);
    const std::wstring path = held + L"\\" + name;
    // The command line names the program by the same path.
    std::wstring line = to_wide(command_line);
    if (const size_t at = command_line.find(program_path); at != std::string::npos && !program_path.empty())
        line = to_wide(command_line.substr(0, at)) + path + to_wide(command_line.substr(at + program_path.size()));
    line.push_back(L'\0');  // CreateProcessW may write into it
    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof process);
    if (!CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE, nullptr,
                        held.c_str(), &startup, &process))
        return failed(GetLastError(), failure);
    // Not waited for: the installer exits while the setup program runs.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

std::unique_ptr<FolderSearch> Win32Platform::find_first(const std::string& pattern, FoundEntry& first) {
    const size_t cut = pattern.find_last_of("\\/");
    const std::string folder = cut == std::string::npos ? std::string() : pattern.substr(0, cut);
    if (staging_.holds(folder)) {
        ScopedHandle handle = staging_.open_folder(folder, Walk::any);
        if (!handle) return nullptr;
        auto search = std::make_unique<HeldFolderSearch>(std::move(handle));
        if (!search->next(first)) return nullptr;
        return search;
    }
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return nullptr;
    first = entry_of(data.cFileName, data.dwFileAttributes);
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

bool Win32Platform::delete_file(const std::string& path) {
    if (!staging_.holds(path)) return DeleteFileA(path.c_str()) != 0;
    std::wstring name;
    const HANDLE folder = staging_.locate(path, Walk::any, name);
    return folder && remove_entry(folder, name, false);
}

bool Win32Platform::remove_directory(const std::string& path) {
    if (!staging_.holds(path)) return RemoveDirectoryA(path.c_str()) != 0;
    staging_.forget_walks();
    std::wstring name;
    const HANDLE folder = staging_.locate(path, Walk::any, name);
    return folder && remove_entry(folder, name, true);
}

std::unique_ptr<OutputFile> Win32Platform::create_file(const std::string& path, const TakenNames& taken) {
    if (!staging_.holds(path)) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        return file == INVALID_HANDLE_VALUE ? nullptr : std::make_unique<Win32OutputFile>(file);
    }
    if (!staging_.handle()) return nullptr;
    // Made in the staging folder, so that no folder on the file's way is made
    // before the file is finished, and with the staging folder's DACL. When
    // finished, a file in its place is replaced by it, never rewritten; a
    // link there, a read-only file or one held open by another program make
    // the rename fail, as they make CREATE_ALWAYS fail.
    constexpr ACCESS_MASK write_access = GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES;
    constexpr ULONG new_file = FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY;
    // ".Lumo-<process>-<count>.partial", the numbers in hexadecimal: one
    // that no entry of the payload takes, nor any file there now. The names
    // the entries take are passed over without a try.
    static unsigned counter = 0;
    for (int tries = 0; tries < 100;) {
        std::string narrow(temporary_name_prefix);
        const auto put_hex = [&narrow](uint32_t value) {
            for (int shift = 28; shift >= 0; shift -= 4) narrow += "0123456789abcdef"[(value >> shift) & 15];
        };
        put_hex(GetCurrentProcessId());
        narrow += '-';
        put_hex(++counter);
        narrow += ".partial";
        if (taken && taken(narrow)) continue;
        ++tries;
        const std::wstring name(narrow.begin(), narrow.end());
        long status = 0;
        ScopedHandle file = open_in(staging_.handle(), name, write_access, FILE_SHARE_READ, FILE_CREATE, new_file, &status);
        if (file) return std::make_unique<Win32OutputFile>(std::move(file), staging_, path);
        if (status != long(0xC0000035) /* STATUS_OBJECT_NAME_COLLISION */) return nullptr;
    }
    return nullptr;
}

bool Win32Platform::path_exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::FILE* Win32Platform::open_for_reading(const std::string& path) {
    if (!staging_.holds(path)) return std::fopen(path.c_str(), "rb");
    std::wstring name;
    const HANDLE folder = staging_.locate(path, Walk::ours, name);
    if (!folder) return nullptr;
    ScopedHandle file = open_in(folder, name, GENERIC_READ, FILE_SHARE_READ, FILE_OPEN, FILE_NON_DIRECTORY_FILE);
    if (!file || is_link(folder, name, file.get())) return nullptr;
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_RDONLY | _O_BINARY);
    if (descriptor < 0) return nullptr;
    file.release();
    std::FILE* stream = _fdopen(descriptor, "rb");
    if (!stream) _close(descriptor);
    return stream;
}

}  // namespace lumo
