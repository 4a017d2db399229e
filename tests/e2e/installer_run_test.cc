// The POSIX installer run end to end: installers built by lumopack (or, for
// payloads lumopack refuses to build, from hand-made images packed by the
// encoder) started as a user starts them, with TMPDIR in a scratch folder and
// a stand-in setup program that records where and how it was started.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <set>
#include <tuple>

#include "image_builder.h"
#include "installer_process.h"
#include "payload/installer_layout.h"
#include "resources/strings.h"
#include "tools/encoder/encoder.h"

namespace lumo {
namespace {

using namespace lumo::test;

// Records the current folder, the program path and the number of arguments
// beside the temporary folder; renamed into place so a reader never sees half.
const char* const recording_setup =
    "#!/bin/sh\n"
    "{ pwd; echo \"$0\"; echo \"$#\"; } > \"$TMPDIR/../setup-record.part\"\n"
    "mv \"$TMPDIR/../setup-record.part\" \"$TMPDIR/../setup-record\"\n";

std::string terminal(std::string text) {
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
    return text;
}

// "\344" and the like: the shared texts are Windows-1252; the terminal shows UTF-8.
std::string utf8(const std::string& cp1252) {
    std::string out;
    for (unsigned char c : cp1252) {
        if (c < 0x80) out += char(c);
        else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

class InstallerRun : public ::testing::Test, protected InstallerFolders {
protected:
    fs::path setup_record() const { return root() / "setup-record"; }

    void add(const std::string& name, const std::string& content, mode_t mode = 0644) {
        write_file(addon() / name, content, mode);
    }

    void pack_with_lumopack() {
        ProcessResult packed = run_process(LUMOPACK_PATH, {"build", addon().string(), "-o", installer().string(),
                                                            "--stub", LUMO_STUB_PATH},
                                           {});
        ASSERT_EQ(packed.exit_code, 0) << packed.output;
    }

    // An installer around an image lumopack would never build.
    void pack_image(const std::vector<uint8_t>& image) {
        std::string stub = read_file(LUMO_STUB_PATH);
        std::vector<uint8_t> bytes(stub.begin(), stub.end());
        std::vector<uint8_t> stream = pack_stream(image, EncoderOptions{});
        std::vector<uint8_t> stored(8, 0);
        put_le32(stored, 0, uint32_t(stream.size()));
        put_le32(stored, 4, uint32_t(image.size()));
        stored.insert(stored.end(), stream.begin(), stream.end());
        ASSERT_TRUE(append_stored_payload(bytes, stored));
        write_file(installer(), std::string(bytes.begin(), bytes.end()), 0755);
    }

    ProcessResult run_installer_file(const std::string& language = "C") {
        return run_process(installer().string(), {},
                           {{"TMPDIR", tmp().string()},
                            {"LC_ALL", ""},
                            {"LC_MESSAGES", ""},
                            {"LANG", language},
                            {"WINEPREFIX", (root() / "no-wine-prefix").string()}});
    }

    // The setup program ran: its current folder and program path.
    std::vector<std::string> setup_ran() {
        if (!wait_for_file(setup_record(), 10)) return {};
        std::vector<std::string> lines;
        std::string content = read_file(setup_record());
        for (size_t start = 0, end; (end = content.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(content.substr(start, end - start));
        return lines;
    }
    bool setup_never_ran() {
        // The installer has exited; a program it started would be running by now.
        usleep(300 * 1000);
        return !fs::exists(setup_record());
    }

    std::string message(const char* text) { return std::string(LUMO_CAPTION) + "\n" + terminal(text) + "\n"; }
    std::string copy_error(const fs::path& path) {
        return std::string(LUMO_CAPTION) + "\n" + terminal(LUMO_STR3_EN) + path.string() + terminal(LUMO_STR4_EN) + "\n";
    }
};

TEST_F(InstallerRun, NormalRunWritesEveryFileAndStartsTheSetupProgramInTheStagingFolder) {
    std::mt19937 random(7);
    std::string data(300000, '\0');
    for (auto& c : data) c = char(random() % 7);  // compressible but not trivial
    add("Setup.exe", recording_setup, 0644);
    add("Readme.txt", "Read me.\n");
    add("Sounds/Deep/data.bin", data);
    add("Presets/W\xc3\xa4rme \xe2\x82\xac.preset", "warm");  // stored in Windows-1252, written back as UTF-8
    pack_with_lumopack();

    ProcessResult result = run_installer_file();
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.output, "") << "not a terminal: nothing but messages";
    EXPECT_EQ(read_file(staging() / "Readme.txt"), "Read me.\n");
    EXPECT_EQ(read_file(staging() / "Sounds" / "Deep" / "data.bin"), data);
    EXPECT_EQ(read_file(staging() / "Presets" / "W\xc3\xa4rme \xe2\x82\xac.preset"), "warm");
    // Started from the staging folder it holds, by its path from there.
    EXPECT_EQ(setup_ran(), (std::vector<std::string>{staging().string(), "./Setup.exe", "0"}));
    struct stat st;
    ASSERT_EQ(stat(staging().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "the staging folder is private";
}

// With a setup script and no installed product (an empty Wine prefix),
// nothing is written after the setup program, which starts all the same.
// The installer streams its add-on: one of 300 MB installs whole in an
// address space of 128 MiB, less than half of it, where holding the image
// would need all of it (the former installer said it had not enough memory).
TEST_F(InstallerRun, LargeAddOnInstallsInAnAddressSpaceFarBelowItsSize) {
    add("Setup.exe", recording_setup, 0755);
    // Zeros pack to almost nothing, so that packing costs little.
    const std::string block(100u << 20, '\0');
    for (const char* name : {"Sounds-a.bin", "Sounds-b.bin", "Sounds-c.bin"}) add(name, block);
    ProcessResult packed = run_process(LUMOPACK_PATH, {"build", addon().string(), "-o", installer().string(),
                                                        "--stub", LUMO_STUB_PATH, "--level", "1"},
                                       {});
    ASSERT_EQ(packed.exit_code, 0) << packed.output;
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's shadow memory takes terabytes of address space: the
    // limit holds for the release build's installer only.
    const char* limit = "exec \"$0\"";
#else
    const char* limit = "ulimit -v 131072 && exec \"$0\"";
#endif
    ProcessResult run = run_process("/bin/sh", {"-c", limit, installer().string()},
                                    {{"TMPDIR", tmp().string()}, {"LANG", "C"}});
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(terminal(run.output).find("memory"), std::string::npos) << run.output;
    for (const char* name : {"Sounds-a.bin", "Sounds-b.bin", "Sounds-c.bin"}) {
        EXPECT_EQ(fs::file_size(staging() / name), block.size()) << name;
        EXPECT_TRUE(read_file(staging() / name) == block) << name;
    }
    EXPECT_EQ(setup_ran().size(), 3u);
}

TEST_F(InstallerRun, SetupScriptWithoutTheProductStopsRightAfterTheSetupProgram) {
    add("Setup.cfg", read_file(fs::path(LUMO_SOURCE_DIR) / "examples" / "addon" / "Setup.cfg"));
    add("Setup.exe", recording_setup);
    add("Readme.txt", "not written");
    pack_with_lumopack();
    ProcessResult result = run_installer_file();
    EXPECT_EQ(result.output, "");
    EXPECT_TRUE(fs::exists(staging() / "Setup.cfg"));
    EXPECT_TRUE(fs::exists(staging() / "Setup.exe"));
    EXPECT_FALSE(fs::exists(staging() / "Readme.txt"));
    EXPECT_EQ(setup_ran().size(), 3u);
}

// Windows takes "setup.exe" in any letter case for the setup program, and so
// do the packer (second, right after the script), the early stop and the
// start here: an add-on made for Windows runs the same.
TEST_F(InstallerRun, SetupProgramInAnyLetterCaseIsPackedSecondStopsTheRunAndIsStarted) {
    for (const std::string name : {"Setup.exe", "setup.exe", "SETUP.EXE"}) {
        SCOPED_TRACE(name);
        for (const fs::path& made : {addon(), staging(), installer(), setup_record()}) fs::remove_all(made);
        add("Setup.cfg", read_file(fs::path(LUMO_SOURCE_DIR) / "examples" / "addon" / "Setup.cfg"));
        add(name, recording_setup);
        add("Readme.txt", "not written");
        ProcessResult packed = run_process(LUMOPACK_PATH, {"build", addon().string(), "-o", installer().string(),
                                                            "--stub", LUMO_STUB_PATH},
                                           {});
        ASSERT_EQ(packed.exit_code, 0) << packed.output;
        EXPECT_EQ(packed.output.find("no Setup.exe"), std::string::npos) << packed.output;
        const std::string listed = run_process(LUMOPACK_PATH, {"list", installer().string()}, {}).output;
        const size_t script = listed.find(" Setup.cfg\n"), program = listed.find(" " + name + "\n"),
                     readme = listed.find(" Readme.txt\n");
        ASSERT_NE(readme, std::string::npos) << listed;
        EXPECT_TRUE(script < program && program < readme) << listed;

        ProcessResult result = run_installer_file();
        EXPECT_EQ(result.exit_code, 0) << result.output;
        EXPECT_EQ(result.output, "");
        EXPECT_TRUE(fs::exists(staging() / name));
        EXPECT_FALSE(fs::exists(staging() / "Readme.txt")) << "the early stop did not take " << name;
        EXPECT_EQ(setup_ran(), (std::vector<std::string>{staging().string(), "./" + name, "0"}));
    }
}

// A run that starts nothing says so, in the system's words, and fails: an
// add-on without a setup program, or with a folder in its place.
TEST_F(InstallerRun, SetupProgramThatCannotBeStartedIsReportedWithTheSystemsReason) {
    const struct Case {
        const char* what;
        std::vector<ImageFile> entries;
        std::string reason;
    } cases[] = {
        {"no setup program", {}, std::strerror(ENOENT)},
        {"a folder in its place", {{"Setup.exe\\inside.txt", "x"}}, std::strerror(EACCES)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(staging());
        pack_image(build_image(c.entries).bytes);
        ProcessResult result = run_installer_file();
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.output, std::string(LUMO_CAPTION) + "\n" + terminal(LUMO_STR9_EN) +
                                     (staging() / "Setup.exe").string() + terminal(LUMO_STR10_EN) + c.reason + "\n");
        EXPECT_TRUE(setup_never_ran());
    }
    EXPECT_TRUE(fs::is_directory(staging() / "Setup.exe"));
}

TEST_F(InstallerRun, CorruptEntryInTheMiddleKeepsEarlierFilesShowsOneMessageAndStartsNothing) {
    auto image = build_image({{"Setup.exe", recording_setup}, {"one", "1"}, {"two", "2"}, {"three", "3"}, {"four", "4"}});
    image.bytes[image.data_offsets[3]] ^= 0x40;
    pack_image(image.bytes);
    ProcessResult result = run_installer_file();
    EXPECT_EQ(result.output, message(LUMO_STR2_EN));
    EXPECT_TRUE(fs::exists(staging() / "Setup.exe"));
    EXPECT_EQ(read_file(staging() / "two"), "2");
    EXPECT_FALSE(fs::exists(staging() / "three"));
    EXPECT_FALSE(fs::exists(staging() / "four"));
    EXPECT_TRUE(setup_never_ran());
}

TEST_F(InstallerRun, GermanUserSeesGermanMessages) {
    auto image = build_image({{"Setup.exe", recording_setup}});
    image.bytes[image.data_offsets[0]] ^= 0x40;
    pack_image(image.bytes);
    for (const char* locale : {"de_DE.UTF-8", "de_AT@euro"}) {
        ProcessResult result = run_installer_file(locale);
        EXPECT_EQ(result.output, std::string(LUMO_CAPTION) + "\n" + utf8(terminal(LUMO_STR2_DE)) + "\n") << locale;
    }
}

TEST_F(InstallerRun, ReadOnlyFileInTheWayIsACopyErrorNamingTheFullPath) {
    add("Setup.exe", recording_setup);
    add("Presets/Warm.preset", "warm");
    add("Presets/Zeta.preset", "zeta");
    pack_with_lumopack();
    // Left by an earlier run, read-only: the clean-up keeps it, the writer cannot replace it.
    write_file(staging() / "Presets" / "Warm.preset", "old", 0444);
    chmod(staging().c_str(), 0700);

    ProcessResult result = run_installer_file();
    EXPECT_EQ(result.output, copy_error(staging() / "Presets" / "Warm.preset"));
    EXPECT_EQ(read_file(staging() / "Presets" / "Warm.preset"), "old");
    EXPECT_FALSE(fs::exists(staging() / "Presets" / "Zeta.preset"));
    EXPECT_TRUE(setup_never_ran());
}

TEST_F(InstallerRun, CleanUpRemovesLinksWithoutFollowingThemAndKeepsReadOnlyFiles) {
    add("Setup.exe", recording_setup);
    add("new.txt", "new");
    pack_with_lumopack();
    fs::path outside = root() / "outside";
    write_file(outside / "precious.txt", "keep me");
    write_file(staging() / "old.txt", "old");
    write_file(staging() / "sub" / "inner" / "locked.txt", "locked", 0444);
    write_file(staging() / "sub" / "inner" / "other.txt", "other");
    write_file(staging() / "sub" / "gone.txt", "gone");
    fs::create_directory_symlink(outside, staging() / "to_outside");
    fs::create_symlink(outside / "precious.txt", staging() / "to_precious");
    chmod(staging().c_str(), 0700);

    ProcessResult result = run_installer_file();
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(read_file(outside / "precious.txt"), "keep me");
    EXPECT_FALSE(fs::exists(fs::symlink_status(staging() / "to_outside")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(staging() / "to_precious")));
    EXPECT_FALSE(fs::exists(staging() / "old.txt"));
    EXPECT_FALSE(fs::exists(staging() / "sub" / "gone.txt"));
    EXPECT_FALSE(fs::exists(staging() / "sub" / "inner" / "other.txt"));
    EXPECT_EQ(read_file(staging() / "sub" / "inner" / "locked.txt"), "locked");
    EXPECT_EQ(read_file(staging() / "new.txt"), "new");
    EXPECT_EQ(setup_ran().size(), 3u);
}

// Names from the payload are never trusted: each of these makes the payload
// corrupt, and nothing is written outside the staging folder.
TEST_F(InstallerRun, HostileNamesNeverLeaveTheStagingFolder) {
    std::string absolute = (root() / "absolute.txt").string();
    for (auto& c : absolute) if (c == '/') c = '\\';
    const std::string names[] = {
        "..\\escaped.txt", "..\\..\\escaped.txt", "sub\\..\\..\\escaped.txt", "../escaped.txt",
        absolute, "C:\\escaped.txt", "sub\\\\x",
    };
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        pack_image(build_image({{"first.txt", "ok"}, {name, "evil"}, {"Setup.exe", recording_setup}}).bytes);
        ProcessResult result = run_installer_file();
        EXPECT_EQ(result.output, message(LUMO_STR2_EN));
        EXPECT_EQ(read_file(staging() / "first.txt"), "ok");
        EXPECT_FALSE(fs::exists(tmp() / "escaped.txt"));
        EXPECT_FALSE(fs::exists(root() / "escaped.txt"));
        EXPECT_FALSE(fs::exists(root() / "absolute.txt"));
        EXPECT_TRUE(setup_never_ran());
    }
}

TEST_F(InstallerRun, TruncatedOrBareInstallersAreCorrupt) {
    add("Setup.exe", recording_setup);
    add("data.bin", std::string(100000, 'd'));
    pack_with_lumopack();
    const std::string whole = read_file(installer());
    const std::string stub = read_file(LUMO_STUB_PATH);
    const std::pair<const char*, std::string> cases[] = {
        {"cut in the payload", whole.substr(0, stub.size() + (whole.size() - stub.size()) / 2)},
        {"cut in the trailer", whole.substr(0, whole.size() - 3)},
        {"the stub alone", stub},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        write_file(installer(), bytes, 0755);
        ProcessResult result = run_installer_file();
        EXPECT_EQ(result.output, message(LUMO_STR2_EN));
        EXPECT_FALSE(fs::exists(staging() / "data.bin"));
        EXPECT_TRUE(setup_never_ran());
    }
}

TEST_F(InstallerRun, StagingFolderThatIsALinkOrAnotherUsersIsNeverUsed) {
    add("Setup.exe", recording_setup);
    pack_with_lumopack();
    fs::path elsewhere = root() / "elsewhere";
    write_file(elsewhere / "keep.txt", "keep");

    fs::create_directory_symlink(elsewhere, staging());
    ProcessResult linked = run_installer_file();
    std::string unsafe = std::string(LUMO_CAPTION) + "\n" + terminal(LUMO_STR6_EN) + staging().string() + "/" +
                         terminal(LUMO_STR7_POSIX_EN) + "\n";
    EXPECT_EQ(linked.output, unsafe);
    EXPECT_EQ(read_file(elsewhere / "keep.txt"), "keep");
    EXPECT_FALSE(fs::exists(elsewhere / "Setup.exe"));

    fs::remove(staging());
    write_file(staging() / "theirs.txt", "theirs");
    ASSERT_EQ(chown(staging().c_str(), 65534, 65534), 0) << "the tests run as root to own a folder for another user";
    ProcessResult foreign = run_installer_file();
    EXPECT_EQ(foreign.output, unsafe);
    EXPECT_EQ(read_file(staging() / "theirs.txt"), "theirs");
    EXPECT_FALSE(fs::exists(staging() / "Setup.exe"));
    EXPECT_TRUE(setup_never_ran());
}

// On a terminal the dialog shows its title, the prompt with the staging
// folder and one bar line, rewritten only when the percentage changes.
TEST_F(InstallerRun, TerminalShowsTheDialogAndRedrawsOnlyOnChange) {
    add("Setup.exe", recording_setup);
    std::mt19937 random(3);
    std::string data(2000000, '\0');
    for (auto& c : data) c = char(random());
    add("noise.bin", data);
    pack_with_lumopack();
    for (const auto& [locale, title, prompt] :
         {std::tuple{"C", LUMO_DIALOG_TITLE_EN, LUMO_DIALOG_PROMPT_EN},
          std::tuple{"de_DE.UTF-8", LUMO_DIALOG_TITLE_DE, LUMO_DIALOG_PROMPT_DE}}) {
        SCOPED_TRACE(locale);
        fs::remove(setup_record());
        TerminalProcess shown(installer().string(), {{"TMPDIR", tmp().string()}, {"LANG", locale}, {"LC_ALL", ""}});
        ASSERT_EQ(shown.wait_for_exit(30), 0) << shown.output();
        std::string out = shown.output();
        for (size_t at; (at = out.find("\r\n")) != std::string::npos;) out.erase(at, 1);  // the terminal's own CR
        const std::string head = std::string(title) + "\n" + prompt + staging().string() + "/\n";
        ASSERT_EQ(out.substr(0, head.size()), head);
        // Bar lines, each drawn over the one before.
        std::vector<std::string> bars;
        for (size_t at = head.size(); (at = out.find('\r', at)) != std::string::npos; ++at)
            bars.push_back(out.substr(at + 1, out.find_first_of("\r\n", at + 1) - at - 1));
        ASSERT_GE(bars.size(), 2u);
        EXPECT_NE(bars.front().find(" 0% "), std::string::npos) << bars.front();
        std::set<std::string> distinct(bars.begin(), bars.end());
        EXPECT_EQ(distinct.size(), bars.size()) << "a percentage drawn twice";
        // Only the header and the directory are never written: 2 MB of files round to 100.
        const std::string half(18, '#');
        EXPECT_EQ(bars.back(), "[" + half + "100%" + half + "]");
        EXPECT_EQ(setup_ran().size(), 3u);
    }
}

// A failure on a terminal waits for Enter, as the message box waits for its
// button, and only then does the installer end.
TEST_F(InstallerRun, MessageOnATerminalWaitsForEnter) {
    auto image = build_image({{"Setup.exe", recording_setup}});
    image.bytes[image.data_offsets[0]] ^= 1;
    pack_image(image.bytes);
    TerminalProcess shown(installer().string(), {{"TMPDIR", tmp().string()}, {"LANG", "C"}, {"LC_ALL", ""}});
    ASSERT_TRUE(shown.wait_for_output("[ OK ]", 30)) << shown.output();
    EXPECT_NE(shown.output().find(LUMO_CAPTION), std::string::npos);
    EXPECT_EQ(shown.wait_for_exit(0.5), -1) << "ended without confirmation";
    shown.type("\n");
    EXPECT_EQ(shown.wait_for_exit(10), 0);
    EXPECT_TRUE(setup_never_ran());
}

}  // namespace
}  // namespace lumo
