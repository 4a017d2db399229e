// Faults of the file system around a run: a full disk, read-only folders, a
// staging or temporary folder that cannot be made, an installer killed in
// the middle of writing. The small and read-only file systems are tmpfs
// mounts made here, so the tests run as root (as the test command does).
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <functional>
#include <random>

#include "installer_fixture.h"

namespace lumo::test {
namespace {

// A tmpfs of `kilobytes` mounted at `path` for the test's duration.
class SmallFileSystem {
public:
    SmallFileSystem(const fs::path& path, int kilobytes) : path_(path) {
        fs::create_directories(path);
        const std::string options = "size=" + std::to_string(kilobytes) + "k,mode=0755";
        mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
        EXPECT_TRUE(mounted_) << "mounting a tmpfs at " << path << " needs root: " << std::strerror(errno);
    }
    ~SmallFileSystem() {
        if (mounted_) umount2(path_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    // From now on nothing below it can be written, created or removed.
    void make_read_only() {
        EXPECT_EQ(mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr), 0) << std::strerror(errno);
    }

private:
    fs::path path_;
    bool mounted_ = false;
};

std::string random_bytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& c : bytes) c = char(random());
    return bytes;
}

// Every file below `folder`, relative to it.
std::vector<std::string> files_below(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() || entry.is_symlink()) names.push_back(fs::relative(entry.path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

class FileSystemFaults : public InstallerFixture {};

TEST_F(FileSystemFaults, FullDiskIsACopyErrorNamingTheFileAndNothingStarts) {
    add("Setup.exe", recording_setup);
    add("a.txt", "small");
    add("big.bin", random_bytes(400 * 1024, 1));
    add("later.txt", "never written");
    write_file(installer(), pack_addon(), 0755);

    SmallFileSystem small(root() / "small", 256);
    ASSERT_TRUE(small.mounted());
    ProcessResult result = run_installer_file({{"TMPDIR", (root() / "small").string()}});
    const fs::path staging_on_small = root() / "small" / "Lumo.40";
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.output, copy_error(staging_on_small / "big.bin"));
    EXPECT_EQ(read_file(staging_on_small / "a.txt"), "small");
    EXPECT_FALSE(fs::exists(staging_on_small / "later.txt"));
    EXPECT_TRUE(setup_never_ran());
}

TEST_F(FileSystemFaults, PackerOnAFullDiskFailsWithoutPartialOutput) {
    add("Setup.exe", recording_setup);
    add("a.txt", "small");
    add("big.bin", random_bytes(400 * 1024, 2));
    const std::string good = pack_addon();
    SmallFileSystem small(root() / "small", 256);
    ASSERT_TRUE(small.mounted());

    const fs::path out = root() / "small" / "addon.exe";
    ProcessResult built = lumopack({"build", addon().string(), "-o", out.string(), "--stub", LUMO_STUB_PATH});
    EXPECT_NE(built.exit_code, 0) << built.output;
    EXPECT_NE(built.output.find("addon.exe"), std::string::npos) << "the message names the output: " << built.output;
    EXPECT_TRUE(files_below(root() / "small").empty()) << "left behind: " << files_below(root() / "small").front();

    // Extracting: the file the disk could not hold is not left cut short.
    const fs::path folder = root() / "small" / "out";
    ProcessResult extracted = lumopack({"extract", installer().string(), "-C", folder.string()});
    EXPECT_NE(extracted.exit_code, 0) << extracted.output;
    EXPECT_NE(extracted.output.find("big.bin"), std::string::npos) << extracted.output;
    EXPECT_FALSE(fs::exists(folder / "big.bin")) << "a cut-short big.bin stays";
    for (const auto& name : files_below(folder))
        EXPECT_TRUE(read_file(folder / name) == read_file(addon() / name)) << name << " is not whole";
}

TEST_F(FileSystemFaults, ReadOnlyFolderInTheWayIsACopyErrorNamingTheFile) {
    add("Setup.exe", recording_setup);
    add("Presets/Warm.preset", "warm");
    write_file(installer(), pack_addon(), 0755);
    SmallFileSystem temporary(root() / "ro", 64);
    ASSERT_TRUE(temporary.mounted());
    const fs::path staging_on_ro = root() / "ro" / "Lumo.40";
    write_file(staging_on_ro / "old.txt", "left by an earlier run");
    chmod(staging_on_ro.c_str(), 0700);
    temporary.make_read_only();

    ProcessResult result = run_installer_file({{"TMPDIR", (root() / "ro").string()}});
    EXPECT_EQ(result.output, copy_error(staging_on_ro / "Setup.exe"));
    EXPECT_EQ(read_file(staging_on_ro / "old.txt"), "left by an earlier run");
    EXPECT_TRUE(setup_never_ran());
}

TEST_F(FileSystemFaults, StagingOrTemporaryFolderThatCannotBeMadeIsACopyError) {
    add("Setup.exe", recording_setup);
    add("Readme.txt", "read me");
    write_file(installer(), pack_addon(), 0755);
    SmallFileSystem read_only(root() / "ro", 64);
    ASSERT_TRUE(read_only.mounted());
    read_only.make_read_only();

    const fs::path cases[] = {
        root() / "ro",                    // the staging folder cannot be created in it
        root() / "missing" / "deeper",    // neither the temporary folder nor its parent exists
        root() / "ro" / "missing",        // the temporary folder cannot be created
    };
    for (const auto& temporary : cases) {
        SCOPED_TRACE(temporary.string());
        ProcessResult result = run_installer_file({{"TMPDIR", temporary.string()}});
        EXPECT_EQ(result.output, copy_error(temporary / "Lumo.40" / "Setup.exe"));
        EXPECT_TRUE(setup_never_ran());
    }
    EXPECT_FALSE(fs::exists(root() / "missing"));
}

TEST_F(FileSystemFaults, MissingTemporaryFolderIsCreated) {
    add("Setup.exe", recording_setup);
    add("Readme.txt", "read me");
    write_file(installer(), pack_addon(), 0755);
    const fs::path temporary = root() / "not-yet";
    ProcessResult result = run_installer_file({{"TMPDIR", temporary.string()}});
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(read_file(temporary / "Lumo.40" / "Readme.txt"), "read me");
}

// Starts the installer without waiting for it.
pid_t start_installer(const fs::path& program, const fs::path& temporary) {
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0), dup2(null, 1), dup2(null, 2);
        setenv("TMPDIR", temporary.c_str(), 1);
        setenv("LANG", "C", 1);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return child;
}

// Polls `writing` every `pause_us` up to `tries` times, then kills the
// installer and reaps it. True when the sign of writing was seen.
bool kill_once_writing(pid_t child, int tries, useconds_t pause_us, const std::function<bool()>& writing, int& status) {
    bool seen = false;
    for (int wait = 0; wait < tries && !seen; ++wait) {
        usleep(pause_us);
        seen = writing();
    }
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    return seen;
}

TEST_F(FileSystemFaults, InstallerKilledWhileWritingLeavesNothingThatSpoilsTheNextRun) {
    add("Setup.exe", recording_setup);
    constexpr int file_count = 400;
    for (int i = 0; i < file_count; ++i) add("data/file" + std::to_string(1000 + i), random_bytes(48 * 1024, i));
    write_file(installer(), pack_addon({"--level", "1"}), 0755);

    const pid_t child = start_installer(installer(), tmp());
    ASSERT_GT(child, 0);
    // Killed as soon as the writing has begun.
    int status = 0;
    const bool writing = kill_once_writing(child, 3000, 2000, [&] {
        std::error_code error;
        return fs::exists(staging() / "data", error);
    }, status);
    ASSERT_TRUE(writing) << "the installer never began to write";
    ASSERT_TRUE(WIFSIGNALED(status)) << "the installer ended before it was killed; make the payload bigger";
    EXPECT_LT(files_below(staging()).size(), size_t(file_count + 1));
    EXPECT_TRUE(setup_never_ran());
    write_file(staging() / "data" / "stale.tmp", "from no installer");

    ProcessResult result = run_installer_file();
    EXPECT_EQ(result.output, "");
    EXPECT_TRUE(setup_ran());
    EXPECT_EQ(files_below(staging()), files_below(addon()));
    for (int i = 0; i < file_count; i += 37) {
        const std::string name = "data/file" + std::to_string(1000 + i);
        EXPECT_TRUE(read_file(staging() / name) == read_file(addon() / name)) << name;
    }
}

// The entry after the setup program is named as the POSIX writer names the
// second file it writes. Killed while that entry is written, the installer
// leaves its bytes under a name of the writer's own, never under the
// entry's.
TEST_F(FileSystemFaults, InstallerKilledWhileWritingAnEntryNamedLikeATemporaryFileLeavesNoPartOfIt) {
    const std::string second = ".Lumo-00000002.partial";
    add("Setup.exe", recording_setup);
    add(second, std::string(size_t(160) << 20, '\0'));
    write_file(installer(), pack_addon({"--level", "1"}), 0755);

    const pid_t child = start_installer(installer(), tmp());
    ASSERT_GT(child, 0);
    // Killed as soon as a file other than the setup program stands in the
    // staging folder.
    int status = 0;
    const bool writing = kill_once_writing(child, 20000, 500, [&] {
        std::error_code error;
        for (auto it = fs::directory_iterator(staging(), error); !error && it != fs::directory_iterator();
             it.increment(error))
            if (it->path().filename() != "Setup.exe") return true;
        return false;
    }, status);
    ASSERT_TRUE(writing) << "the installer never began to write";
    ASSERT_TRUE(WIFSIGNALED(status)) << "the installer ended before it was killed; make the entry bigger";
    std::error_code error;
    const auto size = fs::file_size(staging() / second, error);
    EXPECT_TRUE(error || size == (size_t(160) << 20)) << second << " holds " << size << " unverified bytes";
    EXPECT_TRUE(setup_never_ran());
}

}  // namespace
}  // namespace lumo::test
