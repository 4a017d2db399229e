// Many runs back to back. In-process, the whole run of the POSIX platform
// (real files, threads, folder searches) repeated with the installer's
// bytes in hand: open descriptors and resident memory stay where they were.
// As processes, a few hundred runs of a built installer leave nothing behind
// but the staging folder, and a few runs under valgrind (or the sanitizers,
// in their build) show no memory error or leak.
#include <dirent.h>

#include <fstream>
#include <random>

#include "installer_fixture.h"
#include "launcher/run_installer.h"
#include "platform/posix/posix_platform.h"

// In the sanitizer build, freed memory waits in a quarantine of up to 256 MiB
// before it is reused, which would read as growth here; a small one still
// catches a use after free in a run.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=8"; }

namespace lumo::test {
namespace {

size_t open_descriptors() {
    size_t count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}

size_t resident_kilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:")) return std::stoul(line.substr(6));
    return 0;
}

// The POSIX platform with the installer's own bytes given, and the setup
// program recorded instead of started.
class InstallerInHand final : public Platform {
public:
    explicit InstallerInHand(const std::string& bytes) : image_(bytes.begin(), bytes.end()) {}

    std::vector<std::string> messages;
    int programs_started = 0;

    uint64_t installer_size() override { return image_.size(); }
    bool read_installer(uint64_t offset, uint8_t* destination, size_t size) override {
        if (offset > image_.size() || size > image_.size() - offset) return false;
        std::copy_n(image_.data() + offset, size, destination);
        return true;
    }
    bool start_program(const std::string&, const std::string&, const std::string&, std::string&) override {
        ++programs_started;
        return true;
    }
    void message_box(const std::string& text, bool) override { messages.push_back(text); }

    char separator() const override { return real_.separator(); }
    std::string native_entry_name(const std::string& name) const override { return real_.native_entry_name(name); }
    std::string temp_folder() override { return real_.temp_folder(); }
    bool create_directory(const std::string& path) override { return real_.create_directory(path); }
    StagingCheck prepare_staging_folder(const std::string& folder) override {
        return real_.prepare_staging_folder(folder);
    }
    std::unique_ptr<FolderSearch> find_first(const std::string& pattern, FoundEntry& first) override {
        return real_.find_first(pattern, first);
    }
    std::string full_path_name(const std::string& path) override { return real_.full_path_name(path); }
    bool delete_file(const std::string& path) override { return real_.delete_file(path); }
    bool remove_directory(const std::string& path) override { return real_.remove_directory(path); }
    std::unique_ptr<OutputFile> create_file(const std::string& path, const TakenNames& taken) override {
        return real_.create_file(path, taken);
    }
    bool path_exists(const std::string& path) override { return real_.path_exists(path); }
    std::FILE* open_for_reading(const std::string& path) override { return real_.open_for_reading(path); }
    std::string load_string(int id) override { return real_.load_string(id); }
    void run_progress_dialog(const std::string& staging, const std::function<void()>& on_open) override {
        real_.run_progress_dialog(staging, on_open);
    }
    void set_progress(uint32_t percentage) override { real_.set_progress(percentage); }
    void end_dialog() override { real_.end_dialog(); }
    void post_close() override { real_.post_close(); }
    std::unique_ptr<JoinableThread> start_thread(std::function<void()> body) override {
        return real_.start_thread(std::move(body));
    }
    std::unique_ptr<JoinableThread> start_joinable_thread(std::function<void()> body) override {
        return real_.start_joinable_thread(std::move(body));
    }
    std::unique_ptr<Signal> create_signal() override { return real_.create_signal(); }
    uint32_t system_version() override { return real_.system_version(); }
    std::string read_profile_string(const std::string& section, const std::string& key, uint32_t capacity,
                                    const std::string& file) override {
        return real_.read_profile_string(section, key, capacity, file);
    }
    bool read_registry_value(const std::string& subkey, const std::string& value_name, uint32_t size,
                             std::vector<uint8_t>& data) override {
        return real_.read_registry_value(subkey, value_name, size, data);
    }
    uint32_t version_info_size(const std::string& path) override { return real_.version_info_size(path); }
    bool read_version_info(const std::string& path, uint32_t size, VersionInfo& info) override {
        return real_.read_version_info(path, size, info);
    }

private:
    PosixPlatform real_;
    std::vector<uint8_t> image_;
};

class Soak : public InstallerFixture {
protected:
    void make_addon() {
        std::mt19937 random(5);
        add("Setup.exe", "#!/bin/sh\n:\n");
        for (int i = 0; i < 20; ++i) {
            std::string data(20000 + 1000 * i, '\0');
            for (auto& c : data) c = char('a' + random() % 11);
            add("Folder" + std::to_string(i % 4) + "/file" + std::to_string(i) + ".dat", data);
        }
    }
    size_t files_in_staging() {
        size_t count = 0;
        for (const auto& entry : fs::recursive_directory_iterator(staging())) count += entry.is_regular_file();
        return count;
    }
};

TEST_F(Soak, RunsInOneProcessKeepDescriptorsAndMemorySteady) {
    make_addon();
    const std::string bytes = pack_addon();
    setenv("TMPDIR", tmp().c_str(), 1);
    constexpr int warm_up = 30, runs = 300;
    size_t descriptors = 0, resident = 0;
    for (int run = 1; run <= runs; ++run) {
        {
            InstallerInHand platform(bytes);
            run_installer(platform);
            ASSERT_TRUE(platform.messages.empty()) << "run " << run << ": " << platform.messages.front();
            ASSERT_EQ(platform.programs_started, 1) << "run " << run;
            ASSERT_EQ(files_in_staging(), 21u) << "run " << run;
        }
        // Counted between runs: a platform holds its staging folder open while it lives.
        if (run == warm_up) descriptors = open_descriptors(), resident = resident_kilobytes();
    }
    unsetenv("TMPDIR");
    EXPECT_EQ(open_descriptors(), descriptors) << "descriptors leaked";
    const size_t now = resident_kilobytes();
    const size_t grown = now > resident ? now - resident : 0;
    EXPECT_LT(grown, 4096u) << "resident memory grew by " << grown << " KiB over " << runs - warm_up << " runs";
}

TEST_F(Soak, HundredsOfInstallerRunsLeaveOnlyTheStagingFolder) {
    make_addon();
    write_file(installer(), pack_addon(), 0755);
    for (int run = 1; run <= 200; ++run) {
        ProcessResult result = run_installer_file();
        ASSERT_EQ(result.output, "") << "run " << run;
        ASSERT_EQ(files_in_staging(), 21u) << "run " << run;
        size_t in_tmp = 0;
        for (const auto& entry : fs::directory_iterator(tmp())) {
            (void)entry;
            ++in_tmp;
        }
        ASSERT_EQ(in_tmp, 1u) << "run " << run << " left something beside the staging folder";
    }
}

// The sanitizer build's installer checks itself (AddressSanitizer, and
// LeakSanitizer at exit); valgrind checks the others.
TEST_F(Soak, RunsUnderAMemoryCheckerShowNoMemoryErrorOrLeak) {
    make_addon();
    write_file(installer(), pack_addon(), 0755);
    const std::map<std::string, std::string> environment = {{"TMPDIR", tmp().string()}, {"LANG", "C"}};
    for (int run = 1; run <= 3; ++run) {
        ProcessResult result =
            LUMO_STUB_SANITIZED
                ? run_process(installer().string(), {}, environment)
                : run_process("/usr/bin/valgrind",
                              // The process that starts the setup program leaves
                              // with _exit, holding what its parent had: not ours to check.
                              {"--quiet", "--child-silent-after-fork=yes", "--error-exitcode=99", "--leak-check=full",
                               "--errors-for-leak-kinds=definite,indirect", "--show-leak-kinds=definite,indirect",
                               installer().string()},
                              environment);
        EXPECT_EQ(result.exit_code, 0) << "run " << run << ":\n" << result.output;
        EXPECT_EQ(result.output, "") << "run " << run;
        ASSERT_TRUE(fs::exists(staging()));
        EXPECT_EQ(files_in_staging(), 21u);
    }
}

}  // namespace
}  // namespace lumo::test
