#include "platform/posix/held_folder.h"

#include <fcntl.h>
#include <unistd.h>

namespace lumo {
namespace {

constexpr int folder_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string without_trailing_separators(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
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
    return (st.st_mode & S_IWOTH) || ((st.st_mode & S_IWGRP) && st.st_gid != getegid());
}

void HeldFolder::set(const std::string& path, UniqueFd fd) {
    path_ = without_trailing_separators(path);
    fd_ = std::move(fd);
}

bool HeldFolder::is_staging_folder(const std::string& path) const {
    return !path_.empty() && without_trailing_separators(path) == path_;
}

bool HeldFolder::below(const std::string& path, std::string& rest) const {
    if (path_.empty() || path.compare(0, path_.size(), path_) != 0) return false;
    if (path.size() > path_.size() && path[path_.size()] != '/') return false;  // "/tmp/Lumo.40x"
    size_t start = path_.size();
    size_t end = path.size();
    while (start < end && path[start] == '/') ++start;
    while (end > start && path[end - 1] == '/') --end;
    rest = path.substr(start, end - start);
    return true;
}

UniqueFd HeldFolder::walk_from_staging(const std::string& rest, Walk walk) const {
    if (!fd_) return UniqueFd();
    UniqueFd folder = reopen_folder(fd_.get());
    size_t start = 0;
    while (folder && start < rest.size()) {
        size_t end = rest.find('/', start);
        if (end == std::string::npos) end = rest.size();
        const std::string component = rest.substr(start, end - start);
        start = end + 1;
        if (component.empty()) continue;
        if (component == "." || component == "..") return UniqueFd();
        folder = UniqueFd(openat(folder.get(), component.c_str(), folder_flags));
        struct stat st;
        if (folder && walk == Walk::ours &&
            (fstat(folder.get(), &st) != 0 || st.st_uid != geteuid() || others_may_write(st)))
            return UniqueFd();
    }
    return folder;
}

UniqueFd HeldFolder::open_folder(const std::string& path, Walk walk) const {
    std::string rest;
    if (below(path, rest)) return walk_from_staging(rest, walk);
    return UniqueFd(open(path.c_str(), folder_flags));
}

bool HeldFolder::locate(const std::string& path, Walk walk, UniqueFd& folder, std::string& name) const {
    std::string rest;
    if (below(path, rest)) {
        const size_t cut = rest.rfind('/');
        name = cut == std::string::npos ? rest : rest.substr(cut + 1);
        if (name.empty() || name == "." || name == "..") return false;  // the staging folder itself
        folder = walk_from_staging(cut == std::string::npos ? "" : rest.substr(0, cut), walk);
        return bool(folder);
    }
    const std::string trimmed = without_trailing_separators(path);
    const size_t cut = trimmed.rfind('/');
    name = cut == std::string::npos ? trimmed : trimmed.substr(cut + 1);
    if (name.empty() || name == "." || name == "..") return false;
    const std::string parent = cut == std::string::npos ? "." : cut == 0 ? "/" : trimmed.substr(0, cut);
    folder = UniqueFd(open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return bool(folder);
}

}  // namespace lumo
