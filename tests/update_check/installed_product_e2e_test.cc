// The whole run against an installed product in a Wine prefix made by Wine
// itself (wineboot), registered with Wine's own "reg": installers whose
// script fits, misses the range, names another product or is malformed.
// When anything does not fit, the staging folder holds exactly the entries
// up to "Setup.exe", and the setup program still starts. Run with the POSIX
// installer against the prefix, and with the Windows installer under Wine.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <thread>

#include "installer_process.h"
#include "platform/posix/posix_platform.h"
#include "wine_session.h"

namespace lumo {
namespace {

namespace fs = std::filesystem;

const fs::path lumopack = LUMO_LUMOPACK;
const fs::path posix_stub = LUMO_POSIX_STUB;
const fs::path windows_stub = fs::path(LUMO_WINDOWS_BUILD) / "launcher" / "lumo-stub.exe";
const fs::path windows32_stub = fs::path(LUMO_WINDOWS32_BUILD) / "launcher" / "lumo-stub.exe";
const fs::path windows_setup = fs::path(LUMO_WINDOWS_BUILD) / "tests" / "wine" / "windows" / "setup_standin.exe";
const fs::path windows_probe = fs::path(LUMO_WINDOWS_BUILD) / "tests" / "update_check" / "windows" / "product_probe.exe";
const fs::path programs = LUMO_PRODUCT_PROGRAMS;

// The POSIX stand-in setup program records that it ran beside the temporary folder.
const char* const posix_setup =
    "#!/bin/sh\n"
    "pwd > \"$TMPDIR/../setup-record.part\"\n"
    "mv \"$TMPDIR/../setup-record.part\" \"$TMPDIR/../setup-record\"\n";

struct Case {
    const char* name;
    const char* script;
    bool fits;
};

// The product: lumo.exe 5.5.10.0 named "Lumo Burner", with its language file.
const Case cases[] = {
    {"fits", "VERSION_LO 05050A00\nVERSION_HI 05050A00\nPRODUCT_NAME \"Lumo Burner\"\nCHECK_LANGUAGE\n", true},
    {"above_range", "VERSION_LO 05050A01\n", false},
    {"below_range", "VERSION_LO 0\nVERSION_HI 050509FF\n", false},
    {"other_product", "PRODUCT_NAME \"Lumo Brenner\"\n", false},
    {"malformed", "VERSION_LO\n", false},
};

// The entries of every installer, in payload order: the script, the setup
// program, then the rest.
const std::set<std::string> all_entries = {"Setup.cfg", "Setup.exe", "a.dll", "z.txt"};
const std::set<std::string> up_to_setup = {"Setup.cfg", "Setup.exe"};

std::set<std::string> staged(const fs::path& staging) {
    std::set<std::string> names;
    if (!fs::exists(staging)) return names;
    for (const auto& entry : fs::directory_iterator(staging)) {
        std::string name = entry.path().filename().string();
        if (name != "setup-started.txt" && name != "setup-finished.txt") names.insert(name);
    }
    return names;
}

bool wait_for(const fs::path& path, double seconds) {
    for (int i = 0; i < seconds * 10 && !fs::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return fs::exists(path);
}

class InstalledProductRuns : public testing::Test {
public:
    static void SetUpTestSuite() {
        for (const fs::path& needed :
             {lumopack, posix_stub, windows_stub, windows32_stub, windows_setup, windows_probe, programs / "english32.exe"})
            ASSERT_TRUE(fs::exists(needed))
                << needed << " is missing: build lumopack, the stubs and the mingw64 and mingw32 presets";
        session_ = std::make_unique<wine::WineSession>();
        const fs::path product = session_->drive_c() / "Program Files (x86)" / "Lumo";
        fs::create_directories(product);
        fs::copy_file(programs / "english32.exe", product / "lumo.exe");
        fs::copy_file(programs / "german32.exe", product / "lumojpn.nls");
        // The 32-bit program's registration, as its own installer makes it.
        const std::string env = "env WINEPREFIX=" + wine::shell_quote(session_->prefix().string()) + " WINEDEBUG=-all ";
        wine::RunResult reg = session_->host(
            env + "wine reg add 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\lumo.exe' /ve /d " +
            wine::shell_quote(session_->windows_path(product / "lumo.exe")) + " /f /reg:32");
        ASSERT_EQ(reg.exit_code, 0) << reg.output;
        // The registry reaches system.reg when the server ends.
        session_->wait_until_idle();
    }
    static void TearDownTestSuite() { session_.reset(); }

    // An add-on folder with the case's script and a setup program, packed
    // with `stub` into an installer in `folder`.
    static fs::path pack(const Case& c, const fs::path& folder, const fs::path& stub, const std::string& setup) {
        const fs::path files = folder / "files";
        fs::create_directories(files);
        wine::write_file(files / "Setup.cfg", c.script);
        wine::write_file(files / "Setup.exe", setup);
        wine::write_file(files / "a.dll", "library");
        wine::write_file(files / "z.txt", "last entry");
        const fs::path installer = folder / (std::string(c.name) + stub.extension().string());
        test::ProcessResult packed = test::run_process(
            lumopack.string(),
            {"build", files.string(), "-o", installer.string(), "--stub", stub.string(), "--no-script-check"}, {});
        EXPECT_EQ(packed.exit_code, 0) << packed.output;
        return installer;
    }

public:
    static std::unique_ptr<wine::WineSession> session_;
};

std::unique_ptr<wine::WineSession> InstalledProductRuns::session_;

TEST_F(InstalledProductRuns, PosixInstallerAgainstThePrefix) {
    for (const Case& c : cases) {
        test::ScratchFolder scratch;
        const fs::path tmp = scratch.path() / "tmp";
        fs::create_directories(tmp);
        const fs::path installer = pack(c, scratch.path(), posix_stub, posix_setup);
        test::ProcessResult run = test::run_process(
            installer.string(), {}, {{"TMPDIR", tmp.string()}, {"WINEPREFIX", session_->prefix().string()}});
        EXPECT_EQ(run.exit_code, 0) << c.name << ": " << run.output;
        EXPECT_TRUE(wait_for(scratch.path() / "setup-record", 10)) << c.name << ": the setup program did not start";
        EXPECT_EQ(staged(tmp / "Lumo.40"), c.fits ? all_entries : up_to_setup) << c.name;
    }
}

TEST_F(InstalledProductRuns, PosixInstallerWithoutTheProduct) {
    // A prefix that names no such product: every script stops after the
    // setup program, even one that admits every version.
    test::ScratchFolder scratch;
    const fs::path tmp = scratch.path() / "tmp";
    fs::create_directories(tmp);
    const Case any{"any", "", false};
    const fs::path installer = pack(any, scratch.path(), posix_stub, posix_setup);
    test::ProcessResult run =
        test::run_process(installer.string(), {}, {{"TMPDIR", tmp.string()}, {"WINEPREFIX", (scratch.path() / "none").string()}});
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_TRUE(wait_for(scratch.path() / "setup-record", 10));
    EXPECT_EQ(staged(tmp / "Lumo.40"), up_to_setup);
}

// Both Windows installers: the x86_64 one reads the 32-bit registry view on
// purpose, the i686 one (under Wine's 32-bit half) has no other.
TEST_F(InstalledProductRuns, WindowsInstallerUnderWine) {
    const std::string setup = wine::read_file(windows_setup);
    const fs::path staging = session_->temp_folder() / "Lumo.40";
    for (const auto& [build, stub] : {std::pair{"x86_64", windows_stub}, std::pair{"i686", windows32_stub}}) {
        if (std::string(build) == "i686" && !wine::runs_32bit_programs()) continue;  // the x86_64 one still ran
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(build) + ", " + c.name);
            fs::remove_all(staging);
            const fs::path folder = session_->scratch_folder(std::string("product-") + build + "-" + c.name);
            const fs::path installer = pack(c, folder, stub, setup);
            wine::RunResult run = session_->run(installer, {}, {}, 90);
            EXPECT_EQ(run.exit_code, 0);
            EXPECT_TRUE(wait_for(staging / "setup-started.txt", 20)) << "the setup program did not start";
            EXPECT_EQ(staged(staging), c.fits ? all_entries : up_to_setup);
            session_->wait_until_idle();
        }
    }
}

// What the POSIX platform reads of a product, in the probe's line format.
std::string posix_version_line(Platform& platform, const std::string& path) {
    uint32_t size = platform.version_info_size(path);
    VersionInfo info;
    bool read = size && platform.read_version_info(path, size, info);
    char line[128];
    std::snprintf(line, sizeof line, "%d %d %08lx %08lx %d ", size != 0, read && info.has_fixed_info,
                  static_cast<unsigned long>(info.file_version_ms), static_cast<unsigned long>(info.file_version_ls),
                  info.has_product_name);
    return line + info.product_name + "\n";
}

std::string without_carriage_returns(std::string text) {
    std::erase(text, '\r');
    return text;
}

TEST_F(InstalledProductRuns, PosixReadsAgreeWithWindowsReadsUnderWine) {
    const fs::path folder = session_->scratch_folder("probe");
    std::vector<std::string> paths;
    for (const char* name : {"english32", "english64", "german32", "german64", "plain64"}) {
        fs::copy_file(programs / (std::string(name) + ".exe"), folder / (std::string(name) + ".exe"));
        paths.push_back(session_->windows_path(folder / (std::string(name) + ".exe")));
    }
    paths.push_back(session_->windows_path(folder / "missing.exe"));
    paths.push_back(session_->windows_path(folder));

    std::vector<std::string> arguments = {"version"};
    arguments.insert(arguments.end(), paths.begin(), paths.end());
    wine::RunResult windows = session_->run(windows_probe, arguments);
    ASSERT_EQ(windows.exit_code, 0);

    setenv("WINEPREFIX", session_->prefix().c_str(), 1);
    PosixPlatform posix;
    std::string expected;
    for (const std::string& path : paths) expected += posix_version_line(posix, path);
    EXPECT_EQ(without_carriage_returns(windows.output), expected);
    EXPECT_NE(expected.find("1 1 00010002 01000004 1 Lumo Burner"), std::string::npos) << expected;

    const std::string key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\lumo.exe";
    std::vector<uint8_t> data;
    ASSERT_TRUE(posix.read_registry_value(key, "", 256, data));
    EXPECT_EQ(without_carriage_returns(session_->run(windows_probe, {"registry", key}).output),
              "1 " + std::string(data.begin(), data.end() - 1) + "\n");
    EXPECT_EQ(without_carriage_returns(session_->run(windows_probe, {"system"}).output),
              std::to_string(posix.system_version() & 0xFF) + "\n");
    unsetenv("WINEPREFIX");
}

// Prefixes laid out by hand for what a Wine-made one does not show: a
// system of major version 3 that names the product in "Lumo.ini", and an MP3
// add-on found through the media player.
TEST(HandMadePrefixRuns, ProfileOnOldSystemsAndMediaPlayerFallback) {
    struct Layout {
        const char* name;
        const char* user_reg;    // the Windows version Wine shows
        const char* system_reg;  // below the header
        const char* profile;     // drive_c/windows/LUMO.INI, or null
        const char* program;     // english64 (1.2.256.4) placed at drive_c/Old/LUMO.EXE, or null
        const char* player_folder;  // made below drive_c, or null
        const char* script;
        bool fits;
    };
    const char* const win31 = "[Software\\\\Wine] 1\n\"Version\"=\"win31\"\n";
    const char* const registered =
        "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\lumo.exe] 1\n@=\"C:\\\\Old\\\\lumo.exe\"\n";
    const char* const player =
        "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\LumoMediaPlayer.exe] 1\n"
        "@=\"C:\\\\Player\\\\LumoMediaPlayer.exe\"\n";
    const Layout layouts[] = {
        {"profile, 1.2.256.4 at the top", win31, "", "[info]\r\n path = c:\\old \r\n", "english64", nullptr,
         "VERSION_HI 01020004\n", true},
        {"profile, one above the top", win31, "", "[Info]\nPath=C:\\Old\n", "english64", nullptr,
         "VERSION_HI 01020003\n", false},
        {"major 3 ignores the registry", win31, registered, nullptr, "english64", nullptr, "", false},
        {"registry on newer systems", "", registered, "[Info]\nPath=C:\\Nowhere\n", "english64", nullptr, "", true},
        {"mp3 through the media player", "", player, nullptr, nullptr, "Player/LumoFiles", "MP3_INSTALL\n", true},
        {"mp3 without LumoFiles", "", player, nullptr, nullptr, "Player", "MP3_INSTALL\n", false},
        {"media player only for mp3", "", player, nullptr, nullptr, "Player/LumoFiles", "", false},
    };
    for (const Layout& l : layouts) {
        test::ScratchFolder scratch;
        const fs::path prefix = scratch.path() / "prefix";
        const std::string header = "WINE REGISTRY Version 2\n\n";
        wine::write_file(prefix / "user.reg", header + l.user_reg);
        wine::write_file(prefix / "system.reg", header + l.system_reg);
        fs::create_directories(prefix / "drive_c" / "windows");
        if (l.profile) wine::write_file(prefix / "drive_c" / "windows" / "LUMO.INI", l.profile);
        if (l.program) {
            fs::create_directories(prefix / "drive_c" / "Old");
            fs::copy_file(programs / (std::string(l.program) + ".exe"), prefix / "drive_c" / "Old" / "LUMO.EXE");
        }
        if (l.player_folder) fs::create_directories(prefix / "drive_c" / l.player_folder);

        const fs::path tmp = scratch.path() / "tmp";
        fs::create_directories(tmp);
        const Case c{"handmade", l.script, l.fits};
        const fs::path installer = InstalledProductRuns::pack(c, scratch.path(), posix_stub, posix_setup);
        test::ProcessResult run =
            test::run_process(installer.string(), {}, {{"TMPDIR", tmp.string()}, {"WINEPREFIX", prefix.string()}});
        EXPECT_EQ(run.exit_code, 0) << l.name << ": " << run.output;
        EXPECT_TRUE(wait_for(scratch.path() / "setup-record", 10)) << l.name;
        EXPECT_EQ(staged(tmp / "Lumo.40"), l.fits ? all_entries : up_to_setup) << l.name;
    }
}

}  // namespace
}  // namespace lumo
