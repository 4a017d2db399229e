// lumopack.exe against another user of the vendor's machine, under Wine:
// the other user is a host process of its own user id, planting files and
// racing the build through the folder's file-system events (inotify). The
// vendor (root, as the Wine session runs) keeps a signing key outside.
#include <fcntl.h>
#include <sys/stat.h>

#include "installer_under_wine.h"
#include "tests/support/other_user.h"

namespace lumo::wine {
namespace {

using test::FolderEvents;
using test::OtherUser;

const fs::path windows_lumopack = windows_build / "tools" / "lumopack" / "lumopack.exe";

std::string sha256sum(const WineSession& session, const fs::path& file) {
    return session.host("sha256sum " + shell_quote(file.string())).output.substr(0, 64);
}

// The prefix is the session's own: the other user may pass through its
// folders to reach `folder`, as any user reaches C:\.
void let_others_reach(const fs::path& folder) {
    for (fs::path at = folder.parent_path(); at != at.root_path() && at.has_relative_path(); at = at.parent_path()) {
        struct stat st;
        if (stat(at.c_str(), &st) == 0) chmod(at.c_str(), (st.st_mode & 07777) | S_IXOTH);
    }
}

bool is_regular(const fs::path& file) {
    struct stat st;
    return lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// lumopack.exe installed from the zip in bin\ of a tools folder that every
// user may write to (one made in C:\ is); the other user makes
// lib\lumopack\ there and puts a program of theirs under the 64-bit stub's
// name, where lumopack.exe used to look first. The build takes the stub beside
// lumopack.exe and names it with its SHA-256.
TEST_F(InstallerUnderWine, WindowsLumopackTakesStubsOnlyBesideItself) {
    const fs::path tools = session_->scratch_folder("tools"), bin = tools / "bin";
    let_others_reach(tools);
    chmod(tools.c_str(), 0777);
    fs::create_directories(bin);
    fs::copy_file(windows_lumopack, bin / "lumopack.exe");
    fs::copy_file(stub, bin / "lumo-stub-windows-x64.exe");
    const std::string theirs = read_file(helpers / "window_probe.exe");  // a 64-bit program of theirs
    const std::string planted = (tools / "lib" / "lumopack" / "lumo-stub-windows-x64.exe").string();
    const std::string tools_text = tools.string();
    {
        OtherUser planter([&] {
            mkdir((tools_text + "/lib").c_str(), 0755);
            mkdir((tools_text + "/lib/lumopack").c_str(), 0755);
            const int fd = open(planted.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0755);
            if (fd < 0 || write(fd, theirs.data(), theirs.size()) != ssize_t(theirs.size())) _exit(1);
            close(fd);
        });
        ASSERT_TRUE(planter.wait());
    }
    const fs::path source = session_->scratch_folder("beside-files");
    fs::copy_file(helpers / "setup_standin.exe", source / "Setup.exe");
    const fs::path out = session_->scratch_folder("beside") / "addon.exe";

    RunResult help = session_->run(bin / "lumopack.exe", {"--help"});
    EXPECT_NE(help.output.find(session_->windows_path(bin / "lumo-stub-windows-x64.exe")), std::string::npos)
        << help.output;
    EXPECT_EQ(help.output.find("lib\\lumopack"), std::string::npos) << help.output;
    RunResult built = session_->run(bin / "lumopack.exe", {"build", session_->windows_path(source), "-o",
                                                             session_->windows_path(out), "--target", "windows-x64"});
    ASSERT_EQ(built.exit_code, 0) << built.output;
    EXPECT_NE(built.output.find("stub: " + session_->windows_path(bin / "lumo-stub-windows-x64.exe") +
                                ", SHA-256 " + sha256sum(*session_, stub)),
              std::string::npos)
        << built.output;
    const std::string installer = read_file(out), real = read_file(stub);
    EXPECT_EQ(installer.compare(0, real.size(), real), 0) << "the installer is not built on the stub beside lumopack.exe";
    EXPECT_NE(installer.compare(0, theirs.size(), theirs), 0) << "the installer is built on the other user's program";
}

// The installer goes to a folder of the other user's; they rename a host
// link to the vendor's signing key over the file being written, as soon as
// it is made, while it is written, or once it is closed and read back (where
// lumopack.exe used to re-open and rename it by its name, leaving their link
// as the installer, and to delete the key through the link on a failure).
// The key keeps its bytes, mode and place, and a build that reports success
// leaves a sound installer.
TEST_F(InstallerUnderWine, WindowsLumopackNeverLeavesALinkOfAnotherUserAsTheInstaller) {
    const fs::path vendor = session_->scratch_folder("vendor");
    chmod(vendor.c_str(), 0700);
    const fs::path key = vendor / "signing.key";
    write_file(key, noise(1679, 3));
    chmod(key.c_str(), 0600);
    const fs::path source = session_->scratch_folder("raced-files");
    fs::copy_file(helpers / "setup_standin.exe", source / "Setup.exe");
    write_file(source / "data.bin", noise(2 << 20, 4));
    const uid_t other = test::unused_user_id();
    const fs::path drop = session_->scratch_folder("drop");
    let_others_reach(drop);
    chown(drop.c_str(), other, other);
    const fs::path out = drop / "addon.exe";

    const std::string drop_text = drop.string(), key_text = key.string();
    OtherUser attacker(test::links_over_temporaries(drop_text, "addon.exe.partial", key_text), other);

    const fs::path vendor_stub = session_->scratch_folder("vendor-stub") / "stub.exe";
    fs::copy_file(stub, vendor_stub);
    const std::string key_bytes = read_file(key);
    int built = 0, refused = 0;
    for (int round = 1; round <= 12; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        RunResult result = session_->run(windows_lumopack, {"build", session_->windows_path(source), "-o",
                                                            session_->windows_path(out), "--stub",
                                                            session_->windows_path(vendor_stub), "--level", "1"});
        struct stat st;
        ASSERT_EQ(stat(key.c_str(), &st), 0) << result.errors;
        EXPECT_EQ(st.st_mode & 07777, 0600u) << "the signing key's mode changed";
        EXPECT_EQ(read_file(key), key_bytes) << "the signing key's bytes changed";
        if (result.exit_code == 0) {
            ++built;
            ASSERT_TRUE(is_regular(out)) << "the build reported success and left a link as the installer";
            RunResult tested = session_->host(shell_quote(lumopack.string()) + " test " + shell_quote(out.string()));
            EXPECT_EQ(tested.exit_code, 0) << tested.output;
        } else {
            ++refused;
            const bool told = result.errors.find("is not the installer that was written") != std::string::npos ||
                              result.errors.find("another file was put in the place of the one made") !=
                                  std::string::npos;
            EXPECT_TRUE(told) << result.errors;
        }
        std::error_code ignored;
        fs::remove(out, ignored);
    }
    attacker.stop();
    const size_t acted = read_file(drop / ".acted").size();
    std::cout << built << " builds succeeded, " << refused << " refused; the other user renamed a link over the "
              << "file being written " << acted << " times\n";
    EXPECT_GT(acted, 0u) << "the other user never raced the build: the test shows nothing";
    EXPECT_GT(built, 0);
}

}  // namespace
}  // namespace lumo::wine
