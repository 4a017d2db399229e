// The extraction worker through the fake platform: the order of its effects,
// both failures with their messages, the early stop, and entry names that
// must never be written.
#include "extraction/extraction_worker.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/fake/fake_platform.h"
#include "resources/strings.h"
#include "worker_fixture.h"

namespace lumo {
namespace {

using test::build_image;
using test::ImageFile;

const std::string staging = "/tmp/Lumo.40/";
const std::string corrupt_message = LUMO_STR2_EN;

// Records the extraction status as it stood when the worker showed its
// message and when it ended the dialog, so that a test sees the status set
// after the message and before the dialog's end.
class ProbingPlatform : public FakePlatform {
public:
    std::atomic<int32_t>* status = nullptr;
    std::vector<int32_t> status_at_message, status_at_end;

    void message_box(const std::string& text, bool owned_by_dialog) override {
        status_at_message.push_back(status->load());
        FakePlatform::message_box(text, owned_by_dialog);
    }
    void end_dialog() override {
        status_at_end.push_back(status->load());
        FakePlatform::end_dialog();
    }

    std::vector<std::pair<uint64_t, size_t>> reads;  // offset and size of every read of the installer
    bool read_installer(uint64_t offset, uint8_t* destination, size_t size) override {
        reads.emplace_back(offset, size);
        return FakePlatform::read_installer(offset, destination, size);
    }
};

class StopAfter final : public EntryHook {
public:
    explicit StopAfter(std::string name) : name_(std::move(name)) {}
    std::vector<std::string> seen;
    AfterEntry entry_written(const std::string& entry_name, const std::string& full_path) override {
        seen.push_back(entry_name + " at " + full_path);
        return entry_name == name_ ? AfterEntry::stop_early : AfterEntry::go_on;
    }

private:
    std::string name_;
};

// Every case runs both ways the worker reads the image: streamed, and
// whole, which must give the same files, messages and order of effects.
class WorkerTest : public ::testing::TestWithParam<ImagePath> {
protected:
    int32_t run_worker(EntryHook& hook) {
        ExtractionRun run{*fake, staging, hook, test::copy_as_decoder};
        if (allocate) run.allocate = allocate;
        run.image_path = GetParam();
        fake->status = &run.status;
        run_extraction_worker(run);
        return run.status.load();
    }
    int32_t run_worker() {
        StopAfter never("");
        return run_worker(never);
    }
    int32_t run_with_files(const std::vector<ImageFile>& files) {
        fake->image = test::installer_with_image(build_image(files).bytes);
        return run_worker();
    }
    int line_index(const std::string& line) const {
        const auto at = std::find(fake->log.begin(), fake->log.end(), line);
        return at == fake->log.end() ? -1 : int(at - fake->log.begin());
    }
    int count(const std::string& prefix) const {
        int n = 0;
        for (const auto& line : fake->log) n += line.compare(0, prefix.size(), prefix) == 0;
        return n;
    }
    bool has_file_below(const std::string& folder) const {
        for (const auto& [path, content] : fake->files)
            if (path.compare(0, folder.size(), folder) == 0) return true;
        return false;
    }
    void expect_failed_with(int32_t status, const std::string& message) {
        EXPECT_EQ(status, extraction_failed);
        EXPECT_EQ(count("message_box"), 1);
        EXPECT_TRUE(fake->logged("message_box dialog " + message)) << "message not shown";
        // The message first, then the status, then the dialog's end.
        EXPECT_EQ(fake->status_at_message, std::vector<int32_t>{extraction_unset});
        EXPECT_EQ(fake->status_at_end, std::vector<int32_t>{extraction_failed});
        EXPECT_LT(fake->log_index("message_box"), fake->log_index("end_dialog"));
        EXPECT_EQ(count("post_close"), 0);
    }

    std::unique_ptr<ProbingPlatform> fake = std::make_unique<ProbingPlatform>();
    AllocateFunction allocate = nullptr;
};

TEST_P(WorkerTest, WritesEveryFileCreatingTheStagingFolderWithTheFirstAndClosesTheDialog) {
    int32_t status = run_with_files({{"a.txt", "alpha"}, {"b.txt", std::string(200000, 'b')}, {"empty", ""}});
    EXPECT_EQ(status, extraction_succeeded);
    EXPECT_EQ(fake->files[staging + "a.txt"], "alpha");
    EXPECT_EQ(fake->files[staging + "b.txt"], std::string(200000, 'b'));
    EXPECT_TRUE(fake->files.count(staging + "empty"));

    // The first file finds no staging folder: written apart, it cannot be
    // given its path; the folder is made, then the file named.
    EXPECT_LT(fake->log_index("write " + staging + "a.txt"), fake->log_index("finish " + staging + "a.txt failed"));
    EXPECT_LT(fake->log_index("finish " + staging + "a.txt failed"), fake->log_index("create_directory /tmp/Lumo.40"));
    EXPECT_LT(fake->log_index("create_directory /tmp/Lumo.40"), line_index("finish " + staging + "a.txt"));

    // 200000 bytes go out in chunks of at most 64 KiB: from a whole image
    // three full and one rest; streamed, a chunk also ends where a block
    // of the decoder's output does.
    uint64_t written = 0;
    for (const auto& line : fake->log) {
        const std::string prefix = "write " + staging + "b.txt ";
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        const uint64_t chunk = std::stoull(line.substr(prefix.size()));
        EXPECT_LE(chunk, 65536u);
        written += chunk;
    }
    EXPECT_EQ(written, 200000u);
    if (GetParam() == ImagePath::whole) {
        EXPECT_EQ(count("write " + staging + "b.txt 65536"), 3);
        EXPECT_TRUE(fake->logged("write " + staging + "b.txt " + std::to_string(200000 - 3 * 65536)));
    }
    EXPECT_EQ(count("write " + staging + "empty"), 0);  // an empty file gets no write

    // Success: status 1 and a posted close, no EndDialog from the worker.
    EXPECT_EQ(fake->log.back(), "post_close");
    EXPECT_EQ(count("end_dialog"), 0);
    EXPECT_EQ(count("message_box"), 0);
}

// The installer's own file is read a piece at a time, never whole: its
// layout from a few small reads, then the packed stream in order.
TEST_P(WorkerTest, TheInstallerIsReadInPiecesNeverWhole) {
    ASSERT_EQ(run_with_files({{"big", std::string(9u << 20, 'b')}}), extraction_succeeded);
    EXPECT_EQ(fake->files[staging + "big"], std::string(9u << 20, 'b'));
    const uint64_t packed_offset = 100 + 8;  // the stub's bytes, then the stored payload header
    const uint64_t packed_size = test::get_le32(fake->image, 100);
    uint64_t next = packed_offset, largest = 0;
    for (const auto& [offset, size] : fake->reads) {
        largest = std::max<uint64_t>(largest, size);
        if (offset < packed_offset || offset >= packed_offset + packed_size) continue;
        EXPECT_EQ(offset, next) << "the stream is read in order";
        next = offset + size;
    }
    EXPECT_EQ(next, packed_offset + packed_size);
    EXPECT_LE(largest, 256u * 1024);
}

TEST_P(WorkerTest, CreatesNestedFoldersOutermostFirst) {
    fake->add_directory("/tmp/Lumo.40");
    ASSERT_EQ(run_with_files({{"outer\\inner\\file.txt", "x"}}), extraction_succeeded);
    EXPECT_EQ(fake->files[staging + "outer/inner/file.txt"], "x");
    // The file is written apart first. Each pass then tries to give it its
    // path, then makes one folder further out, until a folder can be
    // created; then it starts again from the full path.
    const std::vector<std::string> expected = {
        "create_file /tmp/Lumo.40/outer/inner/file.txt",
        "write /tmp/Lumo.40/outer/inner/file.txt 1",
        "finish /tmp/Lumo.40/outer/inner/file.txt failed",
        "create_directory /tmp/Lumo.40/outer/inner failed",
        "finish /tmp/Lumo.40/outer/inner/file.txt failed",
        "create_directory /tmp/Lumo.40/outer",
        "finish /tmp/Lumo.40/outer/inner/file.txt failed",
        "create_directory /tmp/Lumo.40/outer/inner",
        "finish /tmp/Lumo.40/outer/inner/file.txt",
    };
    std::vector<std::string> effects;
    for (const auto& line : fake->log)
        if (line.rfind("progress", 0) != 0) effects.push_back(line);
    effects.resize(expected.size());
    EXPECT_EQ(effects, expected);
}

TEST_P(WorkerTest, EmptyDirectoryGivesSuccessAndNoFiles) {
    EXPECT_EQ(run_with_files({}), extraction_succeeded);
    EXPECT_FALSE(has_file_below(staging));
    EXPECT_EQ(count("create_file"), 0);
    EXPECT_EQ(fake->log.back(), "post_close");
}

TEST_P(WorkerTest, CorruptEntryInTheMiddleKeepsTheEarlierFiles) {
    auto image = build_image({{"1", "one"}, {"2", "two"}, {"3", "three"}, {"4", "four"}, {"5", "five"}});
    image.bytes[image.data_offsets[2]] ^= 0x01;  // entry 3's data no longer matches its checksum
    fake->image = test::installer_with_image(image.bytes);
    int32_t status = run_worker();
    expect_failed_with(status, corrupt_message);
    EXPECT_EQ(fake->files[staging + "1"], "one");
    EXPECT_EQ(fake->files[staging + "2"], "two");
    EXPECT_FALSE(fake->files.count(staging + "3"));
    EXPECT_FALSE(fake->files.count(staging + "4"));
}

TEST_P(WorkerTest, DamagedHeaderOrDirectoryIsACorruptPayloadBeforeAnyFileIsWritten) {
    struct Case {
        const char* what;
        size_t (*offset)(const test::BuiltImage&);
    };
    const Case cases[] = {
        {"signature", [](const test::BuiltImage&) { return image_signature_offset + 3; }},
        {"reserved header byte", [](const test::BuiltImage&) { return size_t(26); }},
        {"directory", [](const test::BuiltImage& i) { return i.entry_offsets[1] + 16; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake = std::make_unique<ProbingPlatform>();
        auto image = build_image({{"a", "aaaa"}, {"b", "bbbb"}});
        image.bytes[c.offset(image)] ^= 1;
        fake->image = test::installer_with_image(image.bytes);
        expect_failed_with(run_worker(), corrupt_message);
        EXPECT_EQ(count("create_file"), 0);
    }
}

TEST_P(WorkerTest, DataEndingOnePastDataEndIsCorrupt) {
    auto image = build_image({{"a", "aaaa"}, {"b", "bbbb"}});
    // The last entry's data ended exactly at data end; now one byte past it.
    test::put_le32(image.bytes, data_end_offset, test::get_le32(image.bytes, data_end_offset) - 1);
    image.reseal_header();
    fake->image = test::installer_with_image(image.bytes);
    expect_failed_with(run_worker(), corrupt_message);
    EXPECT_TRUE(fake->files.count(staging + "a"));
    EXPECT_FALSE(fake->files.count(staging + "b"));
}

TEST_P(WorkerTest, InstallersWithoutASoundStoredPayloadAreCorrupt) {
    auto image = build_image({{"a", "aaaa"}}).bytes;
    auto whole = test::installer_with_image(image);
    struct Case {
        const char* what;
        std::vector<uint8_t> installer;
    };
    const Case cases[] = {
        {"no installer image at all", {}},
        {"stub without a trailer", std::vector<uint8_t>(200, 0x90)},
        {"truncated installer", std::vector<uint8_t>(whole.begin(), whole.begin() + whole.size() / 2)},
        {"image shorter than its header", test::installer_with_image(std::vector<uint8_t>(image.begin(), image.begin() + 30))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake = std::make_unique<ProbingPlatform>();
        fake->image = c.installer;
        expect_failed_with(run_worker(), corrupt_message);
        EXPECT_EQ(count("create_file"), 0);
    }
}

TEST_P(WorkerTest, CopyErrorNamesTheFullPathInQuotes) {
    fake->add_directory("/tmp/Lumo.40/sub");
    fake->files[staging + "sub/locked.txt"] = "old";
    fake->read_only.insert(staging + "sub/locked.txt");
    int32_t status = run_with_files({{"first.txt", "1"}, {"sub\\locked.txt", "new"}, {"last.txt", "3"}});
    expect_failed_with(status, std::string(LUMO_STR3_EN) + staging + "sub/locked.txt" + LUMO_STR4_EN);
    EXPECT_EQ(fake->files[staging + "first.txt"], "1");
    EXPECT_EQ(fake->files[staging + "sub/locked.txt"], "old");
    EXPECT_FALSE(fake->files.count(staging + "last.txt"));
}

TEST_P(WorkerTest, ShortWriteIsACopyError) {
    fake->disk_space = 70000;
    int32_t status = run_with_files({{"big", std::string(100000, 'x')}});
    expect_failed_with(status, std::string(LUMO_STR3_EN) + staging + "big" + LUMO_STR4_EN);
}

TEST_P(WorkerTest, GermanMessages) {
    fake->german = true;
    fake->image = std::vector<uint8_t>(64, 0);
    expect_failed_with(run_worker(), LUMO_STR2_DE);
}

// A whole image, which the layouts that cannot be streamed need, may not be
// had; a streamed run reserves none.
TEST_P(WorkerTest, ImageThatCannotBeAllocatedIsReportedNotACrash) {
    allocate = [](size_t) -> void* { return nullptr; };
    fake->image = test::installer_with_image(build_image({{"a", "a"}}).bytes);
    if (GetParam() == ImagePath::streamed) {
        EXPECT_EQ(run_worker(), extraction_succeeded);
        EXPECT_EQ(fake->files[staging + "a"], "a");
        return;
    }
    expect_failed_with(run_worker(), LUMO_STR8_EN);
    EXPECT_EQ(count("create_file"), 0);
}

TEST_P(WorkerTest, EarlyStopEndsTheDialogAndPostsTheClose) {
    StopAfter stop("setup.exe");
    fake->image = test::installer_with_image(
        build_image({{"Setup.cfg", "cfg"}, {"setup.exe", "MZ"}, {"later.txt", "not written"}}).bytes);
    EXPECT_EQ(run_worker(stop), extraction_succeeded);
    EXPECT_EQ(stop.seen, (std::vector<std::string>{"Setup.cfg at /tmp/Lumo.40/Setup.cfg",
                                                   "setup.exe at /tmp/Lumo.40/setup.exe"}));
    EXPECT_FALSE(fake->files.count(staging + "later.txt"));
    EXPECT_EQ(fake->status_at_end, std::vector<int32_t>{extraction_succeeded});
    ASSERT_GE(fake->log_index("end_dialog"), 0);
    EXPECT_EQ(fake->log_index("end_dialog") + 1, int(fake->log.size()) - 1);
    EXPECT_EQ(fake->log.back(), "post_close");
}

// Entry names come from the payload and are not trusted: none of these may
// be written, and each makes the payload corrupt. The entry before stays.
TEST_P(WorkerTest, HostileNamesAreCorruptPayloadsAndNothingLeavesTheStagingFolder) {
    const char* names[] = {
        "..\\escaped.txt", "sub\\..\\..\\escaped.txt", "\\absolute.txt", "/absolute.txt",
        "C:\\escaped.txt", "C:escaped.txt", "a\\\\b", "trailing\\", "..", ".\\x",
        "sub/../../escaped.txt", "",
    };
    for (const char* name : names) {
        SCOPED_TRACE(name);
        fake = std::make_unique<ProbingPlatform>();
        fake->add_directory("/tmp/Lumo.40");
        fake->image = test::installer_with_image(build_image({{"good.txt", "g"}, {name, "evil"}}).bytes);
        expect_failed_with(run_worker(), corrupt_message);
        EXPECT_EQ(fake->files[staging + "good.txt"], "g");
        for (const auto& [path, content] : fake->files) EXPECT_EQ(path.compare(0, staging.size(), staging), 0) << path;
        EXPECT_EQ(count("create_file"), 1);
    }
}

TEST_P(WorkerTest, FullPathsBeyondThePathBufferAreNeverWritten) {
    // A 300-byte temporary folder leaves 202 bytes of the 511 for a name.
    const std::string long_staging = "/tmp/" + std::string(290, 't') + "/Lumo.40/";
    fake->add_directory(long_staging);
    const std::string fits(max_full_path_length - long_staging.size(), 'f');
    const std::string too_long = fits + "g";
    for (const auto& [name, writes] : {std::pair{fits, true}, std::pair{too_long, false}}) {
        SCOPED_TRACE(name.size());
        fake->log.clear();
        fake->status_at_message.clear();
        fake->status_at_end.clear();
        fake->image = test::installer_with_image(build_image({{name, "x"}}).bytes);
        StopAfter never("");
        ExtractionRun run{*fake, long_staging, never, test::copy_as_decoder};
        fake->status = &run.status;
        run_extraction_worker(run);
        EXPECT_EQ(run.status.load(), writes ? extraction_succeeded : extraction_failed);
        EXPECT_EQ(fake->files.count(long_staging + name), writes ? 1u : 0u);
    }
}

TEST_P(WorkerTest, WindowsNamesBecomeNativePaths) {
    fake->add_directory("/tmp/Lumo.40");
    ASSERT_EQ(run_with_files({{"Daten\\M\xe4rz.txt", "1252"}}), extraction_succeeded);
    EXPECT_EQ(fake->files[staging + "Daten/M\xe4rz.txt"], "1252");  // the fake keeps the bytes
}

// Entries named as the writer names its files while they are written
// (".Lumo-<count>.partial", in any case, or as a folder): each file is
// written under a name no entry takes, so that whenever the run may be
// killed (after every write), an entry's path holds nothing or its whole
// good content, a folder on an entry's way no file, and the damaged last
// entry never appears under its name.
TEST_P(WorkerTest, EntriesNamedLikeTemporaryFilesNeverHoldUnverifiedBytes) {
    const std::vector<ImageFile> files = {{".Lumo-00000001.partial", std::string(200000, '1')},
                                          {".LUMO-00000002.PARTIAL", "two"},
                                          {".Lumo-00000003.partial\\inner.txt", "in a folder"},
                                          {"plain.txt", "plain"},
                                          {".lumo-00000005.partial", std::string(70000, '5')}};
    auto image = build_image(files);
    image.bytes[image.data_offsets[4] + 100] ^= 1;
    fake->image = test::installer_with_image(image.bytes);
    std::map<std::string, std::string> good;  // an entry's path, or a folder on its way ("")
    for (const auto& file : files) {
        std::string path = staging + fake->native_entry_name(file.name);
        good[path] = file.data;
        while ((path = path.substr(0, path.rfind('/'))).size() + 1 > staging.size()) good[path] = "";
    }
    int writes = 0;
    fake->after_write = [&] {
        ++writes;
        for (const auto& [path, content] : fake->files) {
            const auto entry = good.find(path);
            if (entry != good.end()) {
                EXPECT_TRUE(content == entry->second && !content.empty())
                    << path << " holds " << content.size() << " unverified bytes after write " << writes;
            }
        }
    };
    expect_failed_with(run_worker(), corrupt_message);
    EXPECT_GT(writes, 5);
    EXPECT_EQ(fake->files[staging + ".Lumo-00000001.partial"], files[0].data);
    EXPECT_EQ(fake->files[staging + ".LUMO-00000002.PARTIAL"], "two");
    EXPECT_EQ(fake->files[staging + ".Lumo-00000003.partial/inner.txt"], "in a folder");
    EXPECT_EQ(fake->files[staging + "plain.txt"], "plain");
    EXPECT_EQ(fake->files.count(staging + ".lumo-00000005.partial"), 0u);
    EXPECT_EQ(fake->files.size(), 4u) << "no temporary file is left";
}

INSTANTIATE_TEST_SUITE_P(BothPaths, WorkerTest, ::testing::Values(ImagePath::streamed, ImagePath::whole),
                         [](const auto& info) { return info.param == ImagePath::streamed ? "streamed" : "whole"; });

}  // namespace
}  // namespace lumo
