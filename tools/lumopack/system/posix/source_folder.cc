// POSIX: the add-on's folder as a descriptor, each folder below it opened
// from the one above with O_NOFOLLOW | O_DIRECTORY, each file opened with
// O_NOFOLLOW as it is listed and compared with what the listing said of it
// (fstatat without following): someone who can write to the folder and
// swaps a file for a link to one of the vendor's files after it was listed
// gets the build refused, never the vendor's file packed.
//
// Files stay open while the program may hold more; past that (a sample
// library of tens of thousands of files against a limit of 20,000), a file
// is closed once checked, and each read opens it anew the same way from the
// held top folder down, every folder and the file found to be the ones
// listed, or the read fails and so does the build. Device and inode alone do
// not tell a file: one made after the listed one was removed may get its
// inode (ext4 hands a freed one out again at once). So the file found anew
// must also keep its birth time (where the file system keeps one), its
// change time, which nobody can set, its size and its modification time.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/posix/held_folder.h"
#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/system/system.h"
#include "tools/lumopack/terminal_text.h"

namespace lumo {
namespace fs = std::filesystem;
namespace {

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const auto& part : parts) text += (text.empty() ? "" : "/") + part;
    return escape_controls(text);
}

// Files stay open until the installer is written: as many as the system
// lets a program hold. Returns how many that is.
rlim_t hold_as_many_files_as_allowed() {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    if (limit.rlim_cur != limit.rlim_max) {
        const rlim_t before = limit.rlim_cur;
        limit.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0) limit.rlim_cur = before;
    }
    return limit.rlim_cur;
}

// The names in `folder`, read through a descriptor of its own.
std::vector<std::string> names_in(int folder, const std::string& shown) {
    UniqueFd listing = reopen_folder(folder);
    DIR* dir = listing ? fdopendir(listing.get()) : nullptr;
    if (!dir) throw PackError(shown + ": cannot be listed: " + std::strerror(errno));
    listing.release();
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
        errno = 0;
    }
    const int error = errno;
    closedir(dir);
    if (error != 0) throw PackError(shown + ": cannot be listed: " + std::strerror(error));
    std::sort(names.begin(), names.end());
    return names;
}

// Descriptors kept free for what the build opens after the listing: the
// stub, the installer being written, a file read anew.
constexpr rlim_t descriptors_kept_free = 256;

FileIdentity identity_of(const struct stat& st) { return {uint64_t(st.st_dev), uint64_t(st.st_ino)}; }

// What a file found anew must still show to be the one listed.
struct FileStamp {
    FileIdentity identity;
    uint64_t size = 0;
    struct timespec change = {}, modification = {};
    bool has_birth = false;
    struct statx_timestamp birth = {};
};

bool same_time(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

FileStamp stamp_of(int fd, const struct stat& st) {
    FileStamp stamp{identity_of(st), uint64_t(st.st_size), st.st_ctim, st.st_mtim};
    struct statx extra;
    if (statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &extra) == 0 && (extra.stx_mask & STATX_BTIME)) {
        stamp.has_birth = true;
        stamp.birth = extra.stx_btime;
    }
    return stamp;
}

bool same_file(const FileStamp& a, const FileStamp& b) {
    return a.identity == b.identity && a.size == b.size && same_time(a.change, b.change) &&
           same_time(a.modification, b.modification) && a.has_birth == b.has_birth &&
           (!a.has_birth || (a.birth.tv_sec == b.birth.tv_sec && a.birth.tv_nsec == b.birth.tv_nsec));
}

// A listed file's way from the top folder: each folder's name and identity,
// then the file's name and stamp.
struct ListedPath {
    std::shared_ptr<const UniqueFd> top;
    std::vector<std::string> parts;
    std::vector<FileIdentity> identities;  // of the folders
    FileStamp file;
};

// The listed file opened anew, or -1 when a part on its way is not the one
// listed any more (gone, a link now, another folder or file).
intptr_t reopen_listed(const ListedPath& path) {
    int folder = path.top->get();
    UniqueFd below;
    for (size_t i = 0; i < path.parts.size(); ++i) {
        const bool file = i + 1 == path.parts.size();
        UniqueFd next(openat(folder, path.parts[i].c_str(),
                             file ? O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC
                                  : O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat opened;
        if (!next || fstat(next.get(), &opened) != 0) return -1;
        if (file ? !S_ISREG(opened.st_mode) || !same_file(stamp_of(next.get(), opened), path.file)
                 : !(identity_of(opened) == path.identities[i])) {
            errno = ESTALE;  // another file or folder in its place
            return -1;
        }
        below = std::move(next);
        folder = below.get();
    }
    return below.release();
}

struct Listing {
    std::shared_ptr<const UniqueFd> top;
    std::vector<std::string> parts;        // from the top folder down to the entry listed now
    std::vector<FileIdentity> identities;  // of the folders among them
    int held_below = 0;                    // descriptors below this number are files held
};

[[noreturn]] void too_many_files(const std::vector<std::string>& parts) {
    struct rlimit limit = {};
    getrlimit(RLIMIT_NOFILE, &limit);
    throw PackError(joined(parts) + ": cannot be held open: the folder has more files than the " +
                    std::to_string(limit.rlim_cur) + " this system lets one program hold open at once");
}

bool same(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

void walk(int folder, Listing& listing, std::span<const FileIdentity> skip, std::vector<SourceEntry>& entries) {
    std::vector<std::string>& parts = listing.parts;
    for (const std::string& name : names_in(folder, parts.empty() ? std::string(".") : joined(parts))) {
        parts.push_back(name);
        SourceEntry entry{parts, SourceEntry::Kind::changed, 0, nullptr};
        struct stat listed;
        if (fstatat(folder, name.c_str(), &listed, AT_SYMLINK_NOFOLLOW) != 0) {
            // Gone since the folder was listed.
        } else if (S_ISLNK(listed.st_mode)) {
            entry.kind = SourceEntry::Kind::link;
        } else if (S_ISDIR(listed.st_mode)) {
            UniqueFd below(openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            struct stat opened;
            if (!below && errno == EMFILE) too_many_files(parts);
            if (below && fstat(below.get(), &opened) == 0 && same(opened, listed)) {
                listing.identities.push_back(identity_of(opened));
                walk(below.get(), listing, skip, entries);
                listing.identities.pop_back();
                parts.pop_back();
                continue;
            }
        } else if (S_ISREG(listed.st_mode)) {
            // O_NONBLOCK: a pipe swapped in after the listing must not hang
            // the build; it is told from the file by its identity.
            const int fd = openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            if (fd < 0 && errno == EMFILE) too_many_files(parts);
            auto file = std::make_shared<HeldFile>(intptr_t(fd));
            struct stat opened;
            if (fd >= 0 && fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && same(opened, listed) &&
                opened.st_size == listed.st_size) {
                const FileIdentity identity = identity_of(opened);
                if (std::find(skip.begin(), skip.end(), identity) != skip.end()) {
                    parts.pop_back();
                    continue;
                }
                if (fd >= listing.held_below) {
                    ListedPath path{listing.top, parts, listing.identities, stamp_of(fd, opened)};
                    file = std::make_shared<HeldFile>([path = std::move(path)] { return reopen_listed(path); });
                }
                entry.kind = SourceEntry::Kind::file;
                entry.size = uint64_t(opened.st_size);
                entry.file = std::move(file);
            }
        } else {
            entry.kind = SourceEntry::Kind::special;
        }
        entries.push_back(std::move(entry));
        parts.pop_back();
    }
}

}  // namespace

std::vector<SourceEntry> list_source_folder(const fs::path& folder, std::span<const FileIdentity> skip) {
    auto top = std::make_shared<UniqueFd>(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!*top) throw PackError(shown(folder) + ": not a folder");
    Listing listing{top, {}, {}, 0};
    const rlim_t limit = hold_as_many_files_as_allowed();
    if (limit > descriptors_kept_free)
        listing.held_below = int(std::min<rlim_t>(limit - descriptors_kept_free, rlim_t(INT32_MAX)));
    std::vector<SourceEntry> entries;
    walk(top->get(), listing, skip, entries);
    return entries;
}

}  // namespace lumo
