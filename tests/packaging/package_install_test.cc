// lumopack as a vendor installs it: the install step into a fresh prefix,
// the Debian package unpacked into a throwaway root, the Windows zip. From
// the package alone a Windows installer is built and run under Wine, and
// every file lands.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "wine_session.h"

namespace lumo::wine {
namespace {

namespace fs = std::filesystem;

// Set by the build: this build tree, the Windows builds and the stubs the
// packages must carry.
const fs::path this_build = LUMO_THIS_BUILD;
const fs::path windows32_build = LUMO_WINDOWS32_BUILD;
const fs::path helpers = fs::path(LUMO_WINDOWS_BUILD) / "tests" / "wine" / "windows";
const std::map<std::string, fs::path> built_stubs = {
    {"lumo-stub-windows-x86.exe", LUMO_STUB_WINDOWS_X86},
    {"lumo-stub-windows-x64.exe", LUMO_STUB_WINDOWS_X64},
    {"lumo-stub-posix", LUMO_POSIX_STUB},
};

// Every regular file below `root`, by its path relative to `root`.
std::map<std::string, std::string> tree_of(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) tree[entry.path().lexically_relative(root).generic_string()] = read_file(entry.path());
    return tree;
}

// Bytes that no packer can shrink.
std::string noise(size_t size) {
    std::mt19937 random(1);
    std::string bytes(size, '\0');
    for (auto& byte : bytes) byte = static_cast<char>(random());
    return bytes;
}

class PackageInstall : public testing::Test {
protected:
    static void SetUpTestSuite() { session_ = std::make_unique<WineSession>(); }
    static void TearDownTestSuite() { session_.reset(); }

    void SetUp() override {
        char pattern[] = "/tmp/lumopack-package-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        scratch_ = pattern;
    }
    void TearDown() override {
        session_->wait_until_idle();
        fs::remove_all(scratch_);
    }

    // A host command's standard output and error together.
    static RunResult sh(const std::string& command) { return session_->host("sh -c " + shell_quote(command) + " 2>&1"); }

    // The files of `root` (a prefix or a package's root) are the ones each
    // target needs, stubs byte for byte, and its lumopack takes those stubs:
    // nothing from the build trees it came from.
    static void expect_installed(const fs::path& root) {
        EXPECT_TRUE((fs::status(root / "bin" / "lumopack").permissions() & fs::perms::owner_exec) != fs::perms::none);
        for (const auto& [name, stub] : built_stubs)
            EXPECT_TRUE(read_file(root / "lib" / "lumopack" / name) == read_file(stub)) << name;
        EXPECT_TRUE(fs::is_regular_file(root / "share" / "man" / "man1" / "lumopack.1.gz"));

        // Started by its bare name through PATH, as a vendor runs it; man
        // finds the page below the folder of a program on PATH.
        const std::string path = "PATH=" + shell_quote((root / "bin").string()) + ":/usr/bin:/bin ";
        RunResult help = sh(path + "lumopack --help");
        ASSERT_EQ(help.exit_code, 0) << help.output;
        for (const auto& [name, stub] : built_stubs)
            EXPECT_NE(help.output.find("\n               " + (root / "lib" / "lumopack" / name).string() + "\n"),
                      std::string::npos)
                << help.output;
        RunResult manual = sh("unset MANPATH; " + path + "MANWIDTH=80 man -P cat lumopack");
        EXPECT_EQ(manual.exit_code, 0) << manual.output;
        EXPECT_NE(manual.output.find("lumopack - build, list, test and extract installers"), std::string::npos)
            << manual.output;
    }

    static std::unique_ptr<WineSession> session_;
    fs::path scratch_;
};

std::unique_ptr<WineSession> PackageInstall::session_;

TEST_F(PackageInstall, InstallStepPutsLumopackItsStubsAndItsManualPageInTheUsualPlaces) {
    const fs::path prefix = scratch_ / "prefix";
    RunResult installed = sh("cmake --install " + shell_quote(this_build.string()) + " --prefix " +
                             shell_quote(prefix.string()));
    ASSERT_EQ(installed.exit_code, 0) << installed.output;
    expect_installed(prefix);

}

TEST_F(PackageInstall, DebianPackageAloneMakesAWindowsInstallerThatLandsEveryFile) {
    RunResult packed = sh("cpack --config " + shell_quote((this_build / "CPackConfig.cmake").string()) +
                          " -G DEB -B " + shell_quote((scratch_ / "packages").string()));
    ASSERT_EQ(packed.exit_code, 0) << packed.output;
    const fs::path deb = scratch_ / "packages" / "lumopack_0.1.0_amd64.deb";
    ASSERT_TRUE(fs::exists(deb)) << packed.output;
    RunResult fields = sh("dpkg-deb -f " + shell_quote(deb.string()) + " Package Version Depends");
    // A sanitizer build's package depends on its runtime before the C library.
    for (const char* field : {"Package: lumopack\n", "Version: 0.1.0\n", "Depends: ", "libc6 ("})
        EXPECT_NE(fields.output.find(field), std::string::npos) << fields.output;

    const fs::path root = scratch_ / "root";
    ASSERT_EQ(sh("dpkg -x " + shell_quote(deb.string()) + " " + shell_quote(root.string())).exit_code, 0);
    expect_installed(root / "usr");

    // The add-on, on the prefix's C: drive, with the stand-in setup program.
    const fs::path addon = session_->scratch_folder("addon");
    fs::copy_file(helpers / "setup_standin.exe", addon / "Setup.exe");
    write_file(addon / "Readme.txt", "read me\r\n");
    write_file(addon / "Presets" / "Warm Hall.preset", "room=warm\r\n");
    write_file(addon / "data" / "deep" / "noise.bin", noise(200000));
    const auto files = tree_of(addon);

    // The default target: the 32-bit Windows installer.
    const fs::path installer = session_->scratch_folder("installer") / "WarmHall.exe";
    RunResult built = sh(shell_quote((root / "usr" / "bin" / "lumopack").string()) + " build " +
                         shell_quote(addon.string()) + " -o " + shell_quote(installer.string()) + " --level 1");
    ASSERT_EQ(built.exit_code, 0) << built.output;
    EXPECT_TRUE(read_file(installer).starts_with(read_file(built_stubs.at("lumo-stub-windows-x86.exe"))));

    // Where 32-bit programs cannot run, the 64-bit installer stands in for it.
    fs::path run_installer = installer;
    if (!runs_32bit_programs()) {
        run_installer = installer.parent_path() / "WarmHall64.exe";
        RunResult built64 = sh(shell_quote((root / "usr" / "bin" / "lumopack").string()) + " build " +
                               shell_quote(addon.string()) + " -o " + shell_quote(run_installer.string()) +
                               " --level 1 --target windows-x64");
        ASSERT_EQ(built64.exit_code, 0) << built64.output;
    }
    const fs::path staging = session_->temp_folder() / "Lumo.40";
    fs::remove_all(staging);
    RunResult run = session_->run(run_installer, {}, {}, 120);
    EXPECT_EQ(run.exit_code, 0);
    const fs::path record = staging / "setup-started.txt";
    for (int i = 0; i < 200 && !fs::exists(record); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(fs::exists(record)) << "the setup program was started";
    session_->wait_until_idle();
    auto landed = tree_of(staging);
    landed.erase("setup-started.txt");
    landed.erase("setup-finished.txt");
    EXPECT_EQ(landed.size(), files.size());
    for (const auto& [name, content] : files) EXPECT_TRUE(landed[name] == content) << name << " differs or is missing";
}

TEST_F(PackageInstall, WindowsZipHoldsLumopackBesideTheWindowsStubs) {
    RunResult packed = sh("cpack --config " + shell_quote((windows32_build / "CPackConfig.cmake").string()) +
                          " -G ZIP -B " + shell_quote((scratch_ / "packages").string()));
    ASSERT_EQ(packed.exit_code, 0) << packed.output;
    const fs::path zip = scratch_ / "packages" / "lumopack-0.1.0-win32.zip";
    ASSERT_TRUE(fs::exists(zip)) << packed.output;
    const fs::path unpacked = session_->scratch_folder("zip");
    ASSERT_EQ(sh("unzip -q " + shell_quote(zip.string()) + " -d " + shell_quote(unpacked.string())).exit_code, 0);
    const fs::path folder = unpacked / "lumopack-0.1.0-win32";
    std::vector<std::string> names;
    for (const auto& [name, content] : tree_of(unpacked)) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"lumopack-0.1.0-win32/lumo-stub-windows-x64.exe",
                                               "lumopack-0.1.0-win32/lumo-stub-windows-x86.exe",
                                               "lumopack-0.1.0-win32/lumopack.exe"}));
    for (const char* name : {"lumo-stub-windows-x86.exe", "lumo-stub-windows-x64.exe"})
        EXPECT_TRUE(read_file(folder / name) == read_file(built_stubs.at(name))) << name;

    // lumopack.exe finds both beside itself, and builds with them.
    if (!runs_32bit_programs()) GTEST_SKIP() << "lumopack.exe of the zip is a 32-bit program: " << no_32bit_programs;
    RunResult help = session_->run(folder / "lumopack.exe", {"--help"});
    EXPECT_EQ(help.exit_code, 0) << help.output;
    for (const char* name : {"lumo-stub-windows-x86.exe", "lumo-stub-windows-x64.exe"})
        EXPECT_NE(help.output.find(session_->windows_path(folder / name) + "\r\n"), std::string::npos) << help.output;
    const fs::path addon = session_->scratch_folder("zip-addon");
    fs::copy_file(helpers / "setup_standin.exe", addon / "Setup.exe");
    const fs::path installer = addon.parent_path() / "zip-addon.exe";
    RunResult built = session_->run(folder / "lumopack.exe", {"build", session_->windows_path(addon), "-o",
                                                              session_->windows_path(installer), "--target",
                                                              "windows-x64", "--level", "1"});
    EXPECT_EQ(built.exit_code, 0) << built.output;
    EXPECT_TRUE(read_file(installer).starts_with(read_file(built_stubs.at("lumo-stub-windows-x64.exe"))));
}

}  // namespace
}  // namespace lumo::wine
