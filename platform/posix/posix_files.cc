// Files and folders on POSIX: the staging folder, the clean-up's search, the
// file writer's files and the installer's own executable.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
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

// A file without any write permission plays the part of a file with the
// read-only attribute: it is neither replaced nor deleted, whoever runs the
// installer (root included), just as the Windows calls refuse such a file.
bool is_read_only_file(const struct stat& st) { return S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0; }

std::string without_trailing_separators(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

class PosixFolderSearch final : public FolderSearch {
public:
    PosixFolderSearch(DIR* dir, std::string folder) : dir_(dir), folder_(std::move(folder)) {}
    ~PosixFolderSearch() override { closedir(dir_); }

    bool next(FoundEntry& entry) override {
        while (struct dirent* d = readdir(dir_)) {
            entry.name = d->d_name;
            entry.is_directory = false;
            entry.is_link = false;
            // lstat, never stat: a link is reported as what it is, and what
            // it points to is never looked at.
            struct stat st;
            if (lstat((folder_ + "/" + entry.name).c_str(), &st) != 0) {
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
    std::string folder_;
};

class PosixOutputFile final : public OutputFile {
public:
    explicit PosixOutputFile(int fd) : fd_(fd) {}
    ~PosixOutputFile() override { close(fd_); }

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

private:
    int fd_;
};

}  // namespace

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
    return !path.empty() && mkdir(path.c_str(), 0777) == 0;
}

StagingCheck PosixPlatform::prepare_staging_folder(const std::string& folder) {
    std::string path = without_trailing_separators(folder);
    // Created here, private to this user, so that nobody else can place
    // links or files in it between the clean-up and the writing.
    if (mkdir(path.c_str(), 0700) == 0) return StagingCheck::ready;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return StagingCheck::ready;  // the writer reports what fails
    if (S_ISLNK(st.st_mode) || st.st_uid != geteuid()) return StagingCheck::unsafe;
    if (!S_ISDIR(st.st_mode)) return StagingCheck::ready;  // a file in the way: a copy error follows
    if ((st.st_mode & 077) != 0) {
        // Ours, but open to others: close it before it is used. O_NOFOLLOW
        // and fstat make sure the folder changed is the folder checked.
        int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (fd < 0) return StagingCheck::unsafe;
        struct stat opened;
        bool same = fstat(fd, &opened) == 0 && opened.st_dev == st.st_dev && opened.st_ino == st.st_ino;
        bool closed = same && fchmod(fd, 0700) == 0;
        close(fd);
        if (!closed) return StagingCheck::unsafe;
    }
    return StagingCheck::ready;
}

std::span<const uint8_t> PosixPlatform::installer_image() {
    if (image_) return {image_, image_size_};
    int fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_size > 0) {
        void* mapped = mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapped != MAP_FAILED) {
            image_ = static_cast<const uint8_t*>(mapped);
            image_size_ = size_t(st.st_size);
        }
    }
    close(fd);
    return {image_, image_size_};
}

void PosixPlatform::release_image_pages(std::span<const uint8_t> bytes) {
    const uint8_t* begin = bytes.data();
    const uint8_t* end = begin + bytes.size();
    if (!image_ || begin < image_ || end > image_ + image_size_ || begin >= end) return;
    // Whole pages only, and only those inside the range: the executable is
    // mapped private and never written, so a dropped page is read back from
    // the file unchanged when it is touched again.
    const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    uintptr_t first = (uintptr_t(begin) + page - 1) & ~(page - 1);
    uintptr_t last = uintptr_t(end) & ~(page - 1);
    if (first < last) madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

std::unique_ptr<FolderSearch> PosixPlatform::find_first(const std::string& pattern, FoundEntry& first) {
    size_t cut = pattern.rfind('/');
    std::string folder = cut == std::string::npos ? "." : cut == 0 ? "/" : pattern.substr(0, cut);
    // The search opens the folder itself, never a link in its place.
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return nullptr;
    }
    auto search = std::make_unique<PosixFolderSearch>(dir, folder);
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
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode) || is_read_only_file(st)) return false;
    return unlink(path.c_str()) == 0;
}

bool PosixPlatform::remove_directory(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return false;
    // A link in a folder's place goes as the link itself.
    if (S_ISLNK(st.st_mode)) return unlink(path.c_str()) == 0;
    return rmdir(path.c_str()) == 0;
}

std::unique_ptr<OutputFile> PosixPlatform::create_file(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && is_read_only_file(st)) return nullptr;
    // O_NOFOLLOW: a link in the file's place is never written through.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::make_unique<PosixOutputFile>(fd);
}

bool PosixPlatform::path_exists(const std::string& path) {
    struct stat st;
    // The installed product's folder is a Windows path inside the Wine prefix.
    if (is_windows_drive_path(path)) return stat(wine_host_path(wine_prefix_folder(), path).c_str(), &st) == 0;
    return stat(path.c_str(), &st) == 0;
}

std::FILE* PosixPlatform::open_for_reading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }

}  // namespace lumo
