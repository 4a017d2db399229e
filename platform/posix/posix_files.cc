// Files and folders on POSIX: the clean-up's search, the file writer's files,
// the setup script and the installer's own executable. Below the staging
// folder every call goes through the folder that the check holds.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "payload/code_page.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/wine_prefix.h"

namespace lumo {
namespace {

class PosixFolderSearch final : public FolderSearch {
public:
    explicit PosixFolderSearch(DIR* dir) : dir_(dir) {}
    ~PosixFolderSearch() override { closedir(dir_); }

    bool next(FoundEntry& entry) override {
        while (struct dirent* d = readdir(dir_)) {
            entry.name = d->d_name;
            entry.is_directory = false;
            entry.is_link = false;
            // Never followed: a link is reported as what it is, and what it
            // points to is never looked at.
            struct stat st;
            if (fstatat(dirfd(dir_), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                // Gone since readdir, or unreadable: report it as a file, the
                // deletion then fails or finds nothing to do.
                if (d->d_type == DT_DIR) entry.is_directory = true;
                if (d->d_type == DT_LNK) entry.is_link = true;
                return true;
            }
            entry.is_link = S_ISLNK(st.st_mode);
            entry.is_directory = S_ISDIR(st.st_mode);
            return true;
        }
        return false;
    }

private:
    DIR* dir_;
};

}  // namespace

// A file written under a name of its own in the staging folder, renamed
// into its place when finished; the staging folder is closed to others, so
// the name need not be hidden, only new.
class PosixOutputFile final : public OutputFile {
public:
    PosixOutputFile(HeldFolder& staging, UniqueFd folder, int fd, std::string temporary, std::string path)
        : staging_(staging), folder_(std::move(folder)), fd_(fd), temporary_(std::move(temporary)),
          path_(std::move(path)) {}
    ~PosixOutputFile() override {
        close(fd_);
        if (!finished_) unlinkat(folder_.get(), temporary_.c_str(), 0);
    }

    bool write(const uint8_t* data, uint32_t size, uint32_t& written) override {
        written = 0;
        while (written < size) {
            ssize_t n = ::write(fd_, data + written, size - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            written += uint32_t(n);
        }
        return true;
    }

    bool finish() override {
        std::string name;
        const int folder = staging_.locate(path_, Walk::ours, name);
        if (folder < 0) return false;
        // A link is replaced by nothing, nor a folder or a read-only file;
        // a file there is replaced whole, so that another (hard) link to it
        // never changes.
        struct stat st;
        if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            (S_ISLNK(st.st_mode) || S_ISDIR(st.st_mode) || is_read_only_file(st)))
            return false;
        finished_ = renameat(folder_.get(), temporary_.c_str(), folder, name.c_str()) == 0;
        return finished_;
    }

private:
    HeldFolder& staging_;
    UniqueFd folder_;  // where the file was made: the staging folder
    int fd_;
    std::string temporary_;
    std::string path_;
    bool finished_ = false;
};

std::string PosixPlatform::native_entry_name(const std::string& entry_name) const {
    std::string name = cp1252_to_utf8(entry_name);
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

std::string PosixPlatform::temp_folder() {
    const char* tmpdir = std::getenv("TMPDIR");
    // Made absolute: the setup program is started by its full path from
    // inside the staging folder, where a relative path would lead elsewhere.
    std::string folder = full_path_name(tmpdir && *tmpdir ? tmpdir : "/tmp");
    if (folder.back() != '/') folder += '/';
    return folder;
}

bool PosixPlatform::create_directory(const std::string& path) {
    if (path.empty()) return false;
    if (!staging_.holds(path)) return mkdir(path.c_str(), 0777) == 0;  // the temporary folder
    // Below the staging folder: closed to others like the staging folder
    // itself, which the check made or found (it is never made here).
    std::string name;
    const int folder = staging_.locate(path, Walk::ours, name);
    return folder >= 0 && mkdirat(folder, name.c_str(), 0700) == 0;
}

uint64_t PosixPlatform::installer_size() {
    if (!image_opened_) {
        image_opened_ = true;
        image_ = UniqueFd(open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
        struct stat st;
        if (image_ && fstat(image_.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
            image_size_ = uint64_t(st.st_size);
            posix_fadvise(image_.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
        }
    }
    return image_size_;
}

// Read, not mapped: a file cut short while it is read ends the stream
// there, where a mapped page would end the process.
bool PosixPlatform::read_installer(uint64_t offset, uint8_t* destination, size_t size) {
    if (offset > installer_size() || size > image_size_ - offset) return false;
    while (size > 0) {
        const ssize_t n = pread(image_.get(), destination, size, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        destination += n;
        offset += uint64_t(n);
        size -= size_t(n);
    }
    return true;
}

std::unique_ptr<FolderSearch> PosixPlatform::find_first(const std::string& pattern, FoundEntry& first) {
    size_t cut = pattern.rfind('/');
    std::string folder = cut == std::string::npos ? "." : cut == 0 ? "/" : pattern.substr(0, cut);
    // The search opens the folder itself, never a link in its place.
    UniqueFd fd = staging_.open_folder(folder, Walk::any);
    if (!fd) return nullptr;
    DIR* dir = fdopendir(fd.get());
    if (!dir) return nullptr;
    fd.release();
    auto search = std::make_unique<PosixFolderSearch>(dir);
    if (!search->next(first)) return nullptr;
    return search;
}

std::string PosixPlatform::full_path_name(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char* cwd = getcwd(nullptr, 0);
    if (!cwd) return path;
    std::string full = cwd;
    std::free(cwd);
    if (full.back() != '/') full += '/';
    return full + path;
}

bool PosixPlatform::delete_file(const std::string& path) {
    std::string name;
    const int folder = staging_.locate(path, Walk::any, name);
    struct stat st;
    if (folder < 0 || fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode) ||
        is_read_only_file(st))
        return false;
    return unlinkat(folder, name.c_str(), 0) == 0;
}

bool PosixPlatform::remove_directory(const std::string& path) {
    staging_.forget_walk();
    std::string name;
    const int folder = staging_.locate(path, Walk::any, name);
    struct stat st;
    if (folder < 0 || fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    // A link in a folder's place goes as the link itself.
    return unlinkat(folder, name.c_str(), S_ISLNK(st.st_mode) ? 0 : AT_REMOVEDIR) == 0;
}

std::unique_ptr<OutputFile> PosixPlatform::create_file(const std::string& path, const TakenNames& taken) {
    // Made in the staging folder, so that no folder on the file's way is
    // made before the file is finished; a path outside it (the platform's
    // tests write there) beside its place.
    int place = staging_.fd();
    if (!staging_.holds(path)) {
        std::string name;
        place = staging_.locate(path, Walk::ours, name);
    }
    if (place < 0) return nullptr;
    UniqueFd folder(fcntl(place, F_DUPFD_CLOEXEC, 0));
    constexpr int create_new = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    // A name of its own, ".Lumo-<count>.partial" with the count in
    // hexadecimal: one that no entry of the payload takes, nor any file
    // there now. The names the entries take are passed over without a try.
    static uint32_t counter = 0;
    for (int tries = 0; folder && tries < 100;) {
        std::string temporary = std::string(temporary_name_prefix) + "00000000.partial";
        for (uint32_t value = ++counter, at = 13; value != 0; value >>= 4, --at)
            temporary[at] = "0123456789abcdef"[value & 15];
        if (taken && taken(temporary)) continue;
        ++tries;
        const int fd = openat(folder.get(), temporary.c_str(), create_new, 0666);
        if (fd >= 0) {
            posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
            return std::make_unique<PosixOutputFile>(staging_, std::move(folder), fd, std::move(temporary), path);
        }
        if (errno != EEXIST) return nullptr;
    }
    return nullptr;
}

bool PosixPlatform::path_exists(const std::string& path) {
    struct stat st;
    // The installed product's folder is a Windows path inside the Wine prefix.
    if (is_windows_drive_path(path)) return stat(wine_host_path(wine_prefix_folder(), path).c_str(), &st) == 0;
    return stat(path.c_str(), &st) == 0;
}

std::FILE* PosixPlatform::open_for_reading(const std::string& path) {
    std::string name;
    const int folder = staging_.locate(path, Walk::ours, name);
    if (folder < 0) return nullptr;
    int fd = openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "rb");
    if (!file) close(fd);
    return file;
}

}  // namespace lumo
