// The manual page against `lumopack --help`: the same commands, options and
// targets, and a page that man renders without a complaint.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

#include "tests/tools/lumopack_fixture.h"

namespace lumo::testing {
namespace {

using Names = std::set<std::string>;

// "-o", "--strict-names": a dash or two at the start of a word.
Names options_in(const std::string& text) {
    static const std::regex option(R"((?:^|[\s\[|,(])(--?[A-Za-z][A-Za-z-]*))");
    Names found;
    for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it) found.insert((*it)[1]);
    return found;
}

// A roff line as text: escaped dashes plain, font changes gone.
std::string plain(std::string line) {
    line = std::regex_replace(line, std::regex(R"(\\f[BIRP])"), "");
    line = std::regex_replace(line, std::regex(R"(\\-)"), "-");
    return std::regex_replace(line, std::regex(R"(^\.(B|I|BR|BI|IR|RB)\s)"), "");
}

// The tags of the page's items (the line after each .TP) in section `name`.
std::vector<std::string> item_tags(const std::string& page, const std::string& name) {
    std::vector<std::string> tags;
    std::istringstream lines(page);
    bool inside = false, tag_next = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(".SH ", 0) == 0) inside = line == ".SH " + name;
        else if (inside && tag_next) tags.push_back(plain(line));
        tag_next = inside && line == ".TP";
    }
    return tags;
}

std::string first_word(const std::string& text) { return text.substr(0, text.find(' ')); }

TEST(LumopackManual, NamesTheCommandsOptionsAndTargetsOfTheHelp) {
    const RunResult help = run_lumopack({"--help"});
    ASSERT_EQ(help.status, 0);
    std::ifstream in(LUMOPACK_MANUAL);
    const std::string page{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_FALSE(page.empty());

    Names page_options;
    for (const auto& tag : item_tags(page, "OPTIONS")) page_options.merge(options_in(tag));
    EXPECT_EQ(page_options, options_in(help.output));
    EXPECT_GE(page_options.size(), 15u) << "every option of every command";

    Names page_commands, help_commands, page_targets, help_targets;
    for (const auto& tag : item_tags(page, "COMMANDS")) page_commands.insert(first_word(tag));
    for (const auto& tag : item_tags(page, "TARGETS")) page_targets.insert(tag);
    std::istringstream lines(help.output);
    bool in_targets = false;
    std::smatch match;
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_match(line, match, std::regex(R"(  lumopack ([a-z]+) .*)"))) help_commands.insert(match[1]);
        if (line.rfind("targets ", 0) == 0) in_targets = true;
        if (in_targets && std::regex_match(line, match, std::regex(R"(  ([a-z0-9-]+)  .*)"))) help_targets.insert(match[1]);
    }
    EXPECT_EQ(page_commands, help_commands);
    EXPECT_EQ(page_commands, (Names{"build", "list", "test", "extract", "script"}));
    EXPECT_EQ(page_targets, help_targets);
    EXPECT_EQ(page_targets, (Names{"windows-x86", "windows-x64", "posix"}));

    // The page's title names the version --version prints.
    const std::string version = run_lumopack({"--version"}).output;
    ASSERT_EQ(version.rfind("lumopack ", 0), 0u) << version;
    const std::string title = page.substr(0, page.find('\n'));
    EXPECT_NE(title.find("\"" + version.substr(0, version.size() - 1) + "\""), std::string::npos) << title;
}

TEST(LumopackManual, RendersWithoutWarnings) {
    const RunResult rendered = run_lumopack({"--warnings=all", "-E", "UTF-8", "-l", "-P", "cat", LUMOPACK_MANUAL}, true, "man");
    EXPECT_EQ(rendered.status, 0);
    EXPECT_NE(rendered.output.find("lumopack - build, list, test and extract installers"), std::string::npos);
    EXPECT_EQ(rendered.errors, "");
}

}  // namespace
}  // namespace lumo::testing
