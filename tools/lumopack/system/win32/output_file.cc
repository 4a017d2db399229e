// Windows: the installer's folder as a handle; the file created in it
// relative to that handle (NtCreateFile, FILE_CREATE, never through a
// junction or link) under a random name, held without sharing writes or
// deletion, so that nobody else can change, rename or replace it while it
// is written and read back; renamed through its own handle into the held
// folder, and the name then opened to check that it is this file.
//
// Under Wine another user's process (a host process) ignores the sharing
// and may rename a host link over the file's name: the rename through the
// handle then moves that name, and the check finds another file in place.
// Wine also goes by a name for what it does through a handle (the rename,
// the removal): the one it resolved when the file was made, links
// followed. A link renamed over the new file just then would make that name
// a file of the vendor's, which a rename would move and a removal delete;
// so the handle's own name is checked to be the one the file was made
// under before anything is done through it.
#include <windows.h>

#include <cinttypes>
#include <cstdio>
#include <cwchar>

#include "platform/win32/win32_held_folder.h"
#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/system/system.h"

namespace lumo {
namespace fs = std::filesystem;
namespace {

constexpr ACCESS_MASK folder_access = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL;
constexpr ULONG share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool write_all(HANDLE file, std::span<const uint8_t> bytes, uint64_t offset) {
    while (!bytes.empty()) {
        OVERLAPPED at = {};
        at.Offset = DWORD(offset);
        at.OffsetHigh = DWORD(offset >> 32);
        DWORD n = 0;
        const DWORD want = bytes.size() > (1u << 30) ? (1u << 30) : DWORD(bytes.size());
        if (!WriteFile(file, bytes.data(), want, &n, &at) || n == 0) return false;
        offset += n;
        bytes = bytes.subspan(n);
    }
    return true;
}

// The path the system knows `handle` by, without the volume; empty when it
// cannot be told.
std::wstring known_name(HANDLE handle) {
    std::vector<wchar_t> name(32768);
    const DWORD n = GetFinalPathNameByHandleW(handle, name.data(), DWORD(name.size()), FILE_NAME_NORMALIZED | VOLUME_NAME_NONE);
    return n > 0 && n < name.size() ? std::wstring(name.data(), n) : std::wstring();
}

// Whether `file` is known by the name `name` in `folder`.
bool known_as(HANDLE file, HANDLE folder, const std::wstring& name) {
    std::wstring expected = known_name(folder);
    if (expected.empty()) return false;
    if (expected.back() != L'\\') expected += L'\\';
    expected += name;
    const std::wstring known = known_name(file);
    return !known.empty() && CompareStringOrdinal(known.c_str(), int(known.size()), expected.c_str(),
                                                  int(expected.size()), TRUE) == CSTR_EQUAL;
}

FileIdentity identity_of(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return {};
    return {info.dwVolumeSerialNumber, uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
}

}  // namespace

struct OutputFile::Held {
    std::string shown;      // OUT, for messages
    ScopedHandle folder;
    std::wstring name;       // OUT's last component
    HeldFile file;
    bool committed = false;  // or never to be renamed nor removed through its handle
    HANDLE handle() const { return reinterpret_cast<HANDLE>(file.native()); }
};

OutputFile::OutputFile(const fs::path& path) : held_(std::make_unique<Held>()) {
    held_->shown = shown(path);
    held_->name = path.filename().wstring();
    if (held_->name.empty() || held_->name == L"." || held_->name == L"..")
        throw PackError(held_->shown + ": not a file name");
    const fs::path parent = path.has_parent_path() ? path.parent_path() : fs::path(".");
    held_->folder = ScopedHandle(CreateFileW(parent.c_str(), folder_access, share_all, nullptr, OPEN_EXISTING,
                                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!held_->folder) throw PackError(held_->shown + ": cannot be created: its folder cannot be opened");

    // Sixty-four random bits: a name made in advance is never the one
    // taken, and FILE_CREATE refuses any name that is.
    long status = 0;
    std::wstring temporary;
    for (int attempt = 0; attempt < 8 && !held_->file; ++attempt) {
        wchar_t suffix[32];
        std::swprintf(suffix, 32, L".partial-%016llx", static_cast<unsigned long long>(unguessable_number()));
        temporary = held_->name + suffix;
        ScopedHandle file = open_in(held_->folder.get(), temporary, GENERIC_READ | GENERIC_WRITE | DELETE,
                                    FILE_SHARE_READ, FILE_CREATE, FILE_NON_DIRECTORY_FILE, &status);
        if (file) held_->file = HeldFile(reinterpret_cast<intptr_t>(file.release()));
        else if (status != long(0xC0000035L))  // STATUS_OBJECT_NAME_COLLISION
            break;
    }
    if (!held_->file) throw PackError(held_->shown + ": cannot be created");
    if (!known_as(held_->handle(), held_->folder.get(), temporary)) {
        held_->committed = true;
        throw PackError(held_->shown + ": cannot be created: another file was put in the place of the one made "
                        "(is the folder open to others?)");
    }
    buffer_.reserve(buffer_size);
}

OutputFile::~OutputFile() {
    if (held_->committed || !held_->file) return;
    // Removed through its handle: whatever else takes its name meanwhile
    // is left alone.
    FILE_DISPOSITION_INFO disposition = {TRUE};
    SetFileInformationByHandle(held_->handle(), FileDispositionInfo, &disposition, sizeof disposition);
}

std::vector<FileIdentity> OutputFile::own_files() const {
    std::vector<FileIdentity> files = {held_->file.identity()};
    ScopedHandle existing = open_in(held_->folder.get(), held_->name, FILE_READ_ATTRIBUTES, share_all, FILE_OPEN,
                                    FILE_NON_DIRECTORY_FILE);
    if (existing) files.push_back(identity_of(existing.get()));
    return files;
}

void OutputFile::write_out(std::span<const uint8_t> bytes, uint64_t offset) {
    if (!write_all(held_->handle(), bytes, offset))
        throw PackError(held_->shown + ": cannot be written (is the disk full?)");
}

const HeldFile& OutputFile::written() const { return held_->file; }

void OutputFile::commit(std::optional<uint32_t>) {
    flush();
    // The name relative to the held folder goes to the system as it is
    // (SetFileInformationByHandle would make a full path of it).
    const std::wstring& name = held_->name;
    std::vector<uint8_t> buffer(sizeof(FILE_RENAME_INFORMATION) + name.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = held_->folder.get();
    info->FileNameLength = ULONG(name.size() * sizeof(wchar_t));
    std::wmemcpy(info->FileName, name.data(), name.size());
    IO_STATUS_BLOCK io;
    const NTSTATUS status = NtSetInformationFile(held_->handle(), &io, info, ULONG(buffer.size()), FileRenameInformation);
    if (!NT_SUCCESS(status))
        throw PackError(held_->shown + ": cannot be put in place (status " + std::to_string(unsigned(status)) + ")");
    held_->committed = true;
    ScopedHandle placed = open_in(held_->folder.get(), name, FILE_READ_ATTRIBUTES, share_all, FILE_OPEN,
                                  FILE_NON_DIRECTORY_FILE);
    const bool in_place = placed && !is_link(held_->folder.get(), name, placed.get()) &&
                          identity_of(placed.get()) == held_->file.identity();
    if (!in_place)
        throw PackError(held_->shown + ": is not the installer that was written: another file was put in the "
                        "place of the one being written, or of it once in place; the build failed (is the "
                        "folder open to others?)");
}

}  // namespace lumo
