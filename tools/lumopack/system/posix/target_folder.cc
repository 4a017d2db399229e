// POSIX: the folder as a descriptor, everything below it through *at()
// calls that follow no link (O_NOFOLLOW, AT_SYMLINK_NOFOLLOW), and files
// created exclusively (O_EXCL) after the old name is unlinked.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/posix/held_folder.h"
#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/progress_bar.h"
#include "tools/lumopack/system/system.h"

namespace lumo {
namespace fs = std::filesystem;

namespace {

std::string reason(int error) { return std::strerror(error); }

// The folder `name` inside `parent`, created when missing: a real folder,
// never a link to one.
UniqueFd open_folder(int parent, const std::string& name, const std::string& shown) {
    constexpr int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = openat(parent, name.c_str(), flags);
    if (fd < 0 && errno == ENOENT) {
        if (mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST)
            throw PackError(shown + ": cannot create its folder: " + reason(errno));
        fd = openat(parent, name.c_str(), flags);
    }
    if (fd >= 0) return UniqueFd(fd);
    const int error = errno;
    struct stat st;
    if (error == ELOOP || (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)))
        throw PackError(shown + ": the folder on its way is a link");
    if (error == ENOTDIR) throw PackError(shown + ": the folder on its way is a file");
    throw PackError(shown + ": cannot open its folder: " + reason(error));
}

bool write_all(int fd, std::span<const uint8_t> data, ProgressBar& progress) {
    constexpr size_t chunk = 1 << 16;
    for (size_t done = 0; done < data.size();) {
        const ssize_t n = write(fd, data.data() + done, std::min(chunk, data.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
        progress.advance(uint64_t(n));
    }
    return true;
}

}  // namespace

struct TargetFolder::Held {
    UniqueFd folder;
};

TargetFolder::TargetFolder(const fs::path& path) : held_(std::make_unique<Held>()) {
    std::error_code ignored;
    fs::create_directories(path, ignored);
    held_->folder = UniqueFd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (held_->folder.get() < 0) throw PackError(path.string() + ": not a folder and cannot be created");
}

TargetFolder::~TargetFolder() = default;

void TargetFolder::write_file(const std::vector<std::string>& parts, std::span<const uint8_t> data,
                              const std::string& shown, ProgressBar& progress) {
    // Each folder is held until the file is written, so that the file goes
    // into the folder that was checked, whatever is renamed meanwhile.
    std::vector<UniqueFd> way;
    int folder = held_->folder.get();
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        way.push_back(open_folder(folder, parts[i], shown));
        folder = way.back().get();
    }

    const char* name = parts.back().c_str();
    struct stat st;
    if (fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(st.st_mode)) throw PackError(shown + ": a folder of that name is in the way");
        // A link goes itself; a file goes by this name only, so that its
        // other names keep their contents.
        if (unlinkat(folder, name, 0) != 0 && errno != ENOENT)
            throw PackError(shown + ": cannot replace the file there: " + reason(errno));
    }
    UniqueFd file(openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (file.get() < 0) {
        const int error = errno;
        throw PackError(shown + ": cannot be created: " +
                        (error == EEXIST ? std::string("something else was put in its place") : reason(error)));
    }
    if (!write_all(file.get(), data, progress) || close(file.release()) != 0) {
        // A file cut short would pass for the entry; only whole files stay.
        unlinkat(folder, name, 0);
        throw PackError(shown + ": cannot be written (is the disk full?)");
    }
}

}  // namespace lumo
