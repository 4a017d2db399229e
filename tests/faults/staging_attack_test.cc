// Another local user against the staging folder: racing its creation in a
// shared temporary folder, and keeping a folder of their own inside one of
// ours. The installer runs as root (as the test command does, and as a
// setup started with sudo would); the other user is a process of its own
// with a user id that no account has, made for the test.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <fstream>
#include <iostream>

#include "installer_fixture.h"
#include "tests/support/other_user.h"

namespace lumo::test {
namespace {

void put(const std::string& path, const std::string& content, mode_t mode) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, mode);
    if (fd < 0) return;
    [[maybe_unused]] ssize_t written = write(fd, content.data(), content.size());
    close(fd);
}

std::vector<std::string> lines_of(const fs::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class StagingAttack : public InstallerFixture {
protected:
    // The setup program notes who owns the folder it runs in and the one its
    // path names, with their modes, a line per start.
    std::string noting_setup() const {
        return "#!/bin/sh\necho \"$(stat -c '%u %a' .) $(stat -c '%u %a' \"$(dirname \"$0\")\")\" >> " +
               starts().string() + "\n";
    }
    fs::path starts() const { return root() / "marks" / "starts"; }
    // What a program of the other user's would leave, had it been started.
    fs::path evil_mark() const { return root() / "marks" / "evil-ran"; }
    std::string evil_setup() const { return "#!/bin/sh\necho ran > " + evil_mark().string() + "\n"; }

    // Waits until the setup program has noted `count` starts in all.
    bool starts_noted(size_t count) {
        for (int wait = 0; wait < 300 && lines_of(starts()).size() < count; ++wait) usleep(10000);
        return lines_of(starts()).size() == count;
    }

    void SetUp() override {
        fs::create_directories(root() / "marks");
        // The other user must reach the temporary folders in the scratch folder.
        chmod(root().c_str(), 0755);
    }
};

// The other user loops making and removing the staging folder, as a folder
// of theirs open to all with a setup program of theirs in it, and as a link
// to a folder of root's, while the installer runs again and again (its
// staging folder removed before each run, so that every run races). Each
// run either installs into a folder of root's closed to others, starting
// the setup program from there, or refuses with the message naming TMPDIR;
// nothing of root's is written anywhere else, and nothing of theirs runs.
TEST_F(StagingAttack, RaceForTheStagingFolderInASharedTemporaryFolder) {
    add("Setup.exe", noting_setup());
    add("Sounds/data.bin", "sound");
    write_file(installer(), pack_addon(), 0755);
    const fs::path shared = root() / "shared";  // like /tmp
    fs::create_directories(shared);
    chmod(shared.c_str(), 01777);
    const fs::path precious = root() / "precious";
    write_file(precious / "keep.txt", "root's own");
    const auto precious_before = snapshot(precious);

    const std::string staging = (shared / "Lumo.40").string();
    const std::string setup = staging + "/Setup.exe", spare = staging + "/.spare", evil = evil_setup();
    const std::string target = precious.string();
    OtherUser attacker([&] {
        for (unsigned round = 0;; ++round) {
            // Made and removed at once, again and again: there when the
            // installer looks, gone when it looks again; then back for a
            // while, as
            for (int quick = 0; quick < 10; ++quick)
                if (mkdir(staging.c_str(), 0777) == 0) rmdir(staging.c_str());
            if (round % 2 == 0 && mkdir(staging.c_str(), 0777) == 0) {
                // a folder of theirs, open to all, where any setup program
                // root writes is replaced by theirs at once;
                for (int tick = 0; tick < 100; ++tick) {
                    struct stat st;
                    if (lstat(setup.c_str(), &st) == 0 && st.st_uid == 0) {
                        put(spare, evil, 0777);
                        rename(spare.c_str(), setup.c_str());
                    }
                    usleep(20);
                }
                rmdir(staging.c_str());  // stays when root wrote into it
            } else if (round % 2 == 1 && symlink(target.c_str(), staging.c_str()) == 0) {
                // or a link to a folder of root's.
                usleep(2000);
                unlink(staging.c_str());
            }
            usleep(300);
        }
    });

    const std::string refused = message(LUMO_STR6_EN + staging + "/" + LUMO_STR7_POSIX_EN);
    int installed = 0, refusals = 0;
    for (int run = 1; run <= 300; ++run) {
        struct stat st;
        if (lstat(staging.c_str(), &st) == 0 && st.st_uid == 0) fs::remove_all(staging);
        ProcessResult result = run_installer_file({{"TMPDIR", shared.string()}});
        if (result.output.empty()) {
            ++installed;
            ASSERT_TRUE(starts_noted(installed))
                << "run " << run << ": the setup program did not start from the folder it was written to";
        } else {
            ASSERT_EQ(result.output, refused) << "run " << run;
            ++refusals;
        }
    }
    attacker.stop();
    std::cout << installed << " runs installed, " << refusals << " refused\n";

    EXPECT_FALSE(fs::exists(evil_mark())) << "a setup program of the other user's ran";
    for (const auto& line : lines_of(starts())) EXPECT_EQ(line, "0 700 0 700") << "started from a folder not root's alone";
    EXPECT_EQ(snapshot(precious), precious_before);
    // Whatever of root's is in the shared folder is in root's closed staging folder.
    for (const auto& entry : fs::recursive_directory_iterator(shared)) {
        struct stat st;
        ASSERT_EQ(lstat(entry.path().c_str(), &st), 0);
        if (st.st_uid != 0 || entry.path() == staging) continue;
        EXPECT_TRUE(entry.path().string().starts_with(staging + "/")) << entry.path() << " written outside";
        struct stat folder;
        ASSERT_EQ(lstat(staging.c_str(), &folder), 0);
        EXPECT_TRUE(S_ISDIR(folder.st_mode) && folder.st_uid == 0 && (folder.st_mode & 0777) == 0700);
    }
    EXPECT_GT(installed, 0) << "the installer never won: the test shows nothing";
    EXPECT_GT(refusals, 0) << "the other user never won: the race was not run";
}

// A staging folder of root's that the other user could once write to (open
// to all, or closed since by an earlier installer, as one once did) holds a
// folder of theirs, "Sounds", kept by a read-only file the clean-up leaves,
// with the other user's current folder inside it. From there they replace
// every data.bin that appears and add a DLL. The installer moves that
// staging folder aside and makes a new one: the files it writes are never
// theirs to change, and the setup program starts.
TEST_F(StagingAttack, FolderOfAnotherUserInsideOneOfOursIsNeverWrittenInto) {
    add("Setup.exe", noting_setup());
    add("Sounds/data.bin", "sound");
    write_file(installer(), pack_addon(), 0755);
    const fs::path sounds = staging() / "Sounds";
    for (const mode_t left_as : {mode_t(0777), mode_t(0700)}) {
        SCOPED_TRACE(left_as == 0777 ? "open to all" : "closed by an earlier run");
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(tmp())) fs::remove_all(entry.path(), ignored);
        fs::remove(starts(), ignored);
        fs::create_directories(staging());
        chmod(staging().c_str(), 0777);
        chmod(tmp().c_str(), 0755);

        const std::string folder = sounds.string();
        OtherUser attacker([&] {
            mkdir(folder.c_str(), 0777);
            put(folder + "/stuck.txt", "keeps the folder", 0444);
            if (chdir(folder.c_str()) != 0) _exit(1);
            for (;;) {
                struct stat st;
                if (stat("data.bin", &st) == 0 && st.st_size != 4) {
                    put("evil.tmp", "evil", 0666);
                    rename("evil.tmp", "data.bin");
                }
                put("version.dll", "evil", 0666);
                usleep(200);
            }
        });
        for (int wait = 0; wait < 500 && !fs::exists(sounds / "stuck.txt"); ++wait) usleep(2000);
        ASSERT_TRUE(fs::exists(sounds / "stuck.txt")) << "the other user's folder was not made";
        chmod(staging().c_str(), left_as);

        ProcessResult result = run_installer_file();
        EXPECT_EQ(result.output, "");
        ASSERT_TRUE(starts_noted(1));
        usleep(300 * 1000);  // time for the other user to try
        attacker.stop();

        struct stat st;
        ASSERT_EQ(lstat(sounds.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 0u) << "Sounds is still the other user's";
        EXPECT_EQ(read_file(sounds / "data.bin"), "sound");
        EXPECT_FALSE(fs::exists(sounds / "version.dll"));
        EXPECT_FALSE(fs::exists(sounds / "stuck.txt"));
        EXPECT_EQ(lines_of(starts()), std::vector<std::string>{"0 700 0 700"});
        ASSERT_EQ(lstat(staging().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
}

// Runs the installer as `user` of `group`, with the user and group databases
// of the run (/etc/passwd, /etc/group) replaced by `passwd` and `groups`, in
// a mount namespace of its own: the machine's stay as they are.
ProcessResult run_as(const fs::path& installer, uid_t user, gid_t group, const std::string& passwd,
                     const std::string& groups, const fs::path& scratch, std::map<std::string, std::string> environment) {
    write_file(scratch / "passwd", passwd);
    write_file(scratch / "group", groups);
    environment.emplace("LC_ALL", "");
    environment.emplace("LC_MESSAGES", "");
    environment.emplace("LANG", "C");
    const std::string script = "mount --bind " + (scratch / "passwd").string() + " /etc/passwd && mount --bind " +
                               (scratch / "group").string() + " /etc/group && exec setpriv --reuid=" +
                               std::to_string(user) + " --regid=" + std::to_string(group) + " --clear-groups " +
                               installer.string();
    return run_process("/usr/bin/unshare", {"--mount", "--propagation", "private", "/bin/sh", "-c", script},
                       environment);
}

// The victim's temporary folder is writable by the victim's primary group,
// which another user shares, or which is the victim's alone while an ACL
// entry lets the other user write. That user watches the folder and, the
// moment the staging folder appears, moves it aside and puts a folder of
// theirs with a setup program of theirs in its place (or removes the held,
// still empty folder: the run then reported a full disk); the installer has
// held the first folder by then and fills it. A shared group, or an ACL
// that lets another write, is open to others: the run refuses that
// temporary folder. Where the databases show the group as
// the victim's alone (the other user's process has it all the same, as a
// user the databases do not show would), the run goes on, and the setup
// program starts from the folder the run holds, never from the path the
// other user took: natively, and as a Windows program through a "wine" that
// reads the program by the path it is given. Both users are made here; the
// installer runs as the victim.
TEST_F(StagingAttack, UserWhoMayWriteTheTemporaryFolderNeverHasTheirSetupProgramRun) {
    const uid_t victim = unused_user_id(), other = unused_user_id(victim);
    const gid_t group = victim;
    const fs::path temporary = root() / "victim-tmp", staging = temporary / "Lumo.40";
    const std::string victim_passwd = "victim:x:" + std::to_string(victim) + ":" + std::to_string(group) + "::/:/bin/sh\n";
    const std::string other_passwd = "other:x:" + std::to_string(other) + ":" + std::to_string(group) + "::/:/bin/sh\n";
    const std::string groups = "victim:x:" + std::to_string(group) + ":\n";
    // A stand-in for Wine: it runs the program behind its "MZ" line, read by
    // the path it is given, as Wine reads it.
    const fs::path wine_folder = root() / "bin";
    write_file(wine_folder / "wine", "#!/bin/sh\nexec /bin/sh -c \"$(tail -n +2 \"$1\")\" \"$1\"\n", 0755);
    chmod(wine_folder.c_str(), 0755);
    chmod((root() / "marks").c_str(), 0777);
    const std::string evil = evil_setup();
    const std::string noted = std::to_string(victim) + " 700 " + std::to_string(victim) + " 700";

    struct Case {
        const char* what;
        std::string passwd;
        bool windows_program;
        bool refused;  // every run
        bool acl = false;  // the other user, of a group of their own, may write through an ACL entry
    } cases[] = {
        {"the group is shared", victim_passwd + other_passwd, false, true},
        {"the group is the victim's alone", victim_passwd, false, false},
        {"the group is the victim's alone, a Windows program", victim_passwd, true, false},
        {"the group is the victim's alone, an ACL entry lets the other user write", victim_passwd, false, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(addon());
        std::error_code ignored;
        fs::remove(starts(), ignored);
        add("Setup.exe", (c.windows_program ? "MZ\n" : "") + noting_setup());
        write_file(installer(), pack_addon(), 0755);
        fs::remove_all(temporary);
        fs::create_directories(temporary);
        chown(temporary.c_str(), victim, group);
        chmod(temporary.c_str(), 0770);
        if (c.acl) {
            const ProcessResult set = run_process("/usr/bin/setfacl", {"-m", "u:" + std::to_string(other) + ":rwx",
                                                                        temporary.string()},
                                                  {});
            ASSERT_EQ(set.exit_code, 0) << set.output;
        }

        const std::string folder = temporary.string(), name = staging.string();
        const std::string planted = (c.windows_program ? "MZ\n" : "") + evil;
        OtherUser attacker(
            [&] {
                const int watch = inotify_init();
                if (watch < 0 || inotify_add_watch(watch, folder.c_str(), IN_CREATE) < 0) _exit(1);
                alignas(struct inotify_event) char events[4096];
                for (unsigned count = 0;;) {
                    if (read(watch, events, sizeof events) <= 0) continue;
                    struct stat st;
                    if (lstat(name.c_str(), &st) != 0 || st.st_uid != victim) continue;
                    const std::string aside = folder + "/aside-" + std::to_string(++count);
                    if (rename(name.c_str(), aside.c_str()) != 0 || mkdir(name.c_str(), 0777) != 0) continue;
                    put(name + "/Setup.exe", planted, 0777);
                }
            },
            other, c.acl ? gid_t(other) : group);
        usleep(100 * 1000);  // the watch is set
        if (c.acl) {
            // The ACL entry does let them write there.
            const std::string probe = folder + "/probe";
            OtherUser prober([&] { _exit(mkdir(probe.c_str(), 0700) == 0 ? 0 : 1); }, other, other);
            ASSERT_TRUE(prober.wait()) << "the other user cannot write to the temporary folder: the test shows nothing";
            fs::remove(probe);
        }

        int installed = 0, refusals = 0, moved = 0;
        const std::string refused = message(LUMO_STR6_EN + staging.string() + "/" + LUMO_STR7_POSIX_EN);
        for (int run = 1; run <= 30; ++run) {
            for (const auto& entry : fs::directory_iterator(temporary)) fs::remove_all(entry.path());
            ProcessResult result = run_as(installer(), victim, group, c.passwd, groups, root(),
                                          {{"TMPDIR", folder}, {"PATH", wine_folder.string() + ":/usr/bin:/bin"}});
            bool started = true;
            if (result.output.empty()) started = starts_noted(++installed);
            else ++refusals;
            usleep(50 * 1000);  // time for any program started to leave its mark
            ASSERT_FALSE(fs::exists(evil_mark())) << "run " << run << ": the other user's setup program ran";
            ASSERT_TRUE(started) << "run " << run << ": the setup program did not start";
            if (!result.output.empty()) {
                ASSERT_EQ(result.output, refused) << "run " << run;
            }
            for (const auto& entry : fs::directory_iterator(temporary)) moved += entry.path().filename().string().starts_with("aside-");
            // Nothing of the victim's was written into a folder of the other user's.
            for (const auto& entry : fs::recursive_directory_iterator(temporary)) {
                struct stat st, parent;
                ASSERT_EQ(lstat(entry.path().c_str(), &st), 0);
                ASSERT_EQ(lstat(entry.path().parent_path().c_str(), &parent), 0);
                if (parent.st_uid == other) {
                    EXPECT_NE(st.st_uid, victim) << entry.path();
                }
            }
        }
        attacker.stop();
        std::cout << c.what << ": " << installed << " runs installed, " << refusals << " refused, the folder moved in "
                  << moved << "\n";
        for (const auto& line : lines_of(starts())) EXPECT_EQ(line, noted) << "started from a folder not the victim's alone";
        if (c.refused) {
            EXPECT_EQ(installed, 0) << "a temporary folder others may write to was used";
        } else {
            EXPECT_GT(installed, 0) << "the installer never got through: the test shows nothing";
            EXPECT_GT(moved, 0) << "the other user never moved the folder: the race was not run";
        }
    }
}

// The temporary folder, root's and closed to others, passes on a default ACL
// entry that lets the other user write; the staging folder left by an
// earlier run has one of its own. The installer makes the staging folder
// anew (the one others could write to is moved aside) without the default
// ACL, and the other user can neither add, replace nor change anything in
// it or below it, as the setup program runs.
TEST_F(StagingAttack, AclEntriesOfAnotherUserNeverOpenTheStagingFolder) {
    add("Setup.exe", noting_setup());
    add("Sounds/data.bin", "sound");
    write_file(installer(), pack_addon(), 0755);
    const uid_t other = unused_user_id();
    const std::string entry = "u:" + std::to_string(other) + ":rwx";
    chmod(tmp().c_str(), 0755);
    const ProcessResult inherited = run_process("/usr/bin/setfacl", {"-d", "-m", entry, tmp().string()}, {});
    ASSERT_EQ(inherited.exit_code, 0) << inherited.output;

    for (const bool left_open : {false, true}) {
        SCOPED_TRACE(left_open ? "a staging folder with an ACL entry of theirs" : "a new staging folder");
        std::error_code ignored;
        for (const auto& made : fs::directory_iterator(tmp())) fs::remove_all(made.path(), ignored);
        fs::remove(starts(), ignored);
        if (left_open) {
            // A read-only file, which the clean-up leaves: it stays with the
            // folder, used or moved aside.
            write_file(staging() / "stuck.txt", "left", 0444);
            chmod(staging().c_str(), 0770);
            const ProcessResult own = run_process("/usr/bin/setfacl", {"-m", entry, staging().string()}, {});
            ASSERT_EQ(own.exit_code, 0) << own.output;
        }

        ProcessResult result = run_installer_file();
        EXPECT_EQ(result.output, "");
        ASSERT_TRUE(starts_noted(1));
        struct stat st;
        ASSERT_EQ(lstat(staging().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        EXPECT_FALSE(fs::exists(staging() / "stuck.txt")) << "the folder others could write to was used";
        char acl[256];
        EXPECT_LT(getxattr(staging().c_str(), "system.posix_acl_default", acl, sizeof acl), 0)
            << "the staging folder hands the other user's entry on";
        EXPECT_LT(getxattr((staging() / "Sounds" / "data.bin").c_str(), "system.posix_acl_access", acl, sizeof acl), 0)
            << "a file written carries the other user's entry";

        // The other user tries to add, replace and change files in it and below it.
        const std::string folder = staging().string();
        OtherUser attacker(
            [&] {
                const bool in = open((folder + "/version.dll").c_str(), O_WRONLY | O_CREAT, 0666) >= 0 ||
                                open((folder + "/Sounds/version.dll").c_str(), O_WRONLY | O_CREAT, 0666) >= 0 ||
                                open((folder + "/Sounds/data.bin").c_str(), O_WRONLY) >= 0 ||
                                rename((folder + "/Setup.exe").c_str(), (folder + "/Setup.old").c_str()) == 0 ||
                                mkdir((folder + "/Sounds/theirs").c_str(), 0777) == 0;
                _exit(in ? 1 : 0);
            },
            other);
        EXPECT_TRUE(attacker.wait()) << "the other user got into the staging folder";
        EXPECT_EQ(read_file(staging() / "Sounds" / "data.bin"), "sound");
        EXPECT_EQ(lines_of(starts()), std::vector<std::string>{"0 700 0 700"});
    }
}

}  // namespace
}  // namespace lumo::test
