// The platform on Windows: the real Win32 calls, 8-bit ("A") interfaces for
// everything the core names, the system's own UTF-16 where a path of the
// system's may not fit the ANSI code page (the temporary folder, the own
// executable).
//
// The implementation is split by concern:
//   win32_staging.cc   the temporary folder and the check of the staging folder
//   win32_held_folder.cc  the held staging folder and the walk below it
//   win32_folder_security.cc  who may own and change the staging folder
//   win32_files.cc     files, folders, own executable, process start
//   win32_dialog.cc    dialog 103, its procedure and progress bar, message boxes, strings
//   win32_threads.cc   threads waited for (the worker among them), and events between them
//   win32_product.cc   registry, profile and version information
//   win32_user_calls.cc  user32 and gdi32, loaded from System32 at start-up
#pragma once

#include <windows.h>

#include <string>

#include "platform/platform.h"
#include "platform/win32/win32_held_folder.h"

namespace lumo {

class Win32Platform final : public Platform {
public:
    explicit Win32Platform(HINSTANCE instance);
    ~Win32Platform() override;

    char separator() const override { return '\\'; }
    std::string native_entry_name(const std::string& entry_name) const override { return entry_name; }

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
    // The path the system uses for `path`: the temporary folder's own form
    // where `path` begins with the text temp_folder() gave for it.
    std::wstring system_path(const std::string& path) const;

    static INT_PTR CALLBACK dialog_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

    HINSTANCE instance_;
    // The temporary folder as the core knows it and as the system does
    // (win32_staging.cc); the staging folder as checked, for the whole run.
    std::string temp_text_;
    std::wstring temp_system_;
    HeldFolder staging_;
    HWND dialog_ = nullptr;  // stored before the worker starts
    std::string staging_folder_;
    const std::function<void()>* on_open_ = nullptr;
    // The own executable, open for reading (win32_files.cc).
    HANDLE image_file_ = INVALID_HANDLE_VALUE;
    uint64_t image_size_ = 0;
    bool image_opened_ = false;
};

}  // namespace lumo
