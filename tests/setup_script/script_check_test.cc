// The packer's check of the payload's setup script, and the record as JSON.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/lumopack/pack_error.h"
#include "tools/lumopack/script_check.h"
#include "tools/lumopack/script_json.h"

namespace lumo {
namespace {

std::vector<uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string scrambled(const std::string& plain) {
    std::vector<uint8_t> stored = scramble_setup_script(bytes(plain));
    return {stored.begin(), stored.end()};
}

// Warnings joined by " | ", or "refused: <message>".
std::string check(std::vector<std::string> names, const std::string& script, ScriptBuildOptions options = {}) {
    try {
        std::vector<uint8_t> b = bytes(script);
        ScriptBuildResult result = check_setup_script_for_build(names, b, options);
        std::string out;
        for (const auto& w : result.warnings) out += (out.empty() ? "" : " | ") + w;
        return out;
    } catch (const PackError& e) {
        return std::string("refused: ") + e.what();
    }
}

TEST(ScriptBuildCheck, RefusesWhatTheInstallerWouldRejectAndWarnsAboutOrder) {
    const std::vector<std::string> good_order{"Setup.cfg", "Setup.exe", "a.dll"};
    struct Case {
        const char* what;
        std::vector<std::string> names;
        std::string script;
        bool check;
        std::string expected;
    };
    const Case cases[] = {
        {"a good script", good_order, "\"Setup.exe\" \"a.dll\"", true, ""},
        {"a failing script is refused with its line", good_order, "NO_REBOOT\nsetup.exe", true,
         "refused: Setup.cfg: line 2: A string was not quoted: might be a misspelled keyword. "
         "(--no-script-check builds anyway)"},
        {"the override builds with a warning", good_order, "NO_REBOOT\nsetup.exe", false,
         "Setup.cfg: line 2: A string was not quoted: might be a misspelled keyword. (built anyway: the installer "
         "will stop right after Setup.exe)"},
        {"a plain script beginning with a line break reads as scrambled", good_order, "\nNO_REBOOT", true,
         "refused: Setup.cfg: line 1: A string was not quoted: might be a misspelled keyword. (the file begins "
         "with byte 0x0A, so it is read as a scrambled script; a plain script must begin with a printable "
         "character) (--no-script-check builds anyway)"},
        {"a scrambled script that fails gets no such hint", good_order,
         scrambled("NO_REBOOT\nbad"), true,
         "refused: Setup.cfg: line 2: A string was not quoted: might be a misspelled keyword. "
         "(--no-script-check builds anyway)"},
        {"script after the setup program, names in any case", {"SETUP.EXE", "a", "setup.CFG"}, "", true,
         "setup.CFG comes after SETUP.EXE: the update check cannot stop the extraction"},
        {"a script in a folder is not the installer's script", {"Setup.exe", "sub\\Setup.cfg"}, "bad", true,
         "no Setup.cfg: the installer writes every file without checking the installed product"},
        {"an empty range", good_order, "VERSION_LO 2 VERSION_HI 1", true,
         "Setup.cfg: VERSION_LO is above VERSION_HI, so no installed version passes the update check"},
        {"no setup program: no order warning", {"a", "Setup.cfg"}, "", true, ""},
    };
    for (const auto& c : cases) {
        ScriptBuildOptions options;
        options.check = c.check;
        EXPECT_EQ(check(c.names, c.script, options), c.expected) << c.what;
    }
}

TEST(ScriptBuildCheck, ScramblesPlainScriptsOnlyOnRequest) {
    const std::vector<std::string> names{"Setup.cfg"};
    const std::vector<uint8_t> plain = bytes("PRODUCT_TITLE \"x\"");
    ScriptBuildOptions options;
    EXPECT_FALSE(check_setup_script_for_build(names, plain, options).stored_script);

    options.scramble = true;
    auto stored = check_setup_script_for_build(names, plain, options).stored_script;
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, scramble_setup_script(plain));
    // An already scrambled script is checked as it is and stored unchanged.
    ScriptBuildResult again = check_setup_script_for_build(names, *stored, options);
    EXPECT_TRUE(again.warnings.empty());
    EXPECT_FALSE(again.stored_script);
}

TEST(ScriptJson, WritesBytesAsCodePoints) {
    struct Case {
        std::string bytes;
        const char* json;
    };
    const Case cases[] = {
        {"plain", "\"plain\""},
        {"\xe4\xff\x80", "\"\\u00e4\\u00ff\\u0080\""},
        {"a\\b", "\"a\\\\b\""},
        {"\"", "\"\\\"\""},
        {"\n\r\t\x01\x7f", "\"\\n\\r\\t\\u0001\\u007f\""},
        {std::string("a\0b", 3), "\"a\\u0000b\""},
    };
    for (const auto& c : cases) EXPECT_EQ(json_string_of_bytes(c.bytes), c.json);
}

}  // namespace
}  // namespace lumo
