// The one seam between the installer's core and the operating system.
//
// The core (launcher, extraction, payload, setup script, update check) never
// includes <windows.h> or POSIX headers: everything it asks of the system goes
// through this interface. The Win32 build answers with the real calls, the
// POSIX build maps them to files, processes and the terminal, and the fake in
// platform/fake/ records what was asked so that tests can check the order of
// effects.
//
// Texts are byte strings in the platform's own narrow encoding: the ANSI code
// page on Windows, UTF-8 on POSIX. Paths of the staging side use the
// platform's separator(); paths of the installed product are Windows paths
// (backslashes, drive letters) on every platform.
//
// Threads: the dialog calls (run_progress_dialog) run on the user-interface
// thread; set_progress, message_box, end_dialog, post_close and the file and
// product calls may come from the worker thread. The worker reads the
// installer's own file from a thread of its own that decodes beside it
// (read_installer); signals pass between the two.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumo {

// One entry of a folder search, as the clean-up sees it.
struct FoundEntry {
    std::string name;
    bool is_directory = false;  // carries the folder attribute (0x10)
    bool is_link = false;       // a symbolic link, junction or other reparse point
};

// An open folder search (FindFirstFileA / FindNextFileA / FindClose).
class FolderSearch {
public:
    virtual ~FolderSearch() = default;  // FindClose
    // The next entry; false at the end of the folder.
    virtual bool next(FoundEntry& entry) = 0;
};

// A file being written for a path below the staging folder. Until it is
// finished it lies in the staging folder under a name of its own, so that
// nothing appears under the path before all of it is there and checked;
// a file that is never finished is removed when destroyed.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    // WriteFile: false when the write failed; `written` holds the bytes that
    // went out either way.
    virtual bool write(const uint8_t* data, uint32_t size, uint32_t& written) = 0;
    // Gives the file its path. A file already there is replaced, never
    // written in place; a link, a folder or a read-only file in its place,
    // or a missing folder on the way, make it fail (the writer then makes
    // the folder and asks again).
    virtual bool finish() = 0;
};

// Every temporary name of a file being written begins with this (compared
// without regard to case, as Windows compares names).
inline constexpr std::string_view temporary_name_prefix = ".Lumo-";

// Whether a name in the staging folder itself is taken by the files being
// written; names are compared without regard to case.
using TakenNames = std::function<bool(std::string_view name)>;

// A thread that can be waited for; waited for when destroyed.
class JoinableThread {
public:
    virtual ~JoinableThread() = default;
};

// A signal that one thread gives and another waits for (an auto-reset
// event): given before the wait, the wait returns at once.
class Signal {
public:
    virtual ~Signal() = default;
    virtual void give() = 0;
    virtual void wait() = 0;
};

// What the update check needs of a file's version information.
struct VersionInfo {
    bool has_fixed_info = false;  // the "\" query answered
    uint32_t file_version_ms = 0;
    uint32_t file_version_ls = 0;
    bool has_product_name = false;  // "\StringFileInfo\040904B0\ProductName" answered
    std::string product_name;
};

// What the check of the staging folder found.
enum class StagingCheck {
    ready,        // a folder of ours, closed to others, created or verified and now held
    unsafe,       // a link, a folder or file of another user, or a way to it others can change
    unavailable,  // it could not be created (say, a read-only disk): every file call below it fails
};

class Platform {
public:
    virtual ~Platform() = default;

    // --- Paths -----------------------------------------------------------
    // The folder separator of staging paths: '\\' on Windows, '/' on POSIX.
    virtual char separator() const = 0;
    // An entry name of the payload (Windows-1252, backslashes between
    // folders) as a path text of this platform, relative to the staging
    // folder.
    virtual std::string native_entry_name(const std::string& entry_name) const = 0;

    // --- Start-up and hand-off ---------------------------------------------
    // GetTempPathA: the temporary folder, or "" when the system names none.
    virtual std::string temp_folder() = 0;
    // CreateDirectoryA: true when the folder was created.
    virtual bool create_directory(const std::string& path) = 0;
    // Creates the staging folder closed to others, or verifies the one that
    // is there, and holds it for the rest of the run. From then on the file
    // calls below (find_first, delete_file, remove_directory, create_file,
    // create_directory, open_for_reading, start_program) act on the folder
    // that was verified, whatever its path names later, and never through a
    // link inside it. Unless the answer is ready they all fail below it.
    virtual StagingCheck prepare_staging_folder(const std::string& folder) = 0;
    // The installer's own executable, opened for reading when first asked
    // and read a piece at a time, never mapped or copied whole: its size (0
    // when it cannot be read), and `size` bytes at `offset` (false unless
    // all of them could be read).
    virtual uint64_t installer_size() = 0;
    virtual bool read_installer(uint64_t offset, uint8_t* destination, size_t size) = 0;
    // CreateProcessA: starts `command_line` (the quoted program path) shown
    // normally with `current_folder` as its current directory, not waited for.
    // `program_path` is the same program unquoted; its name is matched as
    // Windows matches file names, without regard to case. False when the
    // program could not be started, with `failure` holding the system's own
    // words for why.
    virtual bool start_program(const std::string& command_line, const std::string& program_path,
                               const std::string& current_folder, std::string& failure) = 0;

    // --- Clean-up ------------------------------------------------------------
    // FindFirstFileA: null when the search cannot be started.
    virtual std::unique_ptr<FolderSearch> find_first(const std::string& pattern, FoundEntry& first) = 0;
    // GetFullPathNameA of a search pattern.
    virtual std::string full_path_name(const std::string& path) = 0;
    virtual bool delete_file(const std::string& path) = 0;       // DeleteFileA
    virtual bool remove_directory(const std::string& path) = 0;  // RemoveDirectoryA

    // --- Files ---------------------------------------------------------------
    // A new file for `path`, below the staging folder, with the
    // sequential-scan hint; null on failure. It gets its path when finished;
    // until then it lies in the staging folder itself under a temporary name
    // that begins with temporary_name_prefix and that `taken` does not
    // answer true for (empty: none is taken). The writer passes the names the
    // payload's entries take there, so that no entry's path ever holds a
    // file before it is finished.
    virtual std::unique_ptr<OutputFile> create_file(const std::string& path, const TakenNames& taken) = 0;
    // GetFileAttributesA succeeds: the path names an existing file or folder.
    virtual bool path_exists(const std::string& path) = 0;
    // fopen(path, "rb") for the setup script; null on failure. The caller closes.
    virtual std::FILE* open_for_reading(const std::string& path) = 0;

    // --- Strings, dialog and messages ----------------------------------------
    // LoadStringA: string `id` of the string table in the user's language.
    virtual std::string load_string(int id) = 0;
    // DialogBoxParamA of dialog 103: shows the prompt with the staging folder
    // and a progress bar at 0 %, calls `on_open` once the dialog exists (the
    // worker is started from there), and returns when the dialog has ended.
    virtual void run_progress_dialog(const std::string& staging_folder, const std::function<void()>& on_open) = 0;
    // Stores the percentage with the progress control and asks for a repaint.
    virtual void set_progress(uint32_t percentage) = 0;
    // MessageBoxA with the installer caption and MB_ICONERROR; returns once the
    // user has confirmed. Owned by the progress dialog when `owned_by_dialog`.
    virtual void message_box(const std::string& text, bool owned_by_dialog) = 0;
    // Ends the dialog, from the worker thread. Only the worker ends it: no
    // key, close box or system command does while it runs.
    virtual void end_dialog() = 0;
    // Tells the dialog to close itself, by a message of the installer's own
    // that no key or system command makes.
    virtual void post_close() = 0;
    // CreateThread for the extraction worker, started as the dialog opens:
    // runs `body` on a new thread, waited for when the answer is destroyed,
    // on the user-interface thread (a wait that goes on answering what other
    // threads send to its windows); null when no thread could be made.
    virtual std::unique_ptr<JoinableThread> start_thread(std::function<void()> body) = 0;
    // CreateThread for a thread of the worker's own (the decoding thread):
    // waited for when the answer is destroyed; null when no thread could be made.
    virtual std::unique_ptr<JoinableThread> start_joinable_thread(std::function<void()> body) = 0;
    // CreateEvent (auto-reset); null when none could be made.
    virtual std::unique_ptr<Signal> create_signal() = 0;

    // --- The installed product -------------------------------------------------
    // GetVersion: the lowest byte is the system's major version.
    virtual uint32_t system_version() = 0;
    // GetPrivateProfileStringA(section, key, "", ..., capacity, file): the text
    // read (at most capacity - 1 bytes); "" when the file, section or key is missing.
    virtual std::string read_profile_string(const std::string& section, const std::string& key,
                                            uint32_t capacity, const std::string& file) = 0;
    // RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey) then RegQueryValueExA(value_name)
    // into a buffer of `buffer_size` bytes, then RegCloseKey. True with the bytes
    // stored (terminator included) in `data`; false when the key or value is
    // missing or the value does not fit the buffer.
    virtual bool read_registry_value(const std::string& subkey, const std::string& value_name,
                                     uint32_t buffer_size, std::vector<uint8_t>& data) = 0;
    // GetFileVersionInfoSizeA: 0 when the file is missing or has no version information.
    virtual uint32_t version_info_size(const std::string& path) = 0;
    // GetFileVersionInfoA into one block of `size` bytes, then the queries of
    // VersionInfo answered from that block. False when the block cannot be read.
    virtual bool read_version_info(const std::string& path, uint32_t size, VersionInfo& info) = 0;
};

}  // namespace lumo
