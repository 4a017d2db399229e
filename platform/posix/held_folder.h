// The staging folder as the check left it: an open descriptor of the folder
// that was verified, and the path text the core names it by. Paths below it
// are walked from the descriptor a component at a time, never through a
// link, so nothing done after the check depends on a path that someone else
// could change.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

namespace lumo {

// A file descriptor that closes itself.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release();

private:
    int fd_;
};

// The same folder as `folder`, opened anew: a descriptor with a read
// position of its own (a duplicate would share it, so that reading one to
// its end would leave nothing for the other).
UniqueFd reopen_folder(int folder);

// Whether users other than the effective one may add, remove or rename
// entries in the folder `st` describes: it is writable by others, or by a
// group that is not the user's private group. The user's group (the
// effective one) is private when the group database lists it with no
// member but the user and no other account of the user database has it as
// its primary group; a group shared with anyone, or one the databases do
// not know, is open to others.
bool others_may_write(const struct stat& st);

// The same for the folder `folder` (any descriptor of it, O_PATH too) that
// `st` describes, its access ACL included: a folder whose ACL lets another
// user or a group other than the user's private one write is open to
// others like any other such folder. An ACL that cannot be read or
// understood counts as open.
bool others_may_write(int folder, const struct stat& st);

// A file without any write permission plays the part of a file with the
// read-only attribute: it is neither replaced nor deleted, whoever runs the
// installer (root included), just as the Windows calls refuse such a file.
inline bool is_read_only_file(const struct stat& st) { return S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0; }

// What the walk asks of each folder it enters below the staging folder.
enum class Walk {
    any,   // only that it is a real folder (the clean-up: it deletes, never follows)
    ours,  // also that it belongs to the user and is closed to others (the writer and reader)
};

class HeldFolder {
public:
    // The staging folder `path` was checked: `fd` is the folder when it may
    // be used, -1 when not (every call below it then fails).
    void set(const std::string& path, UniqueFd fd);
    int fd() const { return fd_.get(); }
    bool is_staging_folder(const std::string& path) const;
    // `path` is the staging folder or lies below it.
    bool holds(std::string_view path) const {
        std::string_view rest;
        return below(path, rest);
    }
    // The part of `path` below the staging folder, without separators around
    // it ("" for the folder itself); false for a path outside it.
    bool below(std::string_view path, std::string_view& rest) const;

    // The folder `path` names, opened for reading, never a link in its place.
    UniqueFd open_folder(const std::string& path, Walk walk) const;
    // The folder that holds the last component of `path`, and that
    // component (`name`); -1 when there is none to be had. The descriptor
    // stays the held folder's, valid until the next call.
    int locate(const std::string& path, Walk walk, std::string& name);
    // Before a folder is removed: the one walked to last may be it.
    void forget_walk() {
        walked_ = UniqueFd();
        walked_rest_.clear();
    }

private:
    // Opens the components of `rest` one by one from the staging folder.
    UniqueFd walk_from_staging(std::string_view rest, Walk walk) const;

    std::string path_;  // without the trailing separator; "" when nothing was checked
    UniqueFd fd_;
    // The folder walked to last below the staging folder, and what it was
    // verified for: the files of one folder come one after another, to be
    // deleted or written, and each is then one call rather than a walk.
    UniqueFd walked_;
    std::string walked_rest_;
    Walk walked_for_ = Walk::any;
    UniqueFd outside_;  // the folder of the last path outside the staging folder
};

}  // namespace lumo
