// Values read from Wine's text registry files.
#include "platform/posix/wine_registry.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace lumo {
namespace {

std::vector<uint8_t> text(const std::string& s) {
    std::vector<uint8_t> bytes(s.begin(), s.end());
    bytes.push_back(0);
    return bytes;
}

const char* const system_reg = R"(WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win64

[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\lumo.exe] 1700000000
#time=1da3b2c4d5e6f70
@="C:\\Program Files\\Lumo\\lumo.exe"
"Path"="C:\\Program Files\\Lumo"

[Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths\\lumo.exe] 1700000000
@="C:\\Program Files (x86)\\Lumo\\lumo.exe"
"Quoted"="say \"hi\"\ttab"
"Escapes"="\x00fc\x4e2d\101\xd83c\xdfb5"
"Raw"="Lümo"
"Expand"=str(2):"%ProgramFiles%\\Lumo"
"Multi"=hex(7):41,00,00,00,42,00,00,00,00,00
"Bytes"=hex:01,02,\
  03,04
"Number"=dword:0000000a
"HexText"=hex(1):43,00,3a,00,5c,00,00,00
"Empty"=""
"BadHex"=hex:0g

[Software\\Empty] 1700000000

[Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths\\lumo.exe\\Sub] 1700000000
@="sub"
)";

TEST(WineRegistry, ValuesOfEveryKind) {
    const std::string key = "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths\\lumo.exe";
    struct Case {
        const char* value;
        std::optional<std::vector<uint8_t>> expected;
    };
    const Case cases[] = {
        {"", text("C:\\Program Files (x86)\\Lumo\\lumo.exe")},
        {"Quoted", text("say \"hi\"\ttab")},
        {"quoted", text("say \"hi\"\ttab")},  // names in any case
        {"Escapes", text("\xC3\xBC\xE4\xB8\xAD" "A\xF0\x9F\x8E\xB5")},
        {"Raw", text("Lümo")},
        {"Expand", text("%ProgramFiles%\\Lumo")},
        {"Multi", std::vector<uint8_t>{'A', 0, 'B', 0, 0}},
        {"Bytes", std::vector<uint8_t>{1, 2, 3, 4}},
        {"Number", std::vector<uint8_t>{10, 0, 0, 0}},
        {"HexText", text("C:\\")},
        {"Empty", text("")},
        {"BadHex", std::nullopt},
        {"Missing", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(wine_registry_value(system_reg, key, c.value), c.expected) << c.value;

    EXPECT_EQ(wine_registry_value(system_reg, "SOFTWARE\\MICROSOFT\\windows\\CurrentVersion\\App Paths\\LUMO.EXE", ""),
              text("C:\\Program Files\\Lumo\\lumo.exe"));
    EXPECT_EQ(wine_registry_value(system_reg, "Software\\Empty", ""), std::nullopt);
    EXPECT_EQ(wine_registry_value(system_reg, "Software\\Nowhere", ""), std::nullopt);
    EXPECT_EQ(wine_registry_value(system_reg, key + "\\Sub", ""), text("sub"));
}

TEST(WineRegistry, ThirtyTwoBitViewOfA64BitPrefix) {
    EXPECT_TRUE(wine_registry_is_win64(system_reg));
    EXPECT_FALSE(wine_registry_is_win64("WINE REGISTRY Version 2\n#arch=win32\n[Software] 1\n"));
    EXPECT_FALSE(wine_registry_is_win64("WINE REGISTRY Version 2\n[Software] 1\n#arch=win64\n"));
    EXPECT_EQ(wine_32bit_view("SOFTWARE\\Microsoft\\X", true), "SOFTWARE\\Wow6432Node\\Microsoft\\X");
    EXPECT_EQ(wine_32bit_view("SOFTWARE\\Microsoft\\X", false), "SOFTWARE\\Microsoft\\X");
    EXPECT_EQ(wine_32bit_view("Software\\Wow6432Node\\X", true), "Software\\Wow6432Node\\X");
    EXPECT_EQ(wine_32bit_view("System\\CurrentControlSet", true), "System\\CurrentControlSet");
}

TEST(WineRegistry, DamagedFilesGiveNothingOrText) {
    const std::string key = "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\App Paths\\lumo.exe";
    std::string file = system_reg;
    // Every cut of the file: no crash, and a value is either missing or a
    // prefix-consistent answer.
    for (size_t size = 0; size <= file.size(); ++size) {
        std::string cut = file.substr(0, size);
        wine_registry_value(cut, key, "Quoted");
        wine_registry_value(cut, key, "Bytes");
        wine_registry_value(cut, key, "Escapes");
    }
    EXPECT_EQ(wine_registry_value("[K] 1\n@=\"unterminated\\", "K", ""), text("unterminated\\"));
    EXPECT_EQ(wine_registry_value("[K] 1\n\"x\"=hex:01,\\", "K", "x"), (std::vector<uint8_t>{1}));
    EXPECT_EQ(wine_registry_value("[K] 1\n\"x\"=dword:123456789", "K", "x"), std::nullopt);
    EXPECT_EQ(wine_registry_value("[K] 1\n\"x\"=str(2)\"a\"", "K", "x"), std::nullopt);
    EXPECT_EQ(wine_registry_value("[K\n@=\"a\"", "K", ""), text("a"));
}

// A link key as Wine writes it: "#link" and the target as UTF-16 hex(6).
std::string link_key(const std::string& name, const std::string& target) {
    std::string hex;
    for (char c : target) {
        char pair[8];
        std::snprintf(pair, sizeof pair, "%02x,00,", static_cast<unsigned char>(c));
        hex += pair;
    }
    hex.pop_back();
    // Wine breaks long hex data over lines ending in a backslash.
    return "[" + name + "] 1\n#time=1\n#link\n\"SymbolicLinkValue\"=hex(6):" + hex.substr(0, 30) + "\\\n  " +
           hex.substr(30) + "\n\n";
}

TEST(WineRegistry, LinkedKeysAreFollowed) {
    const std::string file =
        "WINE REGISTRY Version 2\n#arch=win64\n\n" +
        link_key("Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths",
                 "\\Registry\\Machine\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths") +
        link_key("Software\\\\Loop", "\\REGISTRY\\MACHINE\\Software\\Loop") +
        link_key("Software\\\\Elsewhere", "\\Registry\\User\\Software") +
        "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\lumo.exe] 1\n@=\"C:\\\\L\\\\lumo.exe\"\n";
    EXPECT_EQ(wine_registry_value(file, wine_32bit_view("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\lumo.exe", true), ""),
              text("C:\\L\\lumo.exe"));
    EXPECT_EQ(wine_registry_value(file, "Software\\Loop\\x", ""), std::nullopt);
    EXPECT_EQ(wine_registry_value(file, "Software\\Elsewhere\\x", ""), std::nullopt);
}

// A link target as long as a key can be, with a part at every other byte,
// is followed in one walk per hop; a key or target any longer names no key,
// even one the file holds. A chain of links is followed too.
// (bench/wine_registry_bench.cc shows the time a lookup takes in a 2.4 MB
// file with such a target.)
TEST(WineRegistry, LongLinkTargetsAndChainsAreFollowedUpToTheLongestKey) {
    const size_t longest = 32767;
    std::string deep = "D";
    while (deep.size() < longest - 2) deep += "\\a";  // "\\v" behind it makes the longest key
    ASSERT_EQ(deep.size() + 2, longest);
    std::string escaped;  // as a key line writes it
    for (char c : deep) escaped += c == '\\' ? "\\\\" : std::string(1, c);
    const std::string file = "WINE REGISTRY Version 2\n\n" + link_key("Software\\\\Link", "\\Registry\\Machine\\" + deep) +
                             link_key("Software\\\\First", "\\Registry\\Machine\\Software\\Second") +
                             link_key("Software\\\\Second", "\\Registry\\Machine\\Software\\Link") + "[" + escaped +
                             "\\\\v] 1\n@=\"deep\"\n\n[" + escaped + "\\\\vw] 1\n@=\"too long\"\n";
    EXPECT_EQ(wine_registry_value(file, deep + "\\v", ""), text("deep"));
    EXPECT_EQ(wine_registry_value(file, "Software\\Link\\v", ""), text("deep"));
    EXPECT_EQ(wine_registry_value(file, "SOFTWARE\\First\\V", ""), text("deep")) << "two links on the way";
    EXPECT_EQ(wine_registry_value(file, deep + "\\vw", ""), std::nullopt) << "one byte too long";
    EXPECT_EQ(wine_registry_value(file, "Software\\Link\\vw", ""), std::nullopt) << "one byte too long once followed";
}

}  // namespace
}  // namespace lumo
