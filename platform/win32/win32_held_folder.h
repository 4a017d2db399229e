// The staging folder as the check left it, on Windows: a handle of the
// folder that was verified, opened without FILE_SHARE_DELETE so that it can
// be neither renamed nor removed while the installer runs, and the path text
// the core names it by. Paths below it are opened relative to that handle,
// a component at a time, never through a junction or link (NtCreateFile with
// a root folder and FILE_OPEN_REPARSE_POINT).
#pragma once

#include <windows.h>
#include <winternl.h>

#include <string>

#include "platform/win32/win32_folder_security.h"

// Lists a folder: ntdll has it, winternl.h does not declare it.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PVOID apc_routine, PVOID apc_context,
                                               PIO_STATUS_BLOCK io, PVOID buffer, ULONG length,
                                               FILE_INFORMATION_CLASS information_class, BOOLEAN single_entry,
                                               PUNICODE_STRING file_name, BOOLEAN restart_scan);

namespace lumo {

// A handle that closes itself; null for none.
class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE handle = nullptr) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept;
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ~ScopedHandle();

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    HANDLE release();

private:
    HANDLE handle_;
};

// Opens `name`, one component (or "" for `folder` itself, anew), in
// `folder` with NtCreateFile; `options` are its create options, to which
// FILE_OPEN_REPARSE_POINT and synchronous access are added. Null on failure,
// with the NT status in `status` when asked.
ScopedHandle open_in(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                     ULONG options, long* status = nullptr);

// Whether `entry`, opened in `folder` as `name`, is that folder's own entry
// by the name the system gives it. Wine opens what a host link leads to even
// when asked not to follow it, and shows a link to a file as a plain file, in
// the listing and on the handle alike, with the target's file ID; but it
// names the handle by the target's path.
bool is_named_in(HANDLE folder, const std::wstring& name, HANDLE entry);

// Whether `entry`, opened in `folder` as `name`, is a junction, a link or
// another reparse point (Windows opens the link itself), or what one leads
// to (Wine): it is not the folder's own entry by its name.
bool is_link(HANDLE folder, const std::wstring& name, HANDLE entry);

// Removes the entry `name` of `folder` (a file, or an empty folder when
// `folder_entry`), or the link in its place; never what a link leads to.
bool remove_entry(HANDLE folder, const std::wstring& name, bool folder_entry);

// Removes what it can below `folder`, never through a link. What stays, stays.
void remove_contents(HANDLE folder, int depth = 0);

// What the walk asks of each folder it enters below the staging folder.
enum class Walk {
    any,   // only that it is a real folder, not a link (the clean-up: it deletes, never follows)
    ours,  // also that it is the user's and closed to others (the writer and the setup script)
};

class HeldFolder {
public:
    // The staging folder `text` was checked: `folder` is it when it may be
    // used, null when not (every call below it then fails).
    void set(const std::string& text, ScopedHandle folder, const TokenSids& sids);
    HANDLE handle() const { return folder_.get(); }
    // `path` is the staging folder or lies below it, named by the text it
    // was checked as or by its full path (the `\temp\` fallback is
    // relative to the drive; the clean-up names what it finds by full paths).
    bool holds(const std::string& path) const;
    // The path the system gives the held folder, without a link on the way
    // (in its short form where the long one does not fit the code page);
    // "" when there is none.
    std::wstring final_path() const;
    // The part of `path` below the staging folder ("" for the folder itself);
    // false for a path outside it.
    bool below(const std::string& path, std::string& rest) const;

    // The folder `path` names, opened anew to be listed.
    ScopedHandle open_folder(const std::string& path, Walk walk);
    // The folder that holds the last component of `path`, and that
    // component's name; null when there is none to be had. The handle stays
    // the held folder's, valid until the next call.
    HANDLE locate(const std::string& path, Walk walk, std::wstring& name);
    // Before a folder is removed: the handle kept of the folder walked to
    // last would hold it, half removed, until it is closed.
    void forget_walks() { walked_ = ScopedHandle(), walked_rest_.clear(); }

private:
    ScopedHandle walk(const std::string& rest, Walk walk);

    std::string text_;  // without the trailing separator; "" when nothing was checked
    std::string full_text_;  // text_ made absolute
    ScopedHandle folder_;
    TokenSids sids_;
    // The folder walked to last, and what it was verified for: the files of
    // one folder come one after another, to be deleted or written, and each
    // is then one open, not a walk.
    std::string walked_rest_;
    ScopedHandle walked_;
    Walk walked_for_ = Walk::any;
};

}  // namespace lumo
