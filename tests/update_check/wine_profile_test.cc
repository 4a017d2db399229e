// Profile files read as GetPrivateProfileStringA reads them.
#include "platform/posix/wine_profile.h"

#include <gtest/gtest.h>

namespace lumo {
namespace {

TEST(WineProfile, SectionsKeysAndValues) {
    const std::string file =
        "; Lumo settings\r\n"
        "[Other]\r\n"
        "Path=C:\\Wrong\r\n"
        "  [ info ]  \r\n"
        "  path  =  C:\\LUMO\\   \r\n"
        "Path=C:\\Second\r\n"
        "Quoted=\"  C:\\Q  \"\r\n"
        "Half=\"C:\\H\r\n"
        "Bare\r\n"
        "Empty=\r\n";
    struct Case {
        const char* section;
        const char* key;
        std::optional<std::string> value;
    };
    const Case cases[] = {
        {"Info", "Path", "C:\\LUMO\\"},      // case, blanks, first entry wins
        {"INFO", "quoted", "  C:\\Q  "},     // one pair of quotes goes, blanks inside stay
        {"Info", "Half", "\"C:\\H"},         // an unmatched quote stays
        {"Info", "Bare", ""},
        {"Info", "Empty", ""},
        {"Info", "Missing", std::nullopt},
        {"Nowhere", "Path", std::nullopt},
        {"Other", "Path", "C:\\Wrong"},
    };
    for (const Case& c : cases) EXPECT_EQ(profile_value(file, c.section, c.key), c.value) << c.section << c.key;
}

TEST(WineProfile, Encodings) {
    EXPECT_EQ(profile_value("\xEF\xBB\xBF[Info]\nPath=C:\\U8", "Info", "Path"), "C:\\U8");
    std::string utf16("\xFF\xFE", 2);
    for (char c : std::string("[Info]\r\nPath=C:\\W\xFC")) {
        utf16 += c;
        utf16 += '\0';
    }
    EXPECT_EQ(profile_value(utf16, "Info", "Path"), "C:\\W\xC3\xBC");
    EXPECT_EQ(profile_value(std::string("\xFF\xFE[", 3), "Info", "Path"), std::nullopt);
    EXPECT_EQ(profile_value("[Info", "Info", "Path"), std::nullopt);
    EXPECT_EQ(profile_value("", "Info", "Path"), std::nullopt);
}

}  // namespace
}  // namespace lumo
