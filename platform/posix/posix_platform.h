// The platform on POSIX systems: files and folders, a process for the setup
// program, the progress dialog rendered on the terminal, and the installed
// Windows product read from a Wine prefix.
//
// The implementation is split by concern:
//   posix_platform.cc   construction and the end of the run
//   posix_staging.cc    the check of the staging folder, which it then holds
//   held_folder.cc      the held staging folder and the walk below it
//   posix_files.cc      files and folders, own executable
//   posix_process.cc    starting the setup program
//   posix_threads.cc    threads waited for, and signals between them
//   posix_terminal.cc   the progress dialog and message boxes on the terminal
//   posix_strings.cc    the string table and the user's language
//   posix_product.cc    registry, profile and version information of a Wine prefix
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/held_folder.h"

namespace lumo {

class PosixPlatform final : public Platform {
public:
    PosixPlatform();
    ~PosixPlatform() override;

    char separator() const override { return '/'; }
    std::string native_entry_name(const std::string& entry_name) const override;

    std::string temp_folder() override;
    bool create_directory(const std::string& path) override;
    StagingCheck prepare_staging_folder(const std::string& folder) override;
    uint64_t installer_size() override;
    bool read_installer(uint64_t offset, uint8_t* destination, size_t size) override;
    bool start_program(const std::string& command_line, const std::string& program_path,
                       const std::string& current_folder, std::string& failure) override;

    std::unique_ptr<FolderSearch> find_first(const std::string& pattern, FoundEntry& first) override;
    std::string full_path_name(const std::string& path) override;
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

    uint32_t system_version() override;
    std::string read_profile_string(const std::string& section, const std::string& key, uint32_t capacity,
                                    const std::string& file) override;
    bool read_registry_value(const std::string& subkey, const std::string& value_name, uint32_t buffer_size,
                             std::vector<uint8_t>& data) override;
    uint32_t version_info_size(const std::string& path) override;
    bool read_version_info(const std::string& path, uint32_t size, VersionInfo& info) override;

private:
    // The staging folder as checked, for the rest of the run (posix_staging.cc).
    HeldFolder staging_;

    // The own executable, open for reading (posix_files.cc).
    UniqueFd image_;
    uint64_t image_size_ = 0;
    bool image_opened_ = false;

    friend class PosixOutputFile;

    // The dialog's state, shared by the UI thread and the worker (posix_terminal.cc).
    std::mutex dialog_mutex_;
    std::condition_variable dialog_wakeup_;
    bool dialog_ended_ = false;
    bool close_posted_ = false;
    uint32_t percentage_ = 0;     // the progress control's user data
    bool repaint_pending_ = false;
    bool dialog_shown_ = false;   // standard error is a terminal and the dialog is open
    uint32_t drawn_percentage_ = 0;
};

}  // namespace lumo
