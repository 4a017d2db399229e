// Entry order and the names Windows takes for one file.
#include "tools/lumopack/entry_order.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumo {
namespace {

std::vector<std::string> in_order(const std::vector<std::string>& names, const std::vector<size_t>& order) {
    std::vector<std::string> out;
    for (size_t i : order) out.push_back(names[i]);
    return out;
}

TEST(EntryOrder, ScriptThenProgramThenByteOrder) {
    const std::vector<std::string> names = {"zeta.txt", "SETUP.EXE", "Alpha\\b.txt", "\xE9t\xE9.txt",
                                            "setup.cfg", "alpha.txt", "sub\\Setup.cfg", "Setup.exe.bak"};
    EXPECT_EQ(in_order(names, default_entry_order(names)),
              (std::vector<std::string>{"setup.cfg", "SETUP.EXE", "Alpha\\b.txt", "Setup.exe.bak", "alpha.txt",
                                        "sub\\Setup.cfg", "zeta.txt", "\xE9t\xE9.txt"}));
}

TEST(EntryOrder, ListedNamesLeadTheRestFollowsInDefaultOrder) {
    const std::vector<std::string> names = {"b.txt", "Setup.exe", "a.txt", "Setup.cfg"};
    std::string unknown;
    EXPECT_EQ(in_order(names, listed_entry_order(names, std::vector<std::string>{"B.TXT", "setup.exe"}, unknown)),
              (std::vector<std::string>{"b.txt", "Setup.exe", "Setup.cfg", "a.txt"}));

    for (const std::vector<std::string>& bad : {std::vector<std::string>{"missing.txt"},
                                                std::vector<std::string>{"a.txt", "A.txt"}}) {
        unknown.clear();
        EXPECT_TRUE(listed_entry_order(names, bad, unknown).empty());
        EXPECT_EQ(unknown, bad.back());
    }
}

TEST(EntryOrder, NamesWindowsTakesForOneFile) {
    struct Case {
        std::vector<std::string> names;
        bool clash;
    };
    const Case cases[] = {
        {{"a.txt", "b.txt", "sub\\a.txt"}, false},
        {{"Readme.txt", "README.TXT"}, true},
        {{"\xE9t\xE9.txt", "\xC9T\xC9.TXT"}, true},  // Latin-1 letters fold too
        {{"\x9A.txt", "\x8A.txt"}, true},            // s caron, S caron
        {{"x", "X\\y"}, true},                       // a file and a folder of one name
        {{"dir\\x", "DIR\\y"}, false},               // one folder, two files
        {{"\xD7", "\xF7"}, false},                   // multiplication and division signs are not letters
    };
    for (const auto& c : cases) EXPECT_EQ(find_name_clash(c.names).has_value(), c.clash) << c.names[0];
}

}  // namespace
}  // namespace lumo
