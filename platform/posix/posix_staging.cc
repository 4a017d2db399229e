// The check of the staging folder on POSIX. The folder is made here, closed
// to others, or the one that is there is verified; either way it is then
// held open (held_folder.h), and every later call below it works from that
// descriptor rather than from its path.
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/posix/posix_platform.h"

namespace lumo {
namespace {

constexpr int folder_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// How often the folder is made or opened again when it vanishes in between
// (someone else keeps removing and making it) before the run gives up.
constexpr int attempts = 64;

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Whether only the user and root can change the way to `folder`: it and
// every folder above it belong to one of them, and are closed to others or
// sticky (like /tmp, where only an entry's owner may rename or remove it).
// Otherwise someone else could move the staging folder away and put one of
// theirs in its place, and the setup program, started by its path, would
// come from there.
bool way_is_safe(int folder) {
    UniqueFd current(fcntl(folder, F_DUPFD_CLOEXEC, 0));
    for (int depth = 0; current && depth < 4096; ++depth) {
        struct stat st, parent_st;
        if (fstat(current.get(), &st) != 0) return false;
        if (st.st_uid != 0 && st.st_uid != geteuid()) return false;
        if (!(st.st_mode & S_ISVTX) && others_may_write(current.get(), st)) return false;
        UniqueFd parent(openat(current.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!parent || fstat(parent.get(), &parent_st) != 0) return false;
        if (same_file(st, parent_st)) return true;  // the root folder
        current = std::move(parent);
    }
    return false;
}

// "<name>.old-" and twelve hexadecimal digits nobody can guess.
std::string aside_name(const std::string& name) {
    unsigned char bytes[6];
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != ssize_t(sizeof bytes)) {
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        unsigned long long mixed = (unsigned long long)(now.tv_nsec) * 0x9E3779B97F4A7C15ull ^ (unsigned long long)getpid();
        for (auto& byte : bytes) byte = (unsigned char)(mixed >>= 8);
    }
    std::string text = name + ".old-";
    for (unsigned char byte : bytes) {
        text += "0123456789abcdef"[byte >> 4];
        text += "0123456789abcdef"[byte & 15];
    }
    return text;
}

// Removes what it can below `folder`, never through a link and never a
// read-only file. What stays, stays.
void remove_contents(int folder, int depth) {
    if (depth > 64) return;
    UniqueFd copy = reopen_folder(folder);
    DIR* dir = copy ? fdopendir(copy.get()) : nullptr;
    if (!dir) return;
    copy.release();
    while (struct dirent* d = readdir(dir)) {
        const std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            UniqueFd inner(openat(folder, name.c_str(), folder_flags));
            if (inner) remove_contents(inner.get(), depth + 1);
            unlinkat(folder, name.c_str(), AT_REMOVEDIR);
        } else if (!is_read_only_file(st)) {
            unlinkat(folder, name.c_str(), 0);
        }
    }
    closedir(dir);
}

// Whether someone else has had a hand in `folder`: an entry directly in it
// belongs to another user, or is a folder others may write to. Others can
// keep changing such a folder through a descriptor or current folder held
// inside it, whatever happens to the modes above it; deeper than this
// they could only have come below such an entry.
bool holds_entries_of_others(int folder) {
    UniqueFd copy = reopen_folder(folder);
    DIR* dir = copy ? fdopendir(copy.get()) : nullptr;
    if (!dir) return true;
    copy.release();
    bool found = false;
    while (struct dirent* d = readdir(dir)) {
        struct stat st;
        if (fstatat(folder, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        const std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        if (st.st_uid != geteuid()) found = true;
        // Its ACL is read only where the mode leaves room for one that lets others write.
        if (S_ISDIR(st.st_mode) && !found && (st.st_mode & (S_IWGRP | S_IWOTH))) {
            UniqueFd inner(openat(folder, d->d_name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            found = !inner || others_may_write(inner.get(), st);
        }
    }
    closedir(dir);
    return found;
}

// Moves the folder `name` of `parent`, held as `folder`, out of the way
// under a fresh name, and removes what it can of it.
bool move_aside(int parent, const std::string& name, int folder) {
    struct stat held;
    if (fstat(folder, &held) != 0) return false;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string aside = aside_name(name);
        int moved = renameat2(parent, name.c_str(), parent, aside.c_str(), RENAME_NOREPLACE);
        if (moved != 0 && errno == EINVAL) moved = renameat(parent, name.c_str(), parent, aside.c_str());
        if (moved != 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        // Only the user could have put something else under the name since
        // it was opened (the way to it is safe); make sure all the same.
        struct stat st;
        if (fstatat(parent, aside.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !same_file(st, held)) return false;
        remove_contents(folder, 0);
        unlinkat(parent, aside.c_str(), AT_REMOVEDIR);
        return true;
    }
    return false;
}

}  // namespace

StagingCheck PosixPlatform::prepare_staging_folder(const std::string& folder) {
    // Until it is verified, nothing below the staging folder may be touched.
    staging_.set(folder, UniqueFd());

    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const size_t cut = path.rfind('/');
    if (cut == std::string::npos || cut + 1 == path.size()) return StagingCheck::unavailable;
    const std::string name = path.substr(cut + 1);
    UniqueFd parent(open(cut == 0 ? "/" : path.substr(0, cut).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent) return StagingCheck::unavailable;  // no temporary folder: the writer reports the first file
    if (!way_is_safe(parent.get())) return StagingCheck::unsafe;

    for (int attempt = 0; attempt < attempts; ++attempt) {
        // Made here, private to the user, so that nobody else can place links
        // or files in it before or while it is used.
        if (mkdirat(parent.get(), name.c_str(), 0700) != 0 && errno != EEXIST) return StagingCheck::unavailable;
        UniqueFd opened(openat(parent.get(), name.c_str(), folder_flags));
        struct stat st;
        if (!opened) {
            if (errno == ENOENT || fstatat(parent.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;  // gone since it was made or found: once more
            // A file of the user's in the way gives a copy error, as it did
            // when the folder was made with the first file; a link, or
            // anything of someone else's, is never used.
            if (S_ISREG(st.st_mode) && st.st_uid == geteuid()) return StagingCheck::unavailable;
            return StagingCheck::unsafe;
        }
        if (fstat(opened.get(), &st) != 0 || st.st_uid != geteuid()) return StagingCheck::unsafe;
        if (others_may_write(opened.get(), st) || holds_entries_of_others(opened.get())) {
            // Others may have put folders of theirs in it, which they can
            // still change whatever its mode becomes: it is never used again.
            if (!move_aside(parent.get(), name, opened.get())) return StagingCheck::unsafe;
            continue;
        }
        // Readable by others, as made by the usual mode: closed, then used.
        if ((st.st_mode & 077) && fchmod(opened.get(), 0700) != 0) return StagingCheck::unsafe;
        // A default ACL taken from the temporary folder would hand its named
        // entries on to all that is made below, and where there is one the
        // umask does not apply: a file made 0666 would let them write it.
        // The folder's own mode (0700) keeps them from reaching it; without
        // the default ACL the entries are not there at all, whatever modes
        // the setup program gives later. Where it cannot go (a read-only
        // disk: nothing is made there), the folder's mode still holds.
        fremovexattr(opened.get(), "system.posix_acl_default");
        staging_.set(folder, std::move(opened));
        return StagingCheck::ready;
    }
    return StagingCheck::unsafe;
}

}  // namespace lumo
