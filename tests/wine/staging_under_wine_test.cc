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
#include <sys/stat.h>

#include <regex>

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
    if (rights.rfind("0x", 0) == 0) return std::stoul(rights, nullptr, 16) & 0x500D0046ul;
    for (size_t at = 0; at + 1 < rights.size(); at += 2)
        for (const char* code : {"FA", "FW", "GA", "GW", "SD", "WD", "WO"})
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
        // everyone may write: the same folder, closed again (Wine turns the
        // DACL into a mode that leaves others reading).
        {"left open to everyone",
         [&] {
             write_file(staging_ / "stale.txt", "stale");
             chmod(staging_.c_str(), 0777);
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(staging_);
        c.before();
        EXPECT_EQ(run_and_confirm(installer), "");
        EXPECT_NE(setup_record(), "");
        EXPECT_EQ(read_file(staging_ / "readme.txt"), "closed");
        EXPECT_FALSE(fs::exists(staging_ / "stale.txt"));

        RunResult read = session_->run(probe, {"sddl", staging});
        ASSERT_EQ(read.exit_code, 0) << read.output;
        const std::string user = owner_of(read.output);
        for (const auto& [sid, rights] : grants(read.output)) {
            if (sid == user || sid == "SY" || sid == "BA") continue;
            EXPECT_TRUE(c.others_may_read && !lets_write(rights)) << sid << " may " << rights << ": " << read.output;
        }
        EXPECT_EQ(mode_of(staging_) & (c.others_may_read ? 02 : 07), 0u) << "Wine's view of the DACL";
    }
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

}  // namespace
}  // namespace lumo::wine
