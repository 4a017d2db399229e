// POSIX: the installer's folder as a descriptor; the file created in it with
// O_CREAT | O_EXCL | O_NOFOLLOW under a random name, so that nothing that
// was there (a link to one of the vendor's files, made in a folder others
// can write to) is ever opened; read back, given its mode (fchmod) and
// renamed (renameat) through what was created.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/posix/held_folder.h"
#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/system/system.h"

namespace lumo {
namespace fs = std::filesystem;
namespace {


std::string reason(int error) { return std::strerror(error); }

bool write_all(int fd, std::span<const uint8_t> bytes, uint64_t offset) {
    while (!bytes.empty()) {
        const ssize_t n = pwrite(fd, bytes.data(), bytes.size(), off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        offset += uint64_t(n);
        bytes = bytes.subspan(size_t(n));
    }
    return true;
}

FileIdentity identity_of(const struct stat& st) { return {uint64_t(st.st_dev), uint64_t(st.st_ino)}; }

}  // namespace

struct OutputFile::Held {
    std::string shown;      // OUT, for messages
    UniqueFd folder;
    std::string name;       // OUT's last component
    std::string temporary;  // the name the file was created under
    HeldFile file;
    bool committed = false;
};

OutputFile::OutputFile(const fs::path& path) : held_(std::make_unique<Held>()) {
    held_->shown = shown(path);
    held_->name = path.filename().string();
    if (held_->name.empty() || held_->name == "." || held_->name == "..")
        throw PackError(held_->shown + ": not a file name");
    const fs::path parent = path.has_parent_path() ? path.parent_path() : fs::path(".");
    held_->folder = UniqueFd(open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!held_->folder)
        throw PackError(held_->shown + ": cannot be created: its folder cannot be opened: " + reason(errno));

    // Sixty-four random bits: a name made in advance (by the million, as
    // links) is never the one taken, and O_EXCL refuses any name that is.
    for (int attempt = 0; attempt < 8 && held_->file.native() < 0; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".partial-%016" PRIx64, unguessable_number());
        held_->temporary = held_->name + suffix;
        const int fd = openat(held_->folder.get(), held_->temporary.c_str(),
                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) held_->file = HeldFile(intptr_t(fd));
        else if (errno != EEXIST) throw PackError(held_->shown + ": cannot be created: " + reason(errno));
    }
    if (held_->file.native() < 0) throw PackError(held_->shown + ": cannot be created: no free name beside it");
    buffer_.reserve(buffer_size);
}

OutputFile::~OutputFile() {
    if (held_->committed) return;
    // The name goes only while it is still this file: someone who can write
    // to the folder may have put another file under it.
    struct stat st;
    if (fstatat(held_->folder.get(), held_->temporary.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        identity_of(st) == held_->file.identity())
        unlinkat(held_->folder.get(), held_->temporary.c_str(), 0);
}

std::vector<FileIdentity> OutputFile::own_files() const {
    std::vector<FileIdentity> files = {held_->file.identity()};
    struct stat st;
    if (fstatat(held_->folder.get(), held_->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
        files.push_back(identity_of(st));
    return files;
}

void OutputFile::write_out(std::span<const uint8_t> bytes, uint64_t offset) {
    if (!write_all(int(held_->file.native()), bytes, offset))
        throw PackError(held_->shown + ": cannot be written (is the disk full?)");
}

const HeldFile& OutputFile::written() const { return held_->file; }

void OutputFile::commit(std::optional<uint32_t> permissions) {
    flush();
    const int fd = int(held_->file.native());
    // Created closed to others, so that nobody could write to it meanwhile;
    // without permissions of its own it takes what a new file would.
    mode_t mode = permissions ? mode_t(*permissions & 0777) : 0;
    if (!permissions) {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (fchmod(fd, mode) != 0)
        throw PackError(held_->shown + ": cannot be given its permissions: " + reason(errno));
    if (renameat(held_->folder.get(), held_->temporary.c_str(), held_->folder.get(), held_->name.c_str()) != 0)
        throw PackError(held_->shown + ": " + reason(errno));
    // Whatever the rename moved is no longer ours to remove.
    held_->committed = true;
    struct stat st;
    const bool in_place = fstatat(held_->folder.get(), held_->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                          S_ISREG(st.st_mode) && identity_of(st) == held_->file.identity();
    if (!in_place)
        throw PackError(held_->shown + ": is not the installer that was written: another file was put in the "
                        "place of the one being written, or of it once in place; the build failed (is the "
                        "folder open to others?)");
}

}  // namespace lumo
