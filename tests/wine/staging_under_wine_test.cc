// The staging folder and the installer's own file under Wine: the DACL the
// staging folder is made with, the run of an administrator's normal token
// after an elevated one, installers saved under names outside the ANSI code
// page, a temporary folder outside it, and a link planted in the folder.
//
// What Wine can show and what it cannot: Wine keeps no security descriptor
// of its own for a file. It derives the owner from the Unix owner (the
// user, or "anonymous" for another Unix user) and the DACL from the Unix
// mode: SYSTEM and the owner always, Everyone for the "other" bits; a DACL
// that is set becomes a mode. So it shows that the staging folder is made,
// and made again, closed to everyone but the user, but not the protected
// flag, the Administrators' ACE or an owner of Administrators. The owner an
// elevated run leaves is judged by the platform's own decision over the
// descriptors Windows would leave (the "judge" case table of staging_probe),
// and the two runs themselves go through under an elevated and a limited
// token. Wine's short names are always ASCII, so the temporary folder that
// has no short form fitting the code page is not shown here.
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <regex>
#include <thread>

#include "installer_under_wine.h"

namespace lumo::wine {
namespace {

const fs::path probe = helpers / "staging_probe.exe";

// The SIDs of the ACEs in `sddl` that grant anything, with their rights.
std::vector<std::pair<std::string, std::string>> grants(const std::string& sddl) {
    std::vector<std::pair<std::string, std::string>> found;
    static const std::regex ace(R"(\(A;[^;]*;([^;]*);[^;]*;[^;]*;([^)]*)\))");
    for (auto it = std::sregex_iterator(sddl.begin(), sddl.end(), ace); it != std::sregex_iterator(); ++it)
        found.emplace_back((*it)[2], (*it)[1]);
    return found;
}

// Whether SDDL `rights` let one add, remove or re-secure entries.
bool lets_write(const std::string& rights) {
    if (rights.rfind("0x", 0) == 0) return std::stoul(rights, nullptr, 16) & 0x500D0146ul;
    for (size_t at = 0; at + 1 < rights.size(); at += 2)
        for (const char* code : {"FA", "FW", "GA", "GW", "SD", "WD", "WO", "DC", "LC", "DT", "CR"})
            if (rights.compare(at, 2, code) == 0) return true;
    return false;
}

// The user's SID: the owner of what the user makes.
std::string owner_of(const std::string& sddl) {
    const size_t start = sddl.find("O:");
    return sddl.substr(start + 2, sddl.find("D:") - start - 2);
}

mode_t mode_of(const fs::path& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST_F(InstallerUnderWine, StagingFolderIsMadeAndKeptClosedToOthers) {
    const fs::path installer = build_installer("closed", {{"readme.txt", "closed"}});
    const std::string staging = staging_windows_path().substr(0, staging_windows_path().size() - 1);
    struct Case {
        const char* what;
        std::function<void()> before;
        bool others_may_read;
    } cases[] = {
        {"made by the run", [] {}, false},
        // Left open to everyone, as one made in a temporary folder where
        // everyone may write, with a read-only file someone put there that
        // the clean-up cannot remove: never used again, but moved aside with
        // that file and made anew.
        {"left open to everyone",
         [&] {
             write_file(staging_ / "stale.txt", "stale");
             write_file(staging_ / "version.dll", "planted");
             chmod((staging_ / "version.dll").c_str(), 0444);
             chmod(staging_.c_str(), 0777);
         },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(staging_);
        for (const auto& entry : fs::directory_iterator(staging_.parent_path()))
            if (entry.path().filename().string().starts_with("Lumo.40.old-")) fs::remove_all(entry.path());
        c.before();
        EXPECT_EQ(run_and_confirm(installer), "");
        EXPECT_NE(setup_record(), "");
        EXPECT_EQ(read_file(staging_ / "readme.txt"), "closed");
        EXPECT_FALSE(fs::exists(staging_ / "stale.txt"));
        EXPECT_FALSE(fs::exists(staging_ / "version.dll")) << "an entry of the open folder is still in the staging folder";

        RunResult read = session_->run(probe, {"sddl", staging});
        ASSERT_EQ(read.exit_code, 0) << read.output;
        const std::string user = owner_of(read.output);
        for (const auto& [sid, rights] : grants(read.output)) {
            if (sid == user || sid == "SY" || sid == "BA") continue;
            EXPECT_TRUE(c.others_may_read && !lets_write(rights)) << sid << " may " << rights << ": " << read.output;
        }
        EXPECT_EQ(mode_of(staging_) & (c.others_may_read ? 02 : 07), 0u) << "Wine's view of the DACL";
    }
    // The open folder, moved aside, kept only what could not be removed.
    int aside = 0;
    for (const auto& entry : fs::directory_iterator(staging_.parent_path())) {
        if (!entry.path().filename().string().starts_with("Lumo.40.old-")) continue;
        ++aside;
        EXPECT_EQ(read_file(entry.path() / "version.dll"), "planted");
        EXPECT_FALSE(fs::exists(entry.path() / "stale.txt"));
    }
    EXPECT_EQ(aside, 1);
}

// An administrator's elevated run leaves the folder owned by the
// Administrators; the normal run after it must use it, not stop.
TEST_F(InstallerUnderWine, NormalRunAfterAnElevatedOneUsesTheFolder) {
    RunResult judged = session_->run(probe, {"judge"});
    EXPECT_EQ(judged.exit_code, 0) << judged.output;

    const fs::path installer = build_installer("elevated", {{"readme.txt", "first"}});
    EXPECT_EQ(run_and_confirm(installer), "") << "elevated";
    EXPECT_NE(setup_record(), "");
    session_->wait_until_idle();
    fs::remove(staging_ / "setup-started.txt");
    const int normal = session_->start(probe, {"limited", session_->windows_path(installer)});
    EXPECT_EQ(finish_and_confirm(normal), "") << "normal, after the elevated run";
    EXPECT_NE(setup_record(), "");
    EXPECT_EQ(read_file(staging_ / "readme.txt"), "first");
}

// Saved in a folder (and under a name) in Cyrillic or Chinese, which the
// code page (1252 here) cannot hold: the installer still reads itself.
TEST_F(InstallerUnderWine, InstallerInAFolderNamedOutsideTheCodePageRunsWhole) {
    const std::string blob = noise(200000, 7);
    for (const std::string name : {"\xD0\x98\xD0\xBD\xD1\x81\xD1\x82\xD0\xB0\xD0\xBB\xD0\xBB",  // Инсталл
                                   "\xE5\xAE\x89\xE8\xA3\x85\xE7\xA8\x8B\xE5\xBA\x8F"}) {        // 安装程序
        SCOPED_TRACE(name);
        fs::remove_all(staging_);
        const fs::path installer = build_installer(name, {{"data/blob.bin", blob}, {"readme.txt", "whole"}});
        EXPECT_EQ(run_and_confirm(installer), "");
        EXPECT_NE(setup_record(), "");
        EXPECT_TRUE(read_file(staging_ / "data" / "blob.bin") == blob);
        EXPECT_EQ(read_file(staging_ / "readme.txt"), "whole");
        session_->wait_until_idle();
    }
}

// A temporary folder whose name the code page cannot hold: the installer
// stages in it under its short form, which the setup program gets too.
TEST_F(InstallerUnderWine, TemporaryFolderOutsideTheCodePageIsUsedByItsShortForm) {
    const std::string name = "\xD0\x92\xD1\x80\xD0\xB5\xD0\xBC\xD0\xB5\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5";  // Временные
    const fs::path temporary = session_->scratch_folder(name);
    const fs::path staging = temporary / "Lumo.40";
    const fs::path installer = build_installer("shortform", {{"readme.txt", "short"}});
    const int process = session_->start(probe, {"temp", session_->windows_path(temporary), session_->windows_path(installer)});
    EXPECT_EQ(finish_and_confirm(process), "");
    const std::string record = setup_record(20, staging);
    ASSERT_NE(record, "");
    EXPECT_EQ(read_file(staging / "readme.txt"), "short");
    // The folder and command the setup program sees in the code page: the
    // short form, every character there.
    EXPECT_EQ(record.find('?'), std::string::npos) << record;
    EXPECT_NE(record.find("~"), std::string::npos) << record;
    EXPECT_NE(record.find("\\Lumo.40\\Setup.exe\"\n"), std::string::npos) << record;
}

// A link to a folder in the staging folder (Wine shows a Unix link to a
// folder as a reparse point, and cannot remove one): the clean-up leaves it
// and what it leads to, the writer never writes through it, and the run
// stops with the copy error naming the file. (A Unix link to a file Wine
// shows as a plain file, in listings and on handles alike, and removing it
// removes what it leads to: nothing a Windows program can tell apart, so
// not tried here; Windows' own links carry the reparse attribute.)
TEST_F(InstallerUnderWine, LinkPlantedInTheStagingFolderIsNeverFollowed) {
    const fs::path installer = build_installer("planted", {{"Sounds/data.bin", "sound"}});
    const fs::path outside = session_->scratch_folder("outside");
    write_file(outside / "data.bin", "precious");
    fs::create_directories(staging_);
    fs::create_directory_symlink(outside, staging_ / "Sounds");

    EXPECT_EQ(run_and_confirm(installer),
              "count=1\n" LUMO_STR3_EN + staging_windows_path() + "Sounds\\data.bin" LUMO_STR4_EN "\n");
    EXPECT_EQ(read_file(outside / "data.bin"), "precious");
    EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1) << "written beside it";
    EXPECT_FALSE(fs::exists(staging_ / "setup-started.txt"));
    fs::remove_all(staging_);
}

// Host links to files in the staging folder, made by someone on the host
// (another Unix user, as far as a Windows program can tell): Wine shows
// them as plain files, in the listing and on the handle alike, and deleting
// one deletes what it leads to. The clean-up and the writer leave each
// link's target as it was: one the payload does not name stays in the
// folder and the run goes on; one in the place of a file the payload writes
// stops the run with the copy error naming that file.
TEST_F(InstallerUnderWine, HostLinkToAFileInTheStagingFolderNeverLosesItsTarget) {
    const fs::path installer = build_installer("filelink", {{"readme.txt", "fresh"}});
    const fs::path outside = session_->scratch_folder("filelink-outside");
    struct Case {
        const char* name;
        std::string expected;  // what the installer says
    } cases[] = {
        {"stale.txt", ""},
        {"readme.txt", "count=1\n" LUMO_STR3_EN + staging_windows_path() + "readme.txt" LUMO_STR4_EN "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(staging_);
        fs::create_directories(staging_);
        write_file(outside / "secret.txt", "precious");
        fs::create_symlink(outside / "secret.txt", staging_ / c.name);
        EXPECT_EQ(run_and_confirm(installer), c.expected);
        if (c.expected.empty()) {
            EXPECT_NE(setup_record(), "");
        }
        EXPECT_EQ(read_file(outside / "secret.txt"), "precious") << "the link's target was deleted or written";
        session_->wait_until_idle();
    }
    fs::remove_all(staging_);
}

// A temporary folder whose path does not fit: the installer stages in the
// drive's \temp\Lumo.40. A folder there holds host links to a file and to
// an empty folder outside it. The clean-up goes through the held folder
// there as anywhere: both links' targets stay, and the setup program starts.
TEST_F(InstallerUnderWine, TempFallbackKeepsWhatLinksInTheStagingFolderLeadTo) {
    const fs::path installer = build_installer("fallback", {{"readme.txt", "fallback"}});
    const fs::path staging = session_->drive_c() / "temp" / "Lumo.40";
    const fs::path outside = session_->scratch_folder("fallback-outside");
    write_file(outside / "secret.txt", "precious");
    fs::create_directories(outside / "empty");
    fs::remove_all(staging);
    fs::create_directories(staging / "sub");
    fs::create_symlink(outside / "secret.txt", staging / "sub" / "secret.txt");
    fs::create_directory_symlink(outside / "empty", staging / "sub" / "empty");
    const std::string too_long = "C:\\" + std::string(300, 'x');
    // Started from a folder on C:, so that \temp\ is C:\temp\.
    const fs::path starter = session_->scratch_folder("fallback-probe") / "staging_probe.exe";
    fs::copy_file(probe, starter);
    const int process = session_->start(starter, {"temp", too_long, session_->windows_path(installer)});
    EXPECT_EQ(finish_and_confirm(process), "");
    const std::string record = setup_record(20, staging);
    EXPECT_NE(record.find("folder=C:\\temp\\Lumo.40\n"), std::string::npos) << record;
    EXPECT_EQ(read_file(staging / "readme.txt"), "fallback");
    EXPECT_EQ(read_file(outside / "secret.txt"), "precious");
    EXPECT_TRUE(fs::is_directory(outside / "empty")) << "the folder a link led to was deleted";
    session_->wait_until_idle();
    fs::remove_all(staging);
}

// The temporary folder is reached through a host link (the way a junction
// of someone else's would lead there on Windows). Once the installer writes
// into the staging folder behind it, someone turns the link to a folder of
// theirs with a Lumo.40\Setup.exe of their own. The installer starts the
// setup program from the folder it holds, not from the path the link now
// gives.
TEST_F(InstallerUnderWine, SetupProgramStartsFromTheHeldFolderWhateverThePathNowNames) {
    const fs::path installer = build_installer("heldstart", {{"readme.txt", "held"}});
    const fs::path real = session_->scratch_folder("heldstart-real");
    const fs::path theirs = session_->scratch_folder("heldstart-theirs");
    fs::create_directories(theirs / "Lumo.40");
    fs::copy_file(helpers / "setup_standin.exe", theirs / "Lumo.40" / "Setup.exe");
    const fs::path link = session_->scratch_folder("heldstart-link") / "tmp";
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        fs::remove_all(real / "Lumo.40");
        fs::remove(theirs / "Lumo.40" / "setup-started.txt");
        fs::remove(link);
        fs::create_directory_symlink(real, link);
        const int watch = inotify_init1(IN_NONBLOCK);
        ASSERT_GE(inotify_add_watch(watch, real.c_str(), IN_CREATE), 0);
        std::atomic<bool> turned = false, done = false;
        std::thread turner([&] {
            alignas(struct inotify_event) char events[4096];
            while (!done && read(watch, events, sizeof events) <= 0) usleep(200);
            // The staging folder is there; the first file written in it
            // shows that the installer holds it.
            inotify_add_watch(watch, (real / "Lumo.40").c_str(), IN_CLOSE_WRITE);
            while (!done && read(watch, events, sizeof events) <= 0 && !fs::exists(real / "Lumo.40" / "Setup.exe"))
                usleep(200);
            if (done) return;
            const fs::path spare = link.parent_path() / "spare";
            fs::create_directory_symlink(theirs, spare);
            fs::rename(spare, link);
            turned = true;
        });
        // Named through the link (windows_path would resolve it).
        const std::string through_link = session_->windows_path(link.parent_path()) + "\\tmp";
        const int process = session_->start(probe, {"temp", through_link, session_->windows_path(installer)});
        const std::string said = finish_and_confirm(process);
        done = true;
        turner.join();
        close(watch);
        ASSERT_TRUE(turned) << "the link was never turned: the attack did not run";
        EXPECT_EQ(said, "");
        EXPECT_NE(setup_record(20, real / "Lumo.40"), "") << "the setup program did not start from the held folder";
        EXPECT_FALSE(fs::exists(theirs / "Lumo.40" / "setup-started.txt")) << "the other setup program ran";
        EXPECT_EQ(read_file(real / "Lumo.40" / "readme.txt"), "held");
        session_->wait_until_idle();
    }
}

}  // namespace
}  // namespace lumo::wine
