// A platform for tests: an in-memory file system and product, and a log of
// every effect in the order the core asked for it.
//
// The dialog is synchronous: run_progress_dialog calls on_open, and a thread
// started from there runs to its end before start_thread returns. So a test
// sees the worker's whole run, and the log holds one deterministic order.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace lumo {

class FakePlatform : public Platform {
public:
    explicit FakePlatform(char separator = '/');

    // --- What a test sets up ----------------------------------------------
    std::string temp = "/tmp/";
    bool german = false;
    StagingCheck staging_check = StagingCheck::ready;
    std::vector<uint8_t> image;                // the installer's own executable
    std::map<std::string, std::string> files;  // path -> content
    std::set<std::string> directories;         // existing folders, without trailing separator
    std::set<std::string> links;               // entries that are links (not followed)
    std::set<std::string> read_only;           // files that cannot be replaced or deleted
    std::set<std::string> unreadable_folders;  // folders whose search cannot start
    uint64_t disk_space = UINT64_MAX;          // bytes that may still be written
    uint32_t version = 0x0A;                   // GetVersion
    std::map<std::string, std::string> profile;           // "file|section|key" -> text
    std::map<std::string, std::vector<uint8_t>> registry;  // "subkey|value" -> bytes
    std::map<std::string, VersionInfo> version_infos;     // path -> information
    std::set<std::string> existing_paths;                  // other paths GetFileAttributesA finds
    std::string start_failure;                             // the system's words when start_program fails
    // Called after every write of a file, its bytes in place under its
    // temporary name: what a run killed there would leave.
    std::function<void()> after_write;

    // --- What a test reads back ---------------------------------------------
    std::vector<std::string> log;           // every effect, in order
    std::vector<std::string> registry_reads;  // "subkey|value" in the order asked
    std::vector<std::string> version_reads;   // paths asked for version information

    void add_directory(const std::string& path);  // with all its parents
    bool logged(const std::string& line) const;
    // Index of the first log line that starts with `prefix`, or -1.
    int log_index(const std::string& prefix) const;

    // --- Platform -------------------------------------------------------------
    char separator() const override { return sep_; }
    std::string native_entry_name(const std::string& entry_name) const override;
    std::string temp_folder() override { return temp; }
    bool create_directory(const std::string& path) override;
    StagingCheck prepare_staging_folder(const std::string& folder) override;
    uint64_t installer_size() override;
    bool read_installer(uint64_t offset, uint8_t* destination, size_t size) override;
    bool start_program(const std::string& command_line, const std::string& program_path,
                       const std::string& current_folder, std::string& failure) override;
    std::unique_ptr<FolderSearch> find_first(const std::string& pattern, FoundEntry& first) override;
    std::string full_path_name(const std::string& path) override { return path; }
    bool delete_file(const std::string& path) override;
    bool remove_directory(const std::string& path) override;
    std::unique_ptr<OutputFile> create_file(const std::string& path, const TakenNames& taken) override;
    bool path_exists(const std::string& path) override;
    std::FILE* open_for_reading(const std::string& path) override;
    std::string load_string(int id) override;
    void run_progress_dialog(const std::string& staging_folder, const std::function<void()>& on_open) override;
    void set_progress(uint32_t percentage) override;
    void message_box(const std::string& text, bool owned_by_dialog) override;
    void end_dialog() override;
    void post_close() override;
    std::unique_ptr<JoinableThread> start_thread(std::function<void()> body) override;
    std::unique_ptr<JoinableThread> start_joinable_thread(std::function<void()> body) override;
    std::unique_ptr<Signal> create_signal() override;
    uint32_t system_version() override { return version; }
    std::string read_profile_string(const std::string& section, const std::string& key, uint32_t capacity,
                                    const std::string& file) override;
    bool read_registry_value(const std::string& subkey, const std::string& value_name, uint32_t buffer_size,
                             std::vector<uint8_t>& data) override;
    uint32_t version_info_size(const std::string& path) override;
    bool read_version_info(const std::string& path, uint32_t size, VersionInfo& info) override;

private:
    friend class FakeOutputFile;
    std::string trimmed(const std::string& path) const;
    // Below (or at) a staging folder that the check did not find ready: as
    // on the real platforms, nothing there can be found, made or removed.
    bool beyond_reach(const std::string& path) const;
    std::string parent_of(const std::string& path) const;
    void record(const std::string& line);

    char sep_;
    std::mutex mutex_;
    std::string unusable_staging_;  // the folder last checked, when it was not ready
    uint32_t temporary_count_ = 0;
};

}  // namespace lumo
