// The installed product lookup against a fake registry and profile.
#include "update_check/installed_product.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_platform.h"

namespace lumo {
namespace {

const std::string first_key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\lumo.exe|";
const std::string second_key = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\App Paths\\lumo.exe|";
const std::string player_key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\LumoMediaPlayer.exe|";

std::vector<uint8_t> reg_text(const std::string& text) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

struct Lookup {
    FakePlatform platform;
    SetupRecord record;
    InstalledProduct product;
    bool found = false;
    Lookup() { complete_lookup_names(product); }
    void run() { found = locate_installed_product(platform, record, product); }
};

TEST(CompleteLookupNames, AppendsProgramOnceAndBuildsProfileName) {
    InstalledProduct product;
    complete_lookup_names(product);
    complete_lookup_names(product);
    EXPECT_EQ(product.first_app_paths_key, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\lumo.exe");
    EXPECT_EQ(product.second_app_paths_key, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\App Paths\\lumo.exe");
    EXPECT_EQ(product.profile_file_name, "Lumo.ini");
}

TEST(ReadRegistryString, ValueLimitCapacityAndText) {
    struct Case {
        const char* what;
        std::vector<uint8_t> value;
        uint32_t capacity;
        bool ok;
        std::string text;
    };
    const std::string c255(255, 'a'), c256(256, 'a');
    const Case cases[] = {
        {"255 characters fit the 256-byte buffer", reg_text(c255), 260, true, c255},
        {"256 characters are refused, not cut", reg_text(c256), 260, false, ""},
        {"a small capacity cuts the text", reg_text("C:\\Tools"), 4, true, "C:\\"},
        {"capacity 0 reads and writes nothing", reg_text("C:\\Tools"), 0, false, "stale"},
        {"text ends at the first NUL", {'A', 0, 'B', 0}, 260, true, "A"},
        {"value without terminator ends with its bytes", {'A', 'B'}, 260, true, "AB"},
        {"empty value", {}, 260, true, ""},
    };
    for (const Case& c : cases) {
        FakePlatform platform;
        platform.registry["K|V"] = c.value;
        std::string destination = "stale";
        EXPECT_EQ(read_registry_string(platform, "K", "V", destination, c.capacity), c.ok) << c.what;
        EXPECT_EQ(destination, c.text) << c.what;
        EXPECT_EQ(platform.registry_reads.size(), c.capacity ? 1u : 0u) << c.what;
    }
    FakePlatform platform;
    std::string destination = "stale";
    EXPECT_FALSE(read_registry_string(platform, "Missing", "", destination, 260));
    EXPECT_EQ(destination, "");
}

TEST(LocateInstalledProduct, RegistryFallbacksInOrder) {
    struct Case {
        const char* what;
        const char* first;   // null: not registered
        const char* second;
        const char* player;
        int mp3;
        bool found;
        std::string folder;
        std::vector<std::string> reads;
    };
    const Case cases[] = {
        {"first root wins, second not read", "C:\\Tools\\App\\lumo.exe", "E:\\Other\\lumo.exe", nullptr, 0, true,
         "C:\\Tools\\App", {first_key}},
        {"second root when the first is missing", nullptr, "E:\\Other\\lumo.exe", nullptr, 0, true, "E:\\Other",
         {first_key, second_key}},
        {"no backslash: used whole", "lumo.exe", nullptr, nullptr, 0, true, "lumo.exe", {first_key}},
        {"trailing backslash: only it goes", "C:\\Tools\\", nullptr, nullptr, 0, true, "C:\\Tools", {first_key}},
        {"quotes stay", "\"C:\\Tools\\lumo.exe\"", nullptr, nullptr, 0, true, "\"C:\\Tools", {first_key}},
        {"empty default value is found", "", nullptr, nullptr, 0, true, "", {first_key}},
        {"mp3: media player folder", nullptr, nullptr, "D:\\Player\\LumoMediaPlayer.exe", 1, true,
         "D:\\Player\\LumoFiles", {first_key, second_key, player_key}},
        {"mp3: player without backslash", nullptr, nullptr, "LumoMediaPlayer.exe", 1, true,
         "LumoMediaPlayer.exe\\LumoFiles", {first_key, second_key, player_key}},
        {"mp3: product key wins over player", "C:\\P\\lumo.exe", nullptr, "D:\\Player\\LumoMediaPlayer.exe", 1,
         true, "C:\\P", {first_key}},
        {"mp3: no player either", nullptr, nullptr, nullptr, 1, false, "", {first_key, second_key, player_key}},
        {"no mp3: player never read", nullptr, nullptr, "D:\\Player\\LumoMediaPlayer.exe", 0, false, "",
         {first_key, second_key}},
    };
    for (const Case& c : cases) {
        Lookup l;
        if (c.first) l.platform.registry[first_key] = reg_text(c.first);
        if (c.second) l.platform.registry[second_key] = reg_text(c.second);
        if (c.player) l.platform.registry[player_key] = reg_text(c.player);
        l.record.mp3_install = c.mp3;
        l.run();
        EXPECT_EQ(l.found, c.found) << c.what;
        EXPECT_EQ(l.product.product_folder, c.folder) << c.what;
        EXPECT_EQ(l.platform.registry_reads, c.reads) << c.what;
    }
}

TEST(LocateInstalledProduct, OverlongFirstValueFallsBackToSecond) {
    Lookup l;
    l.platform.registry[first_key] = reg_text("C:\\" + std::string(253, 'x'));  // 256 characters
    l.platform.registry[second_key] = reg_text("E:\\Second\\lumo.exe");
    l.run();
    EXPECT_TRUE(l.found);
    EXPECT_EQ(l.product.product_folder, "E:\\Second");
}

TEST(LocateInstalledProduct, PlayerFolderTooLongForSuffixFails) {
    // 255 characters without a backslash plus "\LumoFiles\" would overrun
    // the folder's 260 bytes.
    Lookup l;
    l.record.mp3_install = 1;
    l.platform.registry[player_key] = reg_text(std::string(255, 'p'));
    l.run();
    EXPECT_FALSE(l.found);
    EXPECT_EQ(l.product.product_folder, "");
    // The longest player folder that still fits.
    Lookup fits;
    fits.record.mp3_install = 1;
    fits.platform.registry[player_key] = reg_text(std::string(248, 'p') + "\\x.exe");
    fits.run();
    EXPECT_TRUE(fits.found);
    EXPECT_EQ(fits.product.product_folder, std::string(248, 'p') + "\\LumoFiles");
}

TEST(LocateInstalledProduct, OldSystemsUseOnlyTheProfile) {
    struct Case {
        const char* what;
        uint32_t version;
        const char* path;  // null: no profile entry
        bool found;
        std::string folder;
    };
    const Case cases[] = {
        {"major 3 reads the profile", 0x80000003, "C:\\LUMO\\", true, "C:\\LUMO\\"},
        {"major 3 with empty entry fails", 0x00000003, "", false, ""},
        {"major 3 without profile fails", 0x0A0B0003, nullptr, false, ""},
        {"only the lowest byte counts", 0x00000503, "C:\\L", true, "C:\\L"},
    };
    for (const Case& c : cases) {
        Lookup l;
        l.platform.version = c.version;
        l.platform.registry[first_key] = reg_text("C:\\Registered\\lumo.exe");
        if (c.path) l.platform.profile["Lumo.ini|Info|Path"] = c.path;
        l.run();
        EXPECT_EQ(l.found, c.found) << c.what;
        EXPECT_EQ(l.product.product_folder, c.folder) << c.what;
        EXPECT_TRUE(l.platform.registry_reads.empty()) << c.what;
    }
    Lookup four;
    four.platform.version = 4;
    four.platform.profile["Lumo.ini|Info|Path"] = "C:\\FromProfile";
    four.platform.registry[first_key] = reg_text("C:\\Registered\\lumo.exe");
    four.run();
    EXPECT_EQ(four.product.product_folder, "C:\\Registered");
}

TEST(LocateInstalledProduct, ProfileTextCutTo259Bytes) {
    Lookup l;
    l.platform.version = 3;
    l.platform.profile["Lumo.ini|Info|Path"] = std::string(300, 'z');
    l.run();
    EXPECT_TRUE(l.found);
    EXPECT_EQ(l.product.product_folder, std::string(259, 'z'));
}

}  // namespace
}  // namespace lumo
