// Windows: a held file is a handle, read at explicit offsets so that
// threads never share a file position.
#include <windows.h>

#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/system/system.h"

namespace lumo {
namespace {

HANDLE handle_of(intptr_t native) { return reinterpret_cast<HANDLE>(native); }

}  // namespace

HeldFile::~HeldFile() {
    if (native_ != -1) CloseHandle(handle_of(native_));
}

bool HeldFile::read_at(uint64_t offset, std::span<uint8_t> out) const {
    while (!out.empty()) {
        OVERLAPPED at = {};
        at.Offset = DWORD(offset);
        at.OffsetHigh = DWORD(offset >> 32);
        DWORD n = 0;
        const DWORD want = out.size() > (1u << 30) ? (1u << 30) : DWORD(out.size());
        if (!ReadFile(handle_of(native_), out.data(), want, &n, &at) || n == 0) return false;
        offset += n;
        out = out.subspan(n);
    }
    return true;
}

uint64_t HeldFile::size() const {
    LARGE_INTEGER size;
    return GetFileSizeEx(handle_of(native_), &size) ? uint64_t(size.QuadPart) : 0;
}

FileIdentity HeldFile::identity() const {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle_of(native_), &info)) return {};
    return {info.dwVolumeSerialNumber, uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
}

uint32_t HeldFile::permissions() const { return 0; }

// Every file is held open for the whole build: none is found anew.
bool HeldFile::lost() const { return false; }

HeldFile open_to_read(const std::filesystem::path& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw PackError(shown(path) + ": cannot be read");
    HeldFile held{reinterpret_cast<intptr_t>(file)};
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        throw PackError(shown(path) + ": not a regular file");
    return held;
}

}  // namespace lumo
