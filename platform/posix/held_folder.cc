#include "platform/posix/held_folder.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

namespace lumo {
namespace {

constexpr int folder_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Whether the effective group is the effective user's alone (held_folder.h
// gives the rule). Asked once, when a folder writable by it is first met.
bool own_group_is_private() {
    static const bool is_private = [] {
        const uid_t user = geteuid();
        const gid_t group = getegid();
        const struct passwd* account = getpwuid(user);
        if (!account) return false;
        const std::string name = account->pw_name;
        const struct group* entry = getgrgid(group);
        if (!entry) return false;
        for (char** member = entry->gr_mem; *member; ++member)
            if (name != *member) return false;
        bool shared = false;
        setpwent();
        while ((account = getpwent()))
            if (account->pw_gid == group && account->pw_uid != user) shared = true;
        endpwent();
        return !shared;
    }();
    return is_private;
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = other.release();
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) close(fd_);
}

int UniqueFd::release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

UniqueFd reopen_folder(int folder) { return UniqueFd(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)); }

bool others_may_write(const struct stat& st) {
    return (st.st_mode & S_IWOTH) || ((st.st_mode & S_IWGRP) && (st.st_gid != getegid() || !own_group_is_private()));
}

bool others_may_write(int folder, const struct stat& st) {
    if (others_may_write(st)) return true;
    // With an ACL the group bits of the mode are its mask, the most that a
    // named user or group may do: without write there, no entry may write.
    if (!(st.st_mode & S_IWGRP)) return false;
    // The access ACL as the kernel stores it: a version word (2), then
    // entries of a 16-bit tag, 16-bit permissions and a 32-bit id, all
    // little-endian. Read through the descriptor; an O_PATH one is read
    // through its name in /proc.
    uint8_t acl[4 + 8 * 64];
    constexpr char name[] = "system.posix_acl_access";
    ssize_t size = fgetxattr(folder, name, acl, sizeof acl);
    if (size < 0 && errno == EBADF) {
        char path[32];
        std::snprintf(path, sizeof path, "/proc/self/fd/%d", folder);
        size = getxattr(path, name, acl, sizeof acl);
    }
    if (size < 0) return errno != ENODATA && errno != ENOTSUP;  // no ACL: the mode says it all
    const auto word = [&](size_t at, int bytes) {
        uint32_t value = 0;
        for (int i = bytes - 1; i >= 0; --i) value = value << 8 | acl[at + size_t(i)];
        return value;
    };
    if (size < 4 || (size - 4) % 8 != 0 || word(0, 4) != 2) return true;
    constexpr uint32_t named_user = 0x02, named_group = 0x08, write = 0x02;
    for (size_t at = 4; at < size_t(size); at += 8) {
        const uint32_t tag = word(at, 2), permissions = word(at + 2, 2), id = word(at + 4, 4);
        if (!(permissions & write)) continue;
        if (tag == named_user && id != geteuid()) return true;
        if (tag == named_group && (id != getegid() || !own_group_is_private())) return true;
    }
    return false;
}

void HeldFolder::set(const std::string& path, UniqueFd fd) {
    path_ = path;
    while (path_.size() > 1 && path_.back() == '/') path_.pop_back();
    fd_ = std::move(fd);
    forget_walk();
}

bool HeldFolder::is_staging_folder(const std::string& path) const {
    std::string_view rest;
    return below(path, rest) && rest.empty();
}

bool HeldFolder::below(std::string_view path, std::string_view& rest) const {
    if (path_.empty() || path.substr(0, path_.size()) != path_) return false;
    rest = path.substr(path_.size());
    if (!rest.empty() && rest.front() != '/') return false;  // "/tmp/Lumo.40x"
    while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
    while (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    return true;
}

UniqueFd HeldFolder::walk_from_staging(std::string_view rest, Walk walk) const {
    if (!fd_) return UniqueFd();
    UniqueFd folder = reopen_folder(fd_.get());
    while (folder && !rest.empty()) {
        const size_t end = rest.find('/');
        const std::string component(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (component.empty()) continue;
        if (component == "." || component == "..") return UniqueFd();
        folder = UniqueFd(openat(folder.get(), component.c_str(), folder_flags));
        struct stat st;
        if (folder && walk == Walk::ours &&
            (fstat(folder.get(), &st) != 0 || st.st_uid != geteuid() || others_may_write(folder.get(), st)))
            return UniqueFd();
    }
    return folder;
}

UniqueFd HeldFolder::open_folder(const std::string& path, Walk walk) const {
    std::string_view rest;
    if (below(path, rest)) return walk_from_staging(rest, walk);
    return UniqueFd(open(path.c_str(), folder_flags));
}

int HeldFolder::locate(const std::string& path, Walk walk, std::string& name) {
    std::string_view rest;
    const bool in_staging = below(path, rest);
    if (!in_staging) {
        rest = path;
        while (rest.size() > 1 && rest.back() == '/') rest.remove_suffix(1);
    }
    const size_t cut = rest.rfind('/');
    name = rest.substr(cut == std::string_view::npos ? 0 : cut + 1);
    if (name.empty() || name == "." || name == "..") return -1;  // the staging folder itself, or no name
    const std::string_view parent = cut == std::string_view::npos ? std::string_view() : rest.substr(0, cut);
    if (!in_staging) {
        const std::string parent_path = cut == std::string_view::npos ? "." : cut == 0 ? "/" : std::string(parent);
        outside_ = UniqueFd(open(parent_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        return outside_.get();
    }
    if (!walked_ || parent != walked_rest_ || (walk == Walk::ours && walked_for_ != Walk::ours)) {
        walked_ = walk_from_staging(parent, walk);
        walked_rest_ = walked_ ? parent : std::string_view();
        walked_for_ = walk;
    }
    return walked_.get();
}

}  // namespace lumo
