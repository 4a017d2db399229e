// The POSIX platform against the real file system and processes.
#include "platform/posix/posix_platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "installer_process.h"
#include "launcher/staging_cleanup.h"
#include "platform/posix/posix_strings.h"

namespace lumo {
namespace {

using namespace lumo::test;

TEST(PosixStrings, GermanOnlyForGermanLocales) {
    const std::pair<const char*, bool> cases[] = {
        {"de", true}, {"de_DE.UTF-8", true}, {"de_CH", true}, {"de_AT@euro", true}, {"de.UTF-8", true},
        {"C", false}, {"POSIX", false}, {"en_US.UTF-8", false}, {"dexter", false}, {"", false}, {"fr_DE", false},
    };
    for (const auto& [name, german] : cases) EXPECT_EQ(locale_is_german(name), german) << name;
}

TEST(PosixStrings, FirstSetVariableDecides) {
    setenv("LC_ALL", "", 1);
    setenv("LC_MESSAGES", "de_DE.UTF-8", 1);
    setenv("LANG", "en_GB.UTF-8", 1);
    EXPECT_TRUE(user_language_is_german());
    PosixPlatform platform;
    EXPECT_EQ(platform.load_string(5), "Beim Entpacken der Installationsdaten trat ein fataler Fehler auf");
    EXPECT_NE(platform.load_string(2).find("besch\xc3\xa4" "digt"), std::string::npos) << "UTF-8 on POSIX";
    setenv("LC_ALL", "C", 1);
    EXPECT_FALSE(user_language_is_german());
    EXPECT_EQ(platform.load_string(5), "There was an error decompressing the files");
    EXPECT_EQ(platform.load_string(99), "");
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    unsetenv("LANG");
}

TEST(PosixPaths, EntryNamesBecomeUtf8WithSlashes) {
    PosixPlatform platform;
    EXPECT_EQ(platform.native_entry_name("Presets\\M\xe4rz\\Gr\xfc\xdf" "e.txt"),
              "Presets/M\xc3\xa4rz/Gr\xc3\xbc\xc3\x9f" "e.txt");
    setenv("TMPDIR", "/var/tmp/x", 1);
    EXPECT_EQ(platform.temp_folder(), "/var/tmp/x/");
    setenv("TMPDIR", "relative/tmp", 1);
    EXPECT_EQ(platform.temp_folder(), fs::current_path().string() + "/relative/tmp/");
    unsetenv("TMPDIR");
    EXPECT_EQ(platform.temp_folder(), "/tmp/");
}

TEST(PosixFiles, SearchReportsLinksAsLinks) {
    ScratchFolder scratch;
    fs::path dir = scratch.path();
    write_file(dir / "file", "f");
    fs::create_directory(dir / "folder");
    fs::create_directory_symlink(dir / "folder", dir / "folder_link");
    fs::create_symlink(dir / "file", dir / "file_link");
    PosixPlatform platform;
    FoundEntry entry;
    auto search = platform.find_first((dir / "*.*").string(), entry);
    ASSERT_TRUE(search);
    std::map<std::string, std::pair<bool, bool>> seen;  // name -> directory, link
    do seen[entry.name] = {entry.is_directory, entry.is_link};
    while (search->next(entry));
    using P = std::pair<bool, bool>;
    EXPECT_EQ(seen, (std::map<std::string, P>{{".", P{true, false}},
                                             {"..", P{true, false}},
                                             {"file", P{false, false}},
                                             {"folder", P{true, false}},
                                             {"folder_link", P{false, true}},
                                             {"file_link", P{false, true}}}));
    EXPECT_FALSE(platform.find_first((dir / "missing" / "*.*").string(), entry));
    EXPECT_FALSE(platform.find_first((dir / "folder_link" / "*.*").string(), entry)) << "never searched through a link";
}

std::unique_ptr<OutputFile> written_file(PosixPlatform& platform, const fs::path& path, const std::string& content) {
    auto file = platform.create_file(path.string(), {});
    uint32_t written = 0;
    if (file) {
        EXPECT_TRUE(file->write(reinterpret_cast<const uint8_t*>(content.data()), uint32_t(content.size()), written));
    }
    return file;
}

std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A file without write permission plays the read-only file: neither replaced
// nor deleted, even for root; a link in a file's place is never written
// through. A file that cannot be given its path leaves nothing behind.
TEST(PosixFiles, ReadOnlyFilesAndLinksAreNotWrittenThrough) {
    ScratchFolder scratch;
    fs::path dir = scratch.path();
    write_file(dir / "locked", "old", 0444);
    write_file(dir / "target", "target");
    fs::create_symlink(dir / "target", dir / "link");
    PosixPlatform platform;
    EXPECT_FALSE(written_file(platform, dir / "locked", "new")->finish());
    EXPECT_FALSE(platform.delete_file((dir / "locked").string()));
    EXPECT_FALSE(written_file(platform, dir / "link", "new")->finish());
    EXPECT_EQ(read_file(dir / "target"), "target");
    EXPECT_EQ(read_file(dir / "locked"), "old");
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"link", "locked", "target"}));
    EXPECT_TRUE(platform.delete_file((dir / "link").string()));
    EXPECT_TRUE(fs::exists(dir / "target"));

    auto file = written_file(platform, dir / "new", "abc");
    ASSERT_TRUE(file);
    EXPECT_FALSE(fs::exists(dir / "new")) << "nothing under the path before the file is finished";
    EXPECT_TRUE(file->finish());
    file.reset();
    EXPECT_EQ(read_file(dir / "new"), "abc");

    // Never finished: removed.
    written_file(platform, dir / "dropped", "abc").reset();
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"locked", "new", "target"}));
}

TEST(PosixFiles, StagingFolderIsCreatedPrivateAndRefusedWhenNotOurs) {
    ScratchFolder scratch;
    PosixPlatform platform;
    struct stat st;
    auto mode_of = [&](const fs::path& path) { return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u; };

    fs::path fresh = scratch.path() / "fresh";
    EXPECT_EQ(platform.prepare_staging_folder(fresh.string() + "/"), StagingCheck::ready);
    EXPECT_EQ(mode_of(fresh), 0700u);

    // Readable by others only: nobody else could have put anything in it.
    fs::path readable = scratch.path() / "readable";
    write_file(readable / "kept.txt", "kept");
    chmod(readable.c_str(), 0755);
    EXPECT_EQ(platform.prepare_staging_folder(readable.string() + "/"), StagingCheck::ready);
    EXPECT_EQ(mode_of(readable), 0700u);
    EXPECT_EQ(read_file(readable / "kept.txt"), "kept");

    // Open to others: moved aside and made anew, its content gone with it.
    fs::path open_to_all = scratch.path() / "open";
    write_file(open_to_all / "planted.dll", "x");
    chmod(open_to_all.c_str(), 0777);
    EXPECT_EQ(platform.prepare_staging_folder(open_to_all.string() + "/"), StagingCheck::ready);
    EXPECT_EQ(mode_of(open_to_all), 0700u);
    EXPECT_TRUE(fs::is_empty(open_to_all));

    fs::path link = scratch.path() / "link";
    fs::create_directory_symlink(fresh, link);
    EXPECT_EQ(platform.prepare_staging_folder(link.string() + "/"), StagingCheck::unsafe);

    fs::path theirs = scratch.path() / "theirs";
    fs::create_directory(theirs);
    ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0) << "the tests run as root";
    EXPECT_EQ(platform.prepare_staging_folder(theirs.string() + "/"), StagingCheck::unsafe);

    // A temporary folder where others may rename what is not theirs: the
    // staging folder could be swapped under the setup program's path.
    fs::path loose = scratch.path() / "loose";
    fs::create_directory(loose);
    chmod(loose.c_str(), 0777);
    EXPECT_EQ(platform.prepare_staging_folder((loose / "Lumo.40/").string()), StagingCheck::unsafe);
    EXPECT_FALSE(fs::exists(loose / "Lumo.40"));
    chmod(loose.c_str(), 01777);  // sticky, like /tmp: only the owner may rename an entry
    EXPECT_EQ(platform.prepare_staging_folder((loose / "Lumo.40/").string()), StagingCheck::ready);

    fs::path nowhere = scratch.path() / "missing" / "Lumo.40";
    EXPECT_EQ(platform.prepare_staging_folder(nowhere.string() + "/"), StagingCheck::unavailable);
    EXPECT_FALSE(platform.create_file((nowhere / "Setup.exe").string(), {}));
    EXPECT_FALSE(platform.create_directory(nowhere.string()));
}

// After the check, the calls below the staging folder act on the folder
// that was checked: a folder or link put in its path later is never used.
TEST(PosixFiles, StagingFolderIsHeldWhateverItsPathNamesLater) {
    ScratchFolder scratch;
    const fs::path staging = scratch.path() / "Lumo.40";
    const fs::path held = scratch.path() / "moved";
    const fs::path elsewhere = scratch.path() / "elsewhere";
    fs::create_directory(elsewhere);
    PosixPlatform platform;
    ASSERT_EQ(platform.prepare_staging_folder(staging.string() + "/"), StagingCheck::ready);
    fs::rename(staging, held);
    fs::create_directory_symlink(elsewhere, staging);

    ASSERT_TRUE(platform.create_directory((staging / "sub").string()));
    auto file = written_file(platform, staging / "sub" / "a.txt", "new");
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->finish());
    file.reset();
    EXPECT_EQ(read_file(held / "sub" / "a.txt"), "new");
    EXPECT_TRUE(fs::is_empty(elsewhere));

    std::FILE* read = platform.open_for_reading((staging / "sub" / "a.txt").string());
    ASSERT_TRUE(read);
    std::fclose(read);
    FoundEntry entry;
    auto search = platform.find_first((staging / "sub" / "*.*").string(), entry);
    ASSERT_TRUE(search);
    EXPECT_TRUE(platform.delete_file((staging / "sub" / "a.txt").string()));
    EXPECT_TRUE(platform.remove_directory((staging / "sub").string()));
    EXPECT_TRUE(fs::is_empty(held));

    // Below the held folder a link is never walked through, for a file or a search.
    fs::create_directory_symlink(elsewhere, held / "inner");
    EXPECT_FALSE(written_file(platform, staging / "inner" / "b.txt", "b")->finish());
    EXPECT_FALSE(platform.find_first((staging / "inner" / "*.*").string(), entry));
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_EQ(names_in(held), std::vector<std::string>{"inner"}) << "the unfinished file is gone";
}

// A file that is there is replaced, never written in place: another name of
// it (a hard link) keeps what it held.
TEST(PosixFiles, ExistingFileIsReplacedNotRewritten) {
    ScratchFolder scratch;
    write_file(scratch.path() / "outside.txt", "outside");
    fs::create_directory(scratch.path() / "Lumo.40");
    fs::create_hard_link(scratch.path() / "outside.txt", scratch.path() / "Lumo.40" / "a.txt");
    PosixPlatform platform;
    ASSERT_EQ(platform.prepare_staging_folder((scratch.path() / "Lumo.40/").string()), StagingCheck::ready);
    auto file = written_file(platform, scratch.path() / "Lumo.40" / "a.txt", "new");
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->finish());
    file.reset();
    EXPECT_EQ(read_file(scratch.path() / "Lumo.40" / "a.txt"), "new");
    EXPECT_EQ(read_file(scratch.path() / "outside.txt"), "outside");
}

TEST(PosixCleanup, RealTreeWithLinksAndAReadOnlyFile) {
    ScratchFolder scratch;
    fs::path staging = scratch.path() / "Lumo.40";
    fs::path outside = scratch.path() / "outside";
    write_file(outside / "precious", "keep");
    write_file(staging / "a" / "b" / "locked", "l", 0444);
    write_file(staging / "a" / "b" / "loose", "x");
    write_file(staging / "c" / "file", "x");
    write_file(staging / "noext", "x");
    fs::create_directory_symlink(outside, staging / "a" / "out");
    PosixPlatform platform;
    EXPECT_FALSE(empty_staging_folder(platform, staging.string() + "/"));
    EXPECT_EQ(read_file(outside / "precious"), "keep");
    EXPECT_TRUE(fs::exists(staging / "a" / "b" / "locked"));
    EXPECT_FALSE(fs::exists(staging / "a" / "b" / "loose"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(staging / "a" / "out")));
    EXPECT_FALSE(fs::exists(staging / "c"));
    EXPECT_FALSE(fs::exists(staging / "noext"));

    chmod((staging / "a" / "b" / "locked").c_str(), 0644);
    EXPECT_TRUE(empty_staging_folder(platform, staging.string()));
    EXPECT_TRUE(fs::is_empty(staging));
}

// The setup program: made executable, started in the held staging folder by
// its path from there, a Windows program through wine, and not waited for.
TEST(PosixProcess, StartsTheProgramDetachedInTheGivenFolder) {
    ScratchFolder scratch;
    fs::path folder = scratch.path() / "Lumo.40";
    fs::path record = scratch.path() / "record";
    const std::string recorder = "{ pwd; echo \"$0\"; echo \"$@\"; } > " + record.string() + ".part; mv " +
                                 record.string() + ".part " + record.string() + "\n";
    struct Case {
        const char* what;
        std::string content;
        std::vector<std::string> expected;  // current folder, $0, arguments
    };
    fs::path wine_folder = scratch.path() / "bin";
    write_file(wine_folder / "wine", "#!/bin/sh\n" + recorder, 0755);
    const Case cases[] = {
        {"script with #!", "#!/bin/sh\n" + recorder, {folder.string(), "./Setup.exe", ""}},
        {"script without #!", recorder, {folder.string(), "./Setup.exe", ""}},
        {"Windows program", "MZ\x90\n" + recorder, {folder.string(), (wine_folder / "wine").string(), "./Setup.exe"}},
    };
    std::string path = getenv("PATH");
    setenv("PATH", (wine_folder.string() + ":" + path).c_str(), 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(record);
        write_file(folder / "Setup.exe", c.content, 0644);
        PosixPlatform platform;
        ASSERT_EQ(platform.prepare_staging_folder(folder.string() + "/"), StagingCheck::ready);
        std::string program = (folder / "Setup.exe").string();
        std::string failure;
        EXPECT_TRUE(platform.start_program("\"" + program + "\"", program, folder.string() + "/", failure)) << failure;
        ASSERT_TRUE(wait_for_file(record, 10));
        std::string content = read_file(record);
        EXPECT_EQ(content, c.expected[0] + "\n" + c.expected[1] + "\n" + c.expected[2] + "\n");
        struct stat st;
        stat(program.c_str(), &st);
        EXPECT_TRUE(st.st_mode & S_IXUSR);
    }

    // Without Wine a Windows program is not run at all: above all not by the shell.
    setenv("PATH", (scratch.path() / "empty").c_str(), 1);
    fs::remove(record);
    write_file(folder / "Setup.exe", "MZ\n" + recorder, 0755);
    PosixPlatform platform;
    ASSERT_EQ(platform.prepare_staging_folder(folder.string() + "/"), StagingCheck::ready);
    const std::string program = (folder / "Setup.exe").string();
    std::string failure;
    EXPECT_FALSE(platform.start_program("\"" + program + "\"", program, folder.string() + "/", failure));
    EXPECT_EQ(failure, std::strerror(ENOEXEC));
    EXPECT_FALSE(wait_for_file(record, 0.5));

    // Nothing is started but from the folder the platform holds.
    setenv("PATH", path.c_str(), 1);
    write_file(folder / "Setup.exe", "#!/bin/sh\n" + recorder, 0755);
    PosixPlatform unchecked;
    EXPECT_FALSE(unchecked.start_program("\"" + program + "\"", program, folder.string() + "/", failure));
    EXPECT_FALSE(wait_for_file(record, 0.5));
    setenv("PATH", path.c_str(), 1);
}

// Wine is looked for in absolute folders of PATH only. An empty or relative
// entry would name a folder relative to the current one, and the program is
// started in the staging folder: a "wine" the payload put there would run.
TEST(PosixProcess, WineIsFoundOnlyInAbsoluteFoldersOfPath) {
    ScratchFolder scratch;
    const fs::path folder = scratch.path() / "Lumo.40", record = scratch.path() / "record";
    const fs::path wine_folder = scratch.path() / "bin";
    const std::string recorder = std::string("{ echo \"$0\"; } > ").append(record.string()) + ".part; mv " +
                                 record.string() + ".part " + record.string() + "\n";
    // The same "wine" where the installer starts and, planted by the payload,
    // in the staging folder, in its root and in "bin".
    const std::string planted = std::string("#!/bin/sh\necho planted > ").append((scratch.path() / "planted").string());
    for (const fs::path& at : {scratch.path(), folder, folder / "bin"}) write_file(at / "wine", planted + "\n", 0755);
    write_file(wine_folder / "wine", "#!/bin/sh\n" + recorder, 0755);
    write_file(folder / "Setup.exe", "MZ\n", 0755);

    const std::string path = getenv("PATH");
    const fs::path was = fs::current_path();
    fs::current_path(scratch.path());
    for (const char* first : {"", "bin", "."}) {
        const std::string entries = std::string(first) + ":" + wine_folder.string() + ":/usr/bin:/bin";
        SCOPED_TRACE(entries);
        fs::remove(record);
        setenv("PATH", entries.c_str(), 1);
        PosixPlatform platform;
        ASSERT_EQ(platform.prepare_staging_folder(folder.string() + "/"), StagingCheck::ready);
        const std::string program = (folder / "Setup.exe").string();
        std::string failure;
        EXPECT_TRUE(platform.start_program("\"" + program + "\"", program, folder.string() + "/", failure)) << failure;
        EXPECT_TRUE(wait_for_file(record, 10));
        EXPECT_EQ(read_file(record), (wine_folder / "wine").string() + "\n");
        EXPECT_FALSE(fs::exists(scratch.path() / "planted"));
    }
    fs::current_path(was);
    setenv("PATH", path.c_str(), 1);
}

TEST(PosixProcess, InstallerFileIsTheOwnExecutableReadAtOffsets) {
    PosixPlatform platform;
    const std::string own = read_file("/proc/self/exe");
    ASSERT_EQ(platform.installer_size(), own.size());
    uint8_t start[4] = {};
    ASSERT_TRUE(platform.read_installer(0, start, 4));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(start), 4), "\x7f" "ELF");
    std::vector<uint8_t> tail(100);
    ASSERT_TRUE(platform.read_installer(own.size() - 100, tail.data(), 100));
    EXPECT_EQ(std::string(tail.begin(), tail.end()), own.substr(own.size() - 100));
    EXPECT_FALSE(platform.read_installer(own.size() - 99, tail.data(), 100)) << "past the end";
    EXPECT_FALSE(platform.read_installer(uint64_t(1) << 40, tail.data(), 1));
}

}  // namespace
}  // namespace lumo
