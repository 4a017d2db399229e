// POSIX: a held file is a descriptor, read with pread so that threads never
// share a read position (or, for a file closed again, a descriptor of each
// read's own).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/system/system.h"

namespace lumo {

HeldFile::~HeldFile() {
    if (native_ >= 0) close(int(native_));
}

namespace {

// The descriptor a call reads through: the held one, or one opened anew
// for this call and closed after it.
class ReadDescriptor {
public:
    ReadDescriptor(intptr_t held, const std::function<intptr_t()>& reopen)
        : fd_(held >= 0 || !reopen ? int(held) : int(reopen())), owned_(held < 0) {}
    ~ReadDescriptor() {
        if (owned_ && fd_ >= 0) close(fd_);
    }
    ReadDescriptor(const ReadDescriptor&) = delete;
    ReadDescriptor& operator=(const ReadDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
    bool owned_;
};

}  // namespace

bool HeldFile::read_at(uint64_t offset, std::span<uint8_t> out) const {
    const ReadDescriptor fd(native_, reopen_);
    if (fd.get() < 0) return false;
    while (!out.empty()) {
        const ssize_t n = pread(fd.get(), out.data(), out.size(), off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        offset += uint64_t(n);
        out = out.subspan(size_t(n));
    }
    return true;
}

uint64_t HeldFile::size() const {
    const ReadDescriptor fd(native_, reopen_);
    struct stat st;
    return fd.get() >= 0 && fstat(fd.get(), &st) == 0 ? uint64_t(st.st_size) : 0;
}

FileIdentity HeldFile::identity() const {
    const ReadDescriptor fd(native_, reopen_);
    struct stat st;
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0) return {};
    return {uint64_t(st.st_dev), uint64_t(st.st_ino)};
}

uint32_t HeldFile::permissions() const {
    const ReadDescriptor fd(native_, reopen_);
    struct stat st;
    return fd.get() >= 0 && fstat(fd.get(), &st) == 0 ? uint32_t(st.st_mode & 0777) : 0;
}

bool HeldFile::lost() const {
    if (native_ >= 0 || !reopen_) return false;
    const ReadDescriptor fd(native_, reopen_);
    // Out of descriptors is no sign of another file.
    return fd.get() < 0 && errno != EMFILE && errno != ENFILE;
}

HeldFile open_to_read(const std::filesystem::path& path) {
    // O_NONBLOCK: a pipe named here must not hang the build; it is refused
    // below as not a regular file.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) throw PackError(shown(path) + ": cannot be read: " + std::strerror(errno));
    HeldFile file{intptr_t(fd)};
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) throw PackError(shown(path) + ": not a regular file");
    return file;
}

}  // namespace lumo
