// The version range check against fake version information.
#include "update_check/version_check.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_platform.h"

namespace lumo {
namespace {

const std::string folder = "C:\\Lumo";
const std::string program = "C:\\Lumo\\lumo.exe";
const std::string language = "C:\\Lumo\\lumojpn.nls";

VersionInfo version(uint16_t a, uint16_t b, uint16_t c, uint16_t d, const char* name = nullptr) {
    VersionInfo info;
    info.has_fixed_info = true;
    info.file_version_ms = uint32_t{a} << 16 | b;
    info.file_version_ls = uint32_t{c} << 16 | d;
    if (name) {
        info.has_product_name = true;
        info.product_name = name;
    }
    return info;
}

TEST(PackedVersion, KeepsLowestByteOfEachPart) {
    EXPECT_EQ(packed_version(0x00010002, 0x00030004), 0x01020304u);
    EXPECT_EQ(packed_version(0x00010002, 0x01000004), 0x01020004u);  // 1.2.256.4
    EXPECT_EQ(packed_version(0xFFFFFFFF, 0xFFFFFFFF), 0xFFFFFFFFu);
    EXPECT_EQ(packed_version(0x01050105, 0x010A0000), 0x05050A00u);
}

TEST(ProductFilePath, OneBackslashAnd260ByteLimit) {
    EXPECT_EQ(product_file_path("C:\\Lumo", "lumo.exe"), "C:\\Lumo\\lumo.exe");
    EXPECT_EQ(product_file_path("C:\\Lumo\\", "lumo.exe"), "C:\\Lumo\\lumo.exe");
    std::string longest(259 - 9, 'f');  // folder, backslash and "lumo.exe": 259 bytes
    EXPECT_EQ(product_file_path(longest, "lumo.exe").size(), 259u);
    EXPECT_EQ(product_file_path(longest + "g", "lumo.exe"), "");
}

struct Check {
    FakePlatform platform;
    SetupRecord record;
    Check() { record.version_hi = 0xFFFFFFFF; }
    bool run(const std::string& in = folder) { return check_installed_version(platform, record, in); }
};

TEST(CheckInstalledVersion, DecisionTable) {
    struct Case {
        const char* what;
        uint32_t lo, hi;
        std::optional<VersionInfo> program_info;  // absent: no version information
        std::optional<std::string> product_name;
        int check_language;
        bool language_has_info;
        bool pass;
        bool asks_language = false;
    };
    const Case cases[] = {
        {"at the lower bound", 0x05050A00, 0x05060000, version(5, 5, 10, 0), {}, 0, false, true},
        {"at the upper bound", 0x05050A00, 0x05060000, version(5, 6, 0, 0), {}, 0, false, true},
        {"one below the lower bound", 0x05050A00, 0x05060000, version(5, 5, 9, 255), {}, 0, false, false},
        {"one above the upper bound", 0x05050A00, 0x05060000, version(5, 6, 0, 1), {}, 0, false, false},
        {"defaults admit everything", 0, 0xFFFFFFFF, version(0, 0, 0, 0), {}, 0, false, true},
        {"1.2.256.4 packs as 0x01020004", 0x01020004, 0x01020004, version(1, 2, 256, 4), {}, 0, false, true},
        {"1.2.256.4 is not 1.2.3.4 or above", 0x01020300, 0xFFFFFFFF, version(1, 2, 256, 4), {}, 0, false, false},
        {"no version information", 0, 0xFFFFFFFF, std::nullopt, {}, 0, false, false},
        {"name equal", 0, 0xFFFFFFFF, version(1, 0, 0, 0, "Lumo Burner"), "Lumo Burner", 0, false, true},
        {"name differs by case", 0, 0xFFFFFFFF, version(1, 0, 0, 0, "lumo burner"), "Lumo Burner", 0, false, false},
        {"name longer", 0, 0xFFFFFFFF, version(1, 0, 0, 0, "Lumo Burner "), "Lumo Burner", 0, false, false},
        {"no 040904B0 table", 0, 0xFFFFFFFF, version(1, 0, 0, 0), "Lumo Burner", 0, false, false},
        {"equal name, version outside", 0x02000000, 0xFFFFFFFF, version(1, 0, 0, 0, "Lumo"), "Lumo", 0, false, false},
        {"name table present but not asked", 0, 0xFFFFFFFF, version(1, 0, 0, 0, "Other"), {}, 0, false, true},
        {"language file with information", 0, 0xFFFFFFFF, version(1, 0, 0, 0), {}, 1, true, true, true},
        {"language file missing or without information", 0, 0xFFFFFFFF, version(1, 0, 0, 0), {}, 1, false, false, true},
        {"language not asked after a failed range", 0x02000000, 0xFFFFFFFF, version(1, 0, 0, 0), {}, 1, true, false, false},
    };
    for (const Case& c : cases) {
        Check k;
        k.record.version_lo = c.lo;
        k.record.version_hi = c.hi;
        k.record.product_name = c.product_name;
        k.record.check_language = c.check_language;
        if (c.program_info) k.platform.version_infos[program] = *c.program_info;
        if (c.language_has_info) k.platform.version_infos[language] = VersionInfo{};
        EXPECT_EQ(k.run(), c.pass) << c.what;
        // The language file is asked for only when the script wants it and
        // everything before has passed.
        bool language_asked = !k.platform.version_reads.empty() && k.platform.version_reads.back() == language;
        EXPECT_EQ(language_asked, c.asks_language) << c.what;
    }
}

TEST(CheckInstalledVersion, Mp3PassesWithoutLookingAtFiles) {
    Check k;
    k.record.mp3_install = 1;
    k.record.version_lo = 0xFFFFFFFF;
    k.record.check_language = 1;
    EXPECT_TRUE(k.run());
    EXPECT_TRUE(k.platform.version_reads.empty());
}

TEST(CheckInstalledVersion, FolderEndingInBackslashAndOverlongFolder) {
    Check k;
    k.platform.version_infos[program] = version(1, 0, 0, 0);
    EXPECT_TRUE(k.run("C:\\Lumo\\"));
    EXPECT_EQ(k.platform.version_reads, std::vector<std::string>{program});

    Check overlong;
    std::string long_folder(251, 'f');
    overlong.platform.version_infos[long_folder + "\\lumo.exe"] = version(1, 0, 0, 0);
    EXPECT_FALSE(overlong.run(long_folder));
    EXPECT_TRUE(overlong.platform.version_reads.empty());
}

}  // namespace
}  // namespace lumo
