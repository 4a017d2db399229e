// The main line of a run through the fake platform: staging folder, clean-up,
// dialog, status and hand-off, in order.
#include "launcher/run_installer.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_platform.h"
#include "platform/std_threads.h"
#include "resources/strings.h"
#include "worker_fixture.h"

namespace lumo {
namespace {

using test::build_image;

// No thread for the worker: the dialog is closed at once, the status stays 0.
class DialogWithoutWorker : public FakePlatform {
public:
    std::unique_ptr<JoinableThread> start_thread(std::function<void()>) override {
        record_start = true;
        return nullptr;
    }
    bool record_start = false;
};

// A dialog ended under a running worker, as a key or a command that ended it
// would: the worker, on a thread of its own, starts its work only once the
// dialog has ended.
class DialogEndedUnderTheWorker : public FakePlatform {
public:
    void run_progress_dialog(const std::string& staging_folder, const std::function<void()>& on_open) override {
        FakePlatform::run_progress_dialog(staging_folder, on_open);
        dialog_ended_.give();
    }
    std::unique_ptr<JoinableThread> start_thread(std::function<void()> body) override {
        return start_joinable_thread([this, body = std::move(body)] {
            dialog_ended_.wait();
            body();
        });
    }

private:
    StdSignal dialog_ended_;
};

class StopAfterFirst final : public EntryHook {
public:
    AfterEntry entry_written(const std::string&, const std::string&) override { return AfterEntry::stop_early; }
};

int run(FakePlatform& fake) {
    WriteEverything hook;
    return run_installer(fake, hook, test::copy_as_decoder);
}

int count(const FakePlatform& fake, const std::string& prefix) {
    int n = 0;
    for (const auto& line : fake.log) n += line.rfind(prefix, 0) == 0;
    return n;
}

TEST(StagingFolderPath, TempFolderWithOrWithoutSeparatorAndTheFallback) {
    struct Case {
        char separator;
        const char* temp;
        const char* staging;
    } cases[] = {
        {'/', "/tmp/", "/tmp/Lumo.40/"},
        {'/', "/var/tmp", "/var/tmp/Lumo.40/"},
        {'/', "", "/temp/Lumo.40/"},
        {'\\', "C:\\Users\\Ann\\AppData\\Local\\Temp", "C:\\Users\\Ann\\AppData\\Local\\Temp\\Lumo.40\\"},
        {'\\', "", "\\temp\\Lumo.40\\"},
    };
    for (const auto& c : cases) {
        FakePlatform fake(c.separator);
        fake.temp = c.temp;
        EXPECT_EQ(staging_folder_path(fake), c.staging);
        // The temporary folder itself is created when missing, never the staging folder.
        ASSERT_EQ(fake.log.size(), 1u);
        EXPECT_EQ(fake.log[0].rfind("create_directory ", 0), 0u) << fake.log[0];
    }
}

TEST(RunInstaller, SuccessStartsTheQuotedSetupProgramFromTheStagingFolder) {
    FakePlatform fake;
    fake.add_directory("/tmp/Lumo.40/old");
    fake.files["/tmp/Lumo.40/old/stale.txt"] = "from an earlier run";
    fake.image = test::installer_with_image(build_image({{"Setup.exe", "program"}, {"data.bin", "d"}}).bytes);
    EXPECT_EQ(run(fake), 0);

    EXPECT_EQ(fake.files["/tmp/Lumo.40/Setup.exe"], "program");
    EXPECT_FALSE(fake.files.count("/tmp/Lumo.40/old/stale.txt"));
    // In order: the folder checked, emptied, the dialog, the worker, the close, the hand-off.
    std::vector<int> order = {
        fake.log_index("prepare_staging_folder /tmp/Lumo.40/"),
        fake.log_index("delete_file /tmp/Lumo.40/old/stale.txt"),
        fake.log_index("dialog_open /tmp/Lumo.40/"),
        fake.log_index("start_thread"),
        fake.log_index("create_file /tmp/Lumo.40/Setup.exe"),
        fake.log_index("post_close"),
        fake.log_index("dialog_closed"),
        fake.log_index("start_program"),
    };
    for (size_t i = 0; i + 1 < order.size(); ++i) {
        ASSERT_GE(order[i], 0) << i;
        EXPECT_LT(order[i], order[i + 1]) << i;
    }
    EXPECT_EQ(fake.log.back(), "start_program \"/tmp/Lumo.40/Setup.exe\" in /tmp/Lumo.40/");
    EXPECT_EQ(count(fake, "message_box"), 0);
}

TEST(RunInstaller, SetupProgramThatCannotBeStartedIsShownWithTheSystemsReasonAndFailsTheRun) {
    FakePlatform fake;
    fake.image = test::installer_with_image(build_image({{"Setup.exe", "program"}}).bytes);
    fake.start_failure = "Exec format error";
    EXPECT_EQ(run(fake), 1);
    EXPECT_EQ(fake.log.back(), std::string("message_box none ") + LUMO_STR9_EN + "/tmp/Lumo.40/Setup.exe" + LUMO_STR10_EN +
                                   "Exec format error");
    EXPECT_EQ(count(fake, "message_box"), 1);
}

TEST(RunInstaller, EarlyStopStillStartsTheSetupProgram) {
    FakePlatform fake;
    fake.image = test::installer_with_image(build_image({{"Setup.exe", "p"}, {"more", "m"}}).bytes);
    StopAfterFirst stop;
    run_installer(fake, stop, test::copy_as_decoder);
    EXPECT_FALSE(fake.files.count("/tmp/Lumo.40/more"));
    EXPECT_EQ(fake.log.back(), "start_program \"/tmp/Lumo.40/Setup.exe\" in /tmp/Lumo.40/");
}

TEST(RunInstaller, FailureShowsOnlyTheWorkersMessageAndStartsNothing) {
    FakePlatform fake;
    auto image = build_image({{"a", "aaaa"}, {"Setup.exe", "p"}});
    image.bytes[image.data_offsets[1]] ^= 0xFF;
    fake.image = test::installer_with_image(image.bytes);
    EXPECT_EQ(run(fake), 0);
    EXPECT_EQ(count(fake, "message_box"), 1);
    EXPECT_TRUE(fake.logged(std::string("message_box dialog ") + LUMO_STR2_EN));
    EXPECT_EQ(count(fake, "start_program"), 0);
}

// The run's state lives on the start-up code's stack: it waits for the
// worker, whatever ended the dialog, and then goes by the worker's verdict.
TEST(RunInstaller, AWorkerStillRunningWhenTheDialogEndsIsWaitedFor) {
    DialogEndedUnderTheWorker fake;
    fake.image = test::installer_with_image(build_image({{"Setup.exe", "program"}, {"data.bin", "d"}}).bytes);
    EXPECT_EQ(run(fake), 0);
    EXPECT_EQ(fake.files["/tmp/Lumo.40/data.bin"], "d");
    EXPECT_EQ(count(fake, "message_box"), 0);
    EXPECT_EQ(fake.log.back(), "start_program \"/tmp/Lumo.40/Setup.exe\" in /tmp/Lumo.40/");
}

TEST(RunInstaller, DialogEndingWithoutAVerdictShowsMessage5) {
    DialogWithoutWorker fake;
    fake.german = true;
    run(fake);
    EXPECT_TRUE(fake.record_start);
    EXPECT_GE(fake.log_index("post_close"), 0) << "closed at once, or it would wait forever";
    EXPECT_EQ(fake.log.back(), std::string("message_box none ") + LUMO_STR5_DE);
    EXPECT_EQ(count(fake, "start_program"), 0);
}

TEST(RunInstaller, UnsafeStagingFolderIsNeitherEmptiedNorUsed) {
    FakePlatform fake;
    fake.staging_check = StagingCheck::unsafe;
    fake.add_directory("/tmp/Lumo.40");
    fake.files["/tmp/Lumo.40/someone_elses"] = "x";
    fake.image = test::installer_with_image(build_image({{"Setup.exe", "p"}}).bytes);
    run(fake);
    EXPECT_EQ(fake.log.back(),
              std::string("message_box none ") + LUMO_STR6_EN + "/tmp/Lumo.40/" + LUMO_STR7_EN);
    EXPECT_TRUE(fake.files.count("/tmp/Lumo.40/someone_elses"));
    EXPECT_EQ(count(fake, "dialog_open"), 0);
    EXPECT_EQ(count(fake, "delete_file"), 0);
    EXPECT_EQ(count(fake, "start_program"), 0);
}

// A staging folder that cannot be made (a read-only disk, a temporary folder
// that cannot be created): nothing to empty, and the writer reports the
// first file, as it did when it made the folder with that file.
TEST(RunInstaller, StagingFolderThatCannotBeMadeIsACopyErrorOfTheFirstFile) {
    FakePlatform fake;
    fake.staging_check = StagingCheck::unavailable;
    fake.image = test::installer_with_image(build_image({{"Setup.exe", "p"}, {"data.bin", "d"}}).bytes);
    run(fake);
    EXPECT_EQ(count(fake, "message_box"), 1);
    EXPECT_TRUE(fake.logged(std::string("message_box dialog ") + LUMO_STR3_EN + "/tmp/Lumo.40/Setup.exe" + LUMO_STR4_EN));
    EXPECT_FALSE(fake.logged("create_directory /tmp/Lumo.40")) << "never made behind the check's back";
    EXPECT_FALSE(fake.directories.count("/tmp/Lumo.40"));
    EXPECT_EQ(count(fake, "start_program"), 0);
}

}  // namespace
}  // namespace lumo
