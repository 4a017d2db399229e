// POSIX: the add-on's folder as a descriptor, each folder below it opened
// from the one above with O_NOFOLLOW | O_DIRECTORY, each file opened with
// O_NOFOLLOW as it is listed and compared with what the listing said of it
// (fstatat without following): someone who can write to the folder and
// swaps a file for a link to one of the vendor's files after it was listed
// gets the build refused, never the vendor's file packed.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

// Every file stays open until the installer is written: as many as the
// system lets a program hold.
void hold_as_many_files_as_allowed() {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
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

[[noreturn]] void too_many_files(const std::vector<std::string>& parts) {
    struct rlimit limit = {};
    getrlimit(RLIMIT_NOFILE, &limit);
    throw PackError(joined(parts) + ": cannot be held open: the folder has more files than the " +
                    std::to_string(limit.rlim_cur) + " this system lets one program hold open at once");
}

bool same(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

void walk(int folder, std::vector<std::string>& parts, std::span<const FileIdentity> skip,
          std::vector<SourceEntry>& entries) {
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
                walk(below.get(), parts, skip, entries);
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
                const FileIdentity identity{uint64_t(opened.st_dev), uint64_t(opened.st_ino)};
                if (std::find(skip.begin(), skip.end(), identity) != skip.end()) {
                    parts.pop_back();
                    continue;
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
    UniqueFd top(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!top) throw PackError(shown(folder) + ": not a folder");
    hold_as_many_files_as_allowed();
    std::vector<SourceEntry> entries;
    std::vector<std::string> parts;
    walk(top.get(), parts, skip, entries);
    return entries;
}

}  // namespace lumo
