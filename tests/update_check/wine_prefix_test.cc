// Windows paths mapped into a Wine prefix, and the product reads of the
// POSIX platform against a prefix laid out on disk.
#include "platform/posix/wine_prefix.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/posix/posix_platform.h"

namespace lumo {
namespace {

namespace fs = std::filesystem;

void write_file(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// A prefix with drive C (through dosdevices), a drive D elsewhere, the
// product in "Program Files (x86)\Lumo" and registry files.
class Prefix : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("lumo-prefix-" + std::to_string(getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "drive_c/Program Files (x86)/Lumo");
        fs::create_directories(root / "elsewhere/Player");
        fs::create_directories(root / "dosdevices");
        fs::create_directory_symlink("../drive_c", root / "dosdevices/c:");
        fs::create_directory_symlink("../elsewhere", root / "dosdevices/d:");
        fs::copy_file(std::string(LUMO_PRODUCT_PROGRAMS) + "/english32.exe",
                      root / "drive_c/Program Files (x86)/Lumo/Lumo.EXE");
        fs::copy_file(std::string(LUMO_PRODUCT_PROGRAMS) + "/plain64.exe",
                      root / "drive_c/Program Files (x86)/Lumo/lumojpn.nls");
        previous = getenv("WINEPREFIX") ? getenv("WINEPREFIX") : "";
        setenv("WINEPREFIX", root.c_str(), 1);
    }
    void TearDown() override {
        if (previous.empty())
            unsetenv("WINEPREFIX");
        else
            setenv("WINEPREFIX", previous.c_str(), 1);
        fs::remove_all(root);
    }
    std::string host(const std::string& windows_path) { return wine_host_path(root.string(), windows_path); }

    fs::path root;
    std::string previous;
};

TEST_F(Prefix, WindowsPathsMapIntoThePrefix) {
    const std::string product = (root / "drive_c/Program Files (x86)/Lumo").string();
    struct Case {
        const char* windows;
        std::string host;
    };
    const Case cases[] = {
        {"C:\\Program Files (x86)\\Lumo", root.string() + "/dosdevices/c:/Program Files (x86)/Lumo"},
        {"c:\\PROGRAM FILES (X86)\\lumo\\lumo.exe", root.string() + "/dosdevices/c:/Program Files (x86)/Lumo/Lumo.EXE"},
        {"C:/Program Files (x86)/Lumo/", root.string() + "/dosdevices/c:/Program Files (x86)/Lumo"},
        {"C:\\..\\..\\Program Files (x86)\\.\\Lumo", root.string() + "/dosdevices/c:/Program Files (x86)/Lumo"},
        {"C:\\Missing\\lumo.exe", root.string() + "/dosdevices/c:/Missing/lumo.exe"},
        {"D:\\player", root.string() + "/dosdevices/d:/Player"},
        {"C:", root.string() + "/dosdevices/c:"},
        {"E:\\anything", ""},          // no such drive
        {"\"C:\\Tools", ""},           // quotes are no drive
        {"\\\\server\\share", ""},
        {"lumo.exe", ""},
        {"C:lumo.exe", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(host(c.windows), c.host) << c.windows;

    // Without dosdevices, drive C is drive_c.
    fs::remove(root / "dosdevices/c:");
    EXPECT_EQ(host("C:\\program files (x86)"), root.string() + "/drive_c/Program Files (x86)");
}

TEST_F(Prefix, RegistryProfileVersionAndFiles) {
    write_file(root / "system.reg",
               "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n"
               "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\lumo.exe] 1\n"
               "@=\"C:\\\\Program Files\\\\Lumo64\\\\lumo.exe\"\n\n"
               "[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion] 1\n"
               "\"CurrentMajorVersionNumber\"=dword:0000000a\n\"CurrentVersion\"=\"6.3\"\n\n"
               "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\lumo.exe] 1\n"
               "@=\"C:\\\\Program Files (x86)\\\\Lumo\\\\lumo.exe\"\n"
               "\"Long\"=\"" + std::string(255, 'x') + "\"\n\"TooLong\"=\"" + std::string(256, 'x') + "\"\n");
    write_file(root / "drive_c/windows/lumo.ini", "[Info]\nPath=C:\\Program Files (x86)\\Lumo\n");

    PosixPlatform platform;
    const std::string key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\lumo.exe";
    std::vector<uint8_t> data;
    ASSERT_TRUE(platform.read_registry_value(key, "", 256, data));
    std::string expected = "C:\\Program Files (x86)\\Lumo\\lumo.exe";
    EXPECT_EQ(std::string(data.begin(), data.end()), expected + '\0');  // the 32-bit view
    EXPECT_TRUE(platform.read_registry_value(key, "Long", 256, data));
    EXPECT_EQ(data.size(), 256u);
    EXPECT_FALSE(platform.read_registry_value(key, "TooLong", 256, data));
    EXPECT_FALSE(platform.read_registry_value(key + "x", "", 256, data));

    EXPECT_EQ(platform.system_version() & 0xFF, 10u);
    EXPECT_EQ(platform.read_profile_string("info", "path", 260, "Lumo.ini"), "C:\\Program Files (x86)\\Lumo");
    EXPECT_EQ(platform.read_profile_string("Info", "Path", 8, "Lumo.ini"), "C:\\Prog");
    EXPECT_EQ(platform.read_profile_string("Info", "Path", 260, "Other.ini"), "");

    const std::string program = "C:\\Program Files (x86)\\Lumo\\lumo.exe";
    uint32_t size = platform.version_info_size(program);
    ASSERT_GT(size, 0u);
    VersionInfo info;
    ASSERT_TRUE(platform.read_version_info(program, size, info));
    EXPECT_TRUE(info.has_fixed_info);
    EXPECT_EQ(info.file_version_ms, 0x00050005u);
    EXPECT_EQ(info.product_name, "Lumo Burner");
    EXPECT_EQ(platform.version_info_size("C:\\Program Files (x86)\\Lumo\\lumojpn.nls"), 0u);  // no version resource
    EXPECT_EQ(platform.version_info_size("C:\\Program Files (x86)\\Lumo\\missing.exe"), 0u);
    EXPECT_EQ(platform.version_info_size("C:\\Program Files (x86)\\Lumo"), 0u);  // a folder

    // GetFileAttributesA of the product's folder looks into the prefix.
    EXPECT_TRUE(platform.path_exists("c:\\program files (x86)\\LUMO"));
    EXPECT_TRUE(platform.path_exists("D:\\Player"));
    EXPECT_FALSE(platform.path_exists("C:\\Program Files\\Lumo64"));
    EXPECT_FALSE(platform.path_exists("\"C:\\Program Files (x86)\\Lumo"));
}

TEST_F(Prefix, SystemVersionAsThePrefixReportsIt) {
    struct Case {
        const char* what;
        std::string user_reg, system_reg;
        uint32_t version;
    };
    const std::string header = "WINE REGISTRY Version 2\n\n";
    const std::string nt = "[Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion] 1\n";
    const Case cases[] = {
        {"Wine shows Windows 3.1", header + "[Software\\\\Wine] 1\n\"Version\"=\"win31\"\n",
         header + nt + "\"CurrentVersion\"=\"6.1\"\n", 0x0A03},
        {"Wine shows Windows XP", header + "[Software\\\\Wine] 1\n\"Version\"=\"WinXP\"\n", "", 0x0105},
        {"NT CurrentVersion", "", header + nt + "\"CurrentVersion\"=\"6.1\"\n", 0x0106},
        {"9x VersionNumber", "",
         header + "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] 1\n\"VersionNumber\"=\"4.10.2222\"\n", 0x0A04},
        {"nothing said", "", "", 0x0106},
    };
    for (const Case& c : cases) {
        fs::remove(root / "user.reg");
        fs::remove(root / "system.reg");
        if (!c.user_reg.empty()) write_file(root / "user.reg", c.user_reg);
        if (!c.system_reg.empty()) write_file(root / "system.reg", c.system_reg);
        EXPECT_EQ(wine_system_version(root.string()), c.version) << c.what;
    }
}

}  // namespace
}  // namespace lumo
