// Properties that hold for every script, checked on scripts stitched
// together at random from the language's own words and some noise: the parse
// always gives a verdict, reads scrambled scripts alike, and a failure never
// touches the entries of an earlier parse.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "setup_script/parse_setup_script.h"

namespace lumo {
namespace {

const char* const vocabulary[] = {
    "VERSION_LO", "VERSION_HI", "PRODUCT_NAME", "PRODUCT_TITLE", "USE_SUBDIR", "SET_REG_STR", "SET_REG_DW",
    "NO_REBOOT", "check_language", "WIN95", "winnt", "DELETE", "REGDELETE", "\"a.dll\"", "\"\"", "\"NO_REBOOT\"",
    "5050A00", "-1", "0x", "zz", "\"x y\"", "#c\n", "#", "\"", "\n", "\r\n", " ", "\t", "ab\"cd", "\xe4", "\x01",
};

std::string random_script(std::mt19937& random) {
    std::string script;
    const int words = std::uniform_int_distribution<int>(0, 12)(random);
    std::uniform_int_distribution<size_t> pick(0, std::size(vocabulary) - 1);
    for (int i = 0; i < words; ++i) {
        script += vocabulary[pick(random)];
        if (random() % 3) script += ' ';
    }
    return script;
}

std::span<const uint8_t> bytes_of(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

TEST(SetupScriptProperties, HoldForRandomScripts) {
    std::mt19937 random(20261210);
    int passed = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string script = random_script(random);
        if (!script.empty() && !(script[0] >= 0x20 && script[0] <= 0x7E)) script = " " + script;

        SetupRecord plain_record;
        plain_record.entries.emplace(1);  // what an earlier parse left
        MemoryByteSource plain(bytes_of(script));
        ScriptOutcome a = read_setup_script(plain_record, plain);
        EXPECT_EQ(a.ok, a.message.empty()) << script;
        if (a.ok) {
            ++passed;
        } else {
            ASSERT_TRUE(plain_record.entries);
            EXPECT_EQ(plain_record.entries->size(), 1u) << "a failed parse replaced the entries: " << script;
        }

        std::vector<uint8_t> stored = scramble_setup_script(bytes_of(script), uint8_t(random()));
        SetupRecord scrambled_record;
        scrambled_record.entries.emplace(1);
        MemoryByteSource scrambled(stored);
        ScriptOutcome b = read_setup_script(scrambled_record, scrambled);
        EXPECT_EQ(b.ok, a.ok) << script;
        EXPECT_EQ(b.message, a.message) << script;
        EXPECT_EQ(b.line, a.line) << script;
        EXPECT_EQ(scrambled_record.version_lo, plain_record.version_lo) << script;
        EXPECT_EQ(scrambled_record.product_name, plain_record.product_name) << script;
        EXPECT_EQ(scrambled_record.entries->size(), plain_record.entries->size()) << script;
    }
    // The mix must exercise both verdicts, or the properties prove little.
    EXPECT_GT(passed, 100);
    EXPECT_LT(passed, 2900);
}

}  // namespace
}  // namespace lumo
