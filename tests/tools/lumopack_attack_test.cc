// Another local user against a vendor's build: the folder the installer
// goes to, the add-on's folder, or the place lumopack is installed in may be
// open to them. The vendor (root here, as a build under sudo would be) keeps
// a signing key and a deployment script in a folder of its own; the other
// user is a process of its own with a user id that no account has, racing
// the build through the folder's file-system events (inotify). Whatever the
// race gives, the vendor's files keep their bytes and modes, nothing of them
// reaches an installer, a build that reports success leaves a sound
// installer under OUT, and no program of the other user's is built in.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <iostream>
#include <utility>

#include "tests/support/other_user.h"
#include "tests/tools/lumopack_fixture.h"

namespace lumo::testing {
namespace {

using test::FolderEvents;
using test::OtherUser;

struct Kept {
    Bytes bytes;
    mode_t mode;
};

Kept kept(const fs::path& file) {
    struct stat st = {};
    lstat(file.c_str(), &st);
    return {read_file(file), mode_t(st.st_mode)};
}

bool is_regular(const fs::path& file) {
    struct stat st;
    return lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Every regular file below `root`, without following links, and whether any
// of them holds `secret`.
bool holds_bytes(const fs::path& root, const Bytes& secret) {
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(root, ignored))
        if (entry.is_regular_file() && !entry.is_symlink() && read_file(entry.path()) == secret) return true;
    return false;
}

class LumopackAttack : public LumopackTest {
protected:
    void SetUp() override {
        LumopackTest::SetUp();
        other_ = test::unused_user_id();
        // The other user reaches the test's folder, and the vendor's own
        // folder is closed to them.
        chmod(root_.parent_path().c_str(), 0755);
        chmod(root_.c_str(), 0755);
        chmod(stub_.c_str(), 0755);
        fs::create_directories(path("vendor"));
        chmod(path("vendor").c_str(), 0700);
        write_file(key(), random_bytes(1679, 99));
        chmod(key().c_str(), 0600);
        write_file(script(), std::string("#!/bin/sh\necho deploying\n"));
        chmod(script().c_str(), 0700);
        key_ = kept(key());
        script_ = kept(script());
    }

    fs::path key() const { return path("vendor/signing.key"); }
    fs::path script() const { return path("vendor/deploy.sh"); }

    // A folder of the other user's, open to them alone or to all.
    fs::path their_folder(const std::string& name, mode_t mode = 0755) {
        fs::create_directories(path(name));
        chown(path(name).c_str(), other_, other_);
        chmod(path(name).c_str(), mode);
        return path(name);
    }

    void expect_vendor_files_kept() {
        const Kept now_key = kept(key()), now_script = kept(script());
        EXPECT_TRUE(now_key.bytes == key_.bytes) << "the signing key's bytes changed";
        EXPECT_EQ(now_key.mode, key_.mode) << "the signing key's mode changed";
        EXPECT_TRUE(now_script.bytes == script_.bytes) << "the deployment script's bytes changed";
        EXPECT_EQ(now_script.mode, script_.mode) << "the deployment script's mode changed";
    }

    // A build that reported success: OUT is the installer of `addon`, as a
    // regular file of root's, and carries nothing of the vendor's files.
    void expect_sound_installer(const fs::path& out, const std::map<std::string, Bytes>& addon) {
        ASSERT_TRUE(is_regular(out)) << out << " is not a regular file";
        struct stat st;
        ASSERT_EQ(lstat(out.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 0u);
        EXPECT_EQ(st.st_mode & 0777, 0755u);
        const RunResult tested = run_lumopack({"test", out.string()});
        EXPECT_EQ(tested.status, 0) << tested.output;
        fs::remove_all(path("extracted"));
        const RunResult extracted = run_lumopack({"extract", out.string(), "-C", path("extracted").string()});
        ASSERT_EQ(extracted.status, 0) << extracted.output;
        EXPECT_TRUE(read_tree(path("extracted")) == addon) << "the installer does not hold the add-on as it was";
        EXPECT_FALSE(holds_bytes(path("extracted"), key_.bytes)) << "the signing key reached the installer";
    }

    uid_t other_ = 0;
    Kept key_, script_;
};

// The installer goes to a folder the other user can write to (a shared drop
// folder). They rename a link to the vendor's signing key over the file
// being written: as soon as it is created, while it is written, or once it
// is closed and read back to be verified (where the build used to re-open,
// chmod and rename it by its name: the key became 0755 and OUT their link).
TEST_F(LumopackAttack, LinkRenamedOverTheInstallerBeingWrittenChangesNothingOfTheVendors) {
    const fs::path addon = path("addon");
    write_file(addon / "Setup.exe", std::string("#!/bin/sh\necho setup\n"));
    write_file(addon / "data.bin", random_bytes(3 << 20, 5));  // long enough to verify for a while
    const auto original = read_tree(addon);
    const fs::path drop = their_folder("drop");
    const fs::path out = drop / "addon.exe";

    const std::string drop_text = drop.string(), key_text = key().string();
    OtherUser attacker(test::links_over_temporaries(drop_text, "addon.exe.partial-", key_text), other_);

    int built = 0, refused = 0;
    for (int round = 1; round <= 30; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const RunResult result = build(addon, out, {"--level", "1"});
        expect_vendor_files_kept();
        if (result.status == 0) {
            ++built;
            expect_sound_installer(out, original);
        } else {
            ++refused;
            EXPECT_EQ(result.status, 1) << result.output;
            EXPECT_NE(result.output.find(out.string() + ": is not the installer that was written"), std::string::npos)
                << result.output;
        }
        std::error_code ignored;
        fs::remove(out, ignored);
        if (HasFailure() && round > 6) break;
    }
    attacker.stop();
    const size_t acted = read_file(drop / ".acted").size();
    std::cout << built << " builds succeeded, " << refused << " refused; the other user renamed a link over the "
              << "file being written " << acted << " times\n";
    EXPECT_GT(acted, 0u) << "the other user never raced the build: the test shows nothing";
    EXPECT_GT(built, 0);
}

// The other user made, in the shared drop folder, a link to the vendor's
// deployment script under many of the names the temporary file could take
// (a tenth of the million names the build used to choose from, so that one
// of thirty builds took one with a chance of 96 in 100): no build writes
// through one, and every build leaves its installer.
TEST_F(LumopackAttack, LinksMadeInAdvanceUnderTemporaryNamesAreNeverWrittenThrough) {
    const fs::path addon = path("addon");
    write_file(addon / "Setup.exe", std::string("#!/bin/sh\necho setup\n"));
    write_file(addon / "data.bin", random_bytes(20000, 6));
    const auto original = read_tree(addon);
    const fs::path drop = their_folder("drop", 0777);
    const fs::path out = drop / "addon.exe";
    const std::string drop_text = drop.string(), script_text = script().string();
    OtherUser maker(
        [&] {
            for (int n = 0; n < 100000; ++n)
                if (symlink(script_text.c_str(), (drop_text + "/addon.exe.partial-" + std::to_string(n)).c_str()) != 0)
                    _exit(1);
        },
        other_);
    ASSERT_TRUE(maker.wait());

    for (int round = 1; round <= 30; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const RunResult result = build(addon, out, {"--level", "1"});
        expect_vendor_files_kept();
        ASSERT_EQ(result.status, 0) << result.output;
        // Each installer is the stub's and root's; the first and last are
        // unpacked whole.
        if (round == 1 || round == 30) expect_sound_installer(out, original);
        ASSERT_TRUE(is_regular(out));
        const Bytes installer = read_file(out), stub = read_file(stub_);
        EXPECT_TRUE(installer.size() > stub.size() && std::equal(stub.begin(), stub.end(), installer.begin()));
        fs::remove(out);
        if (HasFailure()) break;
    }
}

// The add-on's folder belongs to the other user (an add-on made by a
// contractor, a shared checkout). Once the build has listed it, they swap
// a file for a link to the vendor's signing key (made the key's size), or a
// folder for a link to the vendor's folder (holding a file of the same name
// and size): the files read are the ones listed, or the build fails naming
// the file; the key never reaches an installer.
TEST_F(LumopackAttack, FilesSwappedForLinksAfterTheListingAreNeverPacked) {
    const fs::path addon = their_folder("addon"), spare = their_folder("spare");
    const fs::path out = path("addon.exe");
    const std::string addon_text = addon.string(), spare_text = spare.string();
    OtherUser attacker(
        [&] {
            FolderEvents events(addon_text, IN_CLOSE_NOWRITE);
            if (!events.ok()) return;
            events.watch([&](uint32_t mask, const std::string& name) {
                // The add-on's folder itself closed: the build listed it.
                if (!(mask & IN_CLOSE_NOWRITE) || !name.empty()) return true;
                bool acted = rename((spare_text + "/file").c_str(), (addon_text + "/data.bin").c_str()) == 0;
                struct stat ready;
                if (lstat((spare_text + "/folder").c_str(), &ready) == 0 &&
                    rename((addon_text + "/keys").c_str(), (spare_text + "/old-keys").c_str()) == 0)
                    acted |= rename((spare_text + "/folder").c_str(), (addon_text + "/keys").c_str()) == 0;
                if (acted) test::mark_acted(spare_text);
                return true;
            });
        },
        other_);

    const Bytes decoy = random_bytes(key_.bytes.size(), 7);
    int built = 0, refused = 0;
    for (int round = 1; round <= 40; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // The add-on as the other user leaves it before each build, and the
        // link they hold ready: to the key, or to the vendor's folder.
        std::error_code ignored;
        for (const char* name : {"data.bin", "keys"}) fs::remove_all(addon / name, ignored);
        for (const char* name : {"file", "folder", "old-keys"}) fs::remove_all(spare / name, ignored);
        write_file(addon / "Setup.exe", std::string("#!/bin/sh\necho setup\n"));
        write_file(addon / "data.bin", decoy);
        write_file(addon / "keys" / "signing.key", decoy);
        // Listing the add-on's folder is what the other user waits for:
        // everything that lists it is done before the links are ready.
        const auto original = read_tree(addon);
        for (const auto& entry : fs::recursive_directory_iterator(addon))
            lchown(entry.path().c_str(), other_, other_);
        const fs::path ready = round % 2 ? spare / "file" : spare / "folder";
        fs::create_symlink(round % 2 ? key() : path("vendor"), ready);
        lchown(ready.c_str(), other_, other_);

        // Every other pair of rounds with too few descriptors to hold a file:
        // each is closed once listed and opened anew for every read.
        const RunResult result =
            round % 4 < 2 ? build(addon, out, {"--level", "1"})
                          : run_lumopack({"--nofile=260:260", LUMOPACK_PATH, "build", addon.string(), "-o", out.string(),
                                          "--stub", stub_.string(), "--level", "1"},
                                         false, "prlimit");
        expect_vendor_files_kept();
        if (result.status == 0) {
            ++built;
            expect_sound_installer(out, original);
        } else {
            ++refused;
            EXPECT_EQ(result.status, 1) << result.output;
            const bool named = result.output.find("data.bin: ") != std::string::npos ||
                               result.output.find("keys: ") != std::string::npos ||
                               result.output.find("keys/signing.key: ") != std::string::npos;
            EXPECT_TRUE(named) << result.output;
            EXPECT_FALSE(fs::exists(out));
        }
        fs::remove(out, ignored);
        if (HasFailure()) break;
    }
    attacker.stop();
    const size_t acted = read_file(spare / ".acted").size();
    std::cout << built << " builds succeeded, " << refused << " refused; the other user swapped in a link " << acted
              << " times\n";
    EXPECT_GT(acted, 0u) << "the other user never raced the build: the test shows nothing";
}

// A build with too few descriptors to hold every file: each file is closed
// once checked and found anew for every read. The other user can write a
// subfolder of the add-on; once the build has checked the vendor's
// zz/tool.exe and closed it, they remove it and at once make a file of
// their own there, of the same size and modification time, which on ext4
// gets the same inode; or they put a link to the vendor's key (made the
// file's size) in its place. The build fails naming the file as replaced,
// and their bytes (or the key) never reach an installer.
TEST_F(LumopackAttack, FileReplacedAfterItWasCheckedIsNeverFoundAnew) {
    const fs::path addon = path("addon"), spare = their_folder("spare");
    const fs::path zz = their_folder("addon/zz");
    const fs::path out = path("addon.exe");
    const Bytes theirs = random_bytes(key_.bytes.size(), 8);
    write_file(path("theirs"), theirs);
    chmod(path("theirs").c_str(), 0644);
    const std::string zz_text = zz.string(), spare_text = spare.string(), theirs_text = path("theirs").string(),
                      key_text = key().string();
    OtherUser attacker(
        [&] {
            FolderEvents events(zz_text, IN_CLOSE_NOWRITE);
            if (!events.ok()) return;
            const std::string tool = zz_text + "/tool.exe", armed = spare_text + "/armed";
            const Bytes bytes = read_file(theirs_text);
            events.watch([&](uint32_t, const std::string& name) {
                // The build checked the file and closed it: armed once per round.
                const Bytes how = read_file(armed);
                if (name != "tool.exe" || how.empty() || unlink(armed.c_str()) != 0) return true;
                struct stat before;
                if (lstat(tool.c_str(), &before) != 0) return true;
                std::string outcome = "link";
                if (how[0] == 'l') {
                    unlink(tool.c_str());
                    if (symlink(key_text.c_str(), tool.c_str()) != 0) outcome = "failed";
                } else {
                    unlink(tool.c_str());
                    const int fd = open(tool.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
                    struct stat after;
                    const struct timespec times[2] = {before.st_atim, before.st_mtim};
                    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()) ||
                        futimens(fd, times) != 0 || fstat(fd, &after) != 0)
                        outcome = "failed";
                    else
                        outcome = after.st_ino == before.st_ino ? "reused" : "new";
                    close(fd);
                }
                const int log = open((spare_text + "/log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
                outcome += "\n";
                [[maybe_unused]] ssize_t n = write(log, outcome.data(), outcome.size());
                close(log);
                return true;
            });
        },
        other_);

    const auto outcomes = [&] {
        const Bytes log = read_file(spare / "log");
        std::vector<std::string> lines;
        std::string line;
        for (uint8_t c : log) {
            if (c != '\n') line += char(c);
            else lines.push_back(std::exchange(line, ""));
        }
        return lines;
    };
    int reused = 0;
    for (int round = 1; round <= 12; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::error_code ignored;
        fs::remove(zz / "tool.exe", ignored);
        write_file(addon / "Setup.exe", std::string("#!/bin/sh\necho setup\n"));
        // Read before zz/tool.exe: the other user has time to act before
        // the file is read for its checksums.
        if (round == 1) write_file(addon / "big.bin", random_bytes(8 << 20, 9));
        write_file(zz / "tool.exe", random_bytes(key_.bytes.size(), 10));
        chmod((zz / "tool.exe").c_str(), 0644);
        const bool link = round % 4 == 0;
        write_file(spare / "armed", std::string(link ? "link" : "file"));
        lchown((spare / "armed").c_str(), other_, other_);

        const RunResult result = run_lumopack({"--nofile=100:100", LUMOPACK_PATH, "build", addon.string(), "-o",
                                               out.string(), "--stub", stub_.string(), "--level", "1"},
                                              false, "prlimit");
        for (int wait = 0; wait < 500 && outcomes().size() < size_t(round); ++wait) usleep(10000);
        ASSERT_EQ(outcomes().size(), size_t(round)) << "the other user did not act: " << result.output;
        const std::string outcome = outcomes().back();
        ASSERT_NE(outcome, "failed");
        reused += outcome == "reused";
        expect_vendor_files_kept();
        EXPECT_EQ(result.status, 1) << outcome << ": " << result.output;
        EXPECT_NE(result.output.find("zz/tool.exe: was replaced while it was packed"), std::string::npos)
            << outcome << ": " << result.output;
        EXPECT_FALSE(fs::exists(out));
        if (fs::exists(out)) {
            fs::remove_all(path("extracted"));
            run_lumopack({"extract", out.string(), "-C", path("extracted").string()});
            EXPECT_FALSE(holds_bytes(path("extracted"), theirs)) << "the other user's file was packed";
            EXPECT_FALSE(holds_bytes(path("extracted"), key_.bytes)) << "the signing key was packed";
        }
        fs::remove(out, ignored);
        if (HasFailure()) break;
    }
    attacker.stop();
    std::cout << "the other user's file got the inode of the one removed in " << reused << " of "
              << outcomes().size() << " rounds\n";
    EXPECT_GT(reused, 0) << "no file of theirs got the inode of the one removed: the test shows nothing";
}

// lumopack installed by the vendor in a place whose parent others can write
// to (a tools folder made in a shared folder, as one made in C:\ is on
// Windows), with the stubs beside it. The other user plants a program of
// theirs where lumopack looks for its stubs: it is never built into an
// installer, and the build names the stub it used and why it took none.
TEST_F(LumopackAttack, StubPlantedByAnotherUserIsNeverTaken) {
    const fs::path addon = path("addon");
    write_file(addon / "Setup.exe", std::string("#!/bin/sh\necho setup\n"));
    const fs::path tools = path("tools");
    fs::create_directories(tools / "bin");
    chmod(tools.c_str(), 0777);
    fs::copy_file(LUMOPACK_PATH, tools / "bin" / "lumopack");
    fs::copy_file(LUMO_STUB_PATH, tools / "bin" / "lumo-stub-posix");
    const Bytes theirs = read_file("/usr/bin/id");  // a program of theirs, of the stub's kind
    const fs::path planted = tools / "lib" / "lumopack" / "lumo-stub-posix";
    const std::string tools_text = tools.string();

    // The other user writes their program where lumopack looks for the
    // stub, making the folders on its way that are missing.
    const auto plant = [&] {
        OtherUser planter(
            [&] {
                mkdir((tools_text + "/lib").c_str(), 0755);
                mkdir((tools_text + "/lib/lumopack").c_str(), 0755);
                const int fd = open(planted.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0755);
                if (fd < 0 || write(fd, theirs.data(), theirs.size()) != ssize_t(theirs.size())) _exit(1);
                close(fd);
            },
            other_);
        ASSERT_TRUE(planter.wait());
    };
    const struct Case {
        const char* what;
        mode_t tools_mode;
        bool root_made_stub_folder;  // open to all
        std::string refusal;
    } cases[] = {
        {"the tools folder open to all", 0777, false, tools.string() + " may be changed by other users"},
        {"the tools folder open to all, sticky: folders of theirs below it", 01777, false,
         (tools / "lib").string() + " belongs to another user"},
        {"a stub folder of root's open to all", 0755, true,
         (tools / "lib" / "lumopack").string() + " may be changed by other users"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(tools / "lib");
        chmod(tools.c_str(), c.tools_mode);
        if (c.root_made_stub_folder) {
            fs::create_directories(planted.parent_path());
            chmod(planted.parent_path().c_str(), 0777);
        }
        plant();
        ASSERT_EQ(read_file(planted), theirs);
        const RunResult help = run_lumopack({"--help"}, false, (tools / "bin" / "lumopack").string());
        EXPECT_NE(help.output.find("not taken: " + c.refusal), std::string::npos) << help.output;
        const RunResult result = run_lumopack({"build", addon.string(), "-o", path("addon.run").string(), "--target",
                                               "posix"},
                                              false, (tools / "bin" / "lumopack").string());
        EXPECT_EQ(result.status, 1) << result.output;
        EXPECT_NE(result.output.find("the stub for the target posix is not taken: " + c.refusal), std::string::npos)
            << result.output;
        EXPECT_FALSE(fs::exists(path("addon.run"))) << "an installer was built around their program";
    }

    // Installed where only root could put it, the stub is taken and named.
    fs::remove_all(tools / "lib");
    chmod(tools.c_str(), 0755);
    fs::create_directories(planted.parent_path());
    fs::copy_file(LUMO_STUB_PATH, planted);
    const RunResult result = run_lumopack({"build", addon.string(), "-o", path("addon.run").string(), "--target",
                                           "posix"},
                                          false, (tools / "bin" / "lumopack").string());
    ASSERT_EQ(result.status, 0) << result.output;
    const std::string digest = run_lumopack({LUMO_STUB_PATH}, false, "sha256sum").output.substr(0, 64);
    EXPECT_NE(result.output.find("stub: " + planted.string() + ", SHA-256 " + digest), std::string::npos)
        << result.output;
    const Bytes installer = read_file(path("addon.run")), stub = read_file(LUMO_STUB_PATH);
    EXPECT_TRUE(installer.size() > stub.size() && std::equal(stub.begin(), stub.end(), installer.begin()));
}

}  // namespace
}  // namespace lumo::testing
