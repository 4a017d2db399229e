// POSIX: a file of lumopack's installation is walked to from the root, a
// folder at a time, never through a link, and each folder on the way must
// be one that only root or the user running lumopack could have changed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/held_folder.h"
#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/system/system.h"

namespace lumo {
namespace fs = std::filesystem;
namespace {

bool trusted_owner(const struct stat& st) { return st.st_uid == 0 || st.st_uid == geteuid(); }

// Others may replace what `st`'s folder holds: it is writable by a group or
// by all, and without the sticky bit, which keeps others from replacing or
// removing the entries they do not own.
bool open_to_others(const struct stat& st) {
    if (S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) return false;
    return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

}  // namespace

HeldFile open_installed_file(const fs::path& path, std::string& refusal) {
    refusal.clear();
    if (!path.is_absolute()) {
        refusal = "not an absolute path";
        return {};
    }
    UniqueFd folder(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    fs::path walked = "/";
    const auto judge = [&](int fd, const fs::path& at) {
        struct stat st;
        if (fstat(fd, &st) != 0) refusal = shown(at) + " cannot be examined";
        else if (!trusted_owner(st)) refusal = shown(at) + " belongs to another user";
        else if (open_to_others(st)) refusal = shown(at) + " may be changed by other users";
        return refusal.empty();
    };
    if (!folder || !judge(folder.get(), walked)) return {};
    const fs::path relative = path.lexically_normal().relative_path();
    for (auto part = relative.begin(); part != relative.end(); ++part) {
        if (part->empty() || *part == ".") continue;
        if (*part == "..") {
            refusal = shown(path) + " leads above the root";
            return {};
        }
        const bool last = std::next(part) == relative.end();
        walked /= *part;
        const int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | (last ? O_NONBLOCK | O_NOCTTY : O_DIRECTORY);
        UniqueFd next(openat(folder.get(), part->c_str(), flags));
        if (!next) {
            if (errno != ENOENT) refusal = shown(walked) + (errno == ELOOP ? " is a link" : " cannot be opened");
            return {};
        }
        if (!judge(next.get(), walked)) return {};
        if (last) {
            struct stat st;
            if (fstat(next.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
                refusal = shown(walked) + " is not a regular file";
                return {};
            }
            return HeldFile(intptr_t(next.release()));
        }
        folder = std::move(next);
    }
    return {};
}

}  // namespace lumo
