// The entry name rule: what the installer and `lumopack extract` write, and
// what the packer stores.
#include "payload/entry_name.h"

#include <gtest/gtest.h>

#include <string>

namespace lumo {
namespace {

using F = EntryNameFault;

TEST(EntryName, InstallerRule) {
    struct Case {
        std::string name;
        EntryNameFault fault;
    };
    const Case cases[] = {
        {"Setup.exe", F::none},
        {"data\\sub\\file.bin", F::none},
        {"data/sub/file.bin", F::none},
        {"a.b.c", F::none},
        {".hidden", F::none},
        {"..data", F::none},
        {"console.txt", F::none},      // CON only as the whole base name
        {"COM10", F::none},
        {"LPT0.txt", F::reserved_device},
        {"COMA", F::none},
        {"caf\xE9 \x80.txt", F::none},  // Windows-1252 letters and the euro sign
        {"", F::empty},
        {"\\Windows\\win.ini", F::absolute},
        {"/etc/passwd", F::absolute},
        {"C:\\boot.ini", F::colon},
        {"C:relative", F::colon},
        {"file.txt:stream", F::colon},
        {"a\\\\b", F::empty_component},
        {"a//b", F::empty_component},
        {"folder\\", F::empty_component},
        {"..\\evil", F::dot_component},
        {"a\\..\\..\\evil", F::dot_component},
        {"a/../b", F::dot_component},
        {".\\a", F::dot_component},
        {"..", F::dot_component},
        {"CON", F::reserved_device},
        {"sub\\nul.txt", F::reserved_device},
        {"Aux.tar.gz", F::reserved_device},
        {"com1", F::reserved_device},
        {"LPT9.log", F::reserved_device},
        {"COM\xB9", F::reserved_device},  // superscript one
        {"prn .txt", F::reserved_device},
        {"CONOUT$", F::reserved_device},
        {"a<b", F::forbidden_character},
        {"a>b", F::forbidden_character},
        {"say \"hi\"", F::forbidden_character},
        {"a|b", F::forbidden_character},
        {"what?", F::forbidden_character},
        {"*.txt", F::forbidden_character},
        {std::string("a\0b", 3), F::forbidden_character},
        {"tab\there", F::control_character},
        {"line\nbreak", F::control_character},
        {"\x1F", F::control_character},
        {"file.", F::trailing_dot_or_space},
        {"file ", F::trailing_dot_or_space},
        {"folder.\\file", F::trailing_dot_or_space},
        {std::string(256, 'a'), F::none},
        {std::string(257, 'a'), F::too_long},
    };
    for (const auto& c : cases)
        EXPECT_EQ(check_entry_name(c.name), c.fault) << '"' << c.name << "\": " << describe(check_entry_name(c.name));
}

TEST(EntryName, PackerStoresWindows1252WithinItsBound) {
    // Converted from the host's UTF-8.
    auto stored = stored_entry_name("docs\\caf\xC3\xA9 \xE2\x82\xAC.txt");
    ASSERT_TRUE(std::holds_alternative<std::string>(stored));
    EXPECT_EQ(std::get<std::string>(stored), "docs\\caf\xE9 \x80.txt");

    struct Case {
        std::string host_name;
        EntryNameFault fault;
    };
    const Case cases[] = {
        {"\xE6\x97\xA5\xE6\x9C\xAC.txt", F::not_representable},  // CJK letters
        {"bad\xFF.txt", F::not_representable},                      // not UTF-8
        {std::string(max_packed_name_length, 'n'), F::none},
        {std::string(max_packed_name_length + 1, 'n'), F::too_long},
        // The bound counts stored bytes: 160 two-byte UTF-8 letters are 160 bytes.
        {[] { std::string s; for (int i = 0; i < 160; ++i) s += "\xC3\xA9"; return s; }(), F::none},
        {"sub\\..\\x", F::dot_component},
        {"NUL", F::reserved_device},
    };
    for (const auto& c : cases) {
        auto result = stored_entry_name(c.host_name);
        const EntryNameFault fault = std::holds_alternative<EntryNameFault>(result) ? std::get<EntryNameFault>(result)
                                                                                    : F::none;
        EXPECT_EQ(fault, c.fault) << c.host_name.substr(0, 40);
    }
}

}  // namespace
}  // namespace lumo
