// The character reader and the tokenizer: the quirks of comments and quotes
// are behaviour the installer's scripts rely on.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "setup_script/script_reader.h"
#include "setup_script/tokenizer.h"

using namespace std::string_literals;

namespace lumo {
namespace {

std::span<const uint8_t> bytes_of(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// Every token of `script`, a quoted one written as "text"; an error as !message.
std::vector<std::string> tokens_of(const std::string& script) {
    MemoryByteSource source(bytes_of(script));
    ScriptReader reader(source);
    std::vector<std::string> out;
    for (;;) {
        std::optional<Token> token = Token{"stale", true, 9};
        if (auto error = next_token(reader, token)) {
            EXPECT_FALSE(token) << "a failure yields no token";
            out.push_back("!"s + error->message);
            break;
        }
        if (!token) break;
        out.push_back(token->quoted ? '"' + token->text + '"' : token->text);
    }
    return out;
}

struct TokenCase {
    const char* what;
    std::string script;
    std::vector<std::string> tokens;
};

TEST(Tokenizer, CutsScriptsIntoTokens) {
    const TokenCase cases[] = {
        {"empty script: no token", "", {}},
        {"whitespace only", " \t\r\n\v\f ", {}},
        {"words split by every whitespace byte", "a b\tc\rd\ne\vf\fg", {"a", "b", "c", "d", "e", "f", "g"}},
        {"last token at end of file without line break", "WIN95 \"x.dll\"", {"WIN95", "\"x.dll\""}},
        {"quoted text keeps spaces, tabs and line breaks", "\"a b\tc\r\nd\"", {"\"a b\tc\r\nd\""}},
        {"two quotes in a row: quoted empty text", "\"\" x", {"\"\"", "x"}},
        {"a closing quote ends the token; the letter after it starts the next", "\"ab\"cd", {"\"ab\"", "cd"}},
        {"a quote in the middle of a word opens quoting", "ab\"cd ef\" g", {"\"abcd ef\"", "g"}},
        {"comment cut out of a word joins it with the next line", "word#c\nmore", {"wordmore"}},
        {"comment, carriage return and line feed all dropped", "abc#note\r\ndef", {"abcdef"}},
        {"comment inside quotes cuts the rest of that line", "\"ab#cd\nef\"", {"\"abef\""}},
        {"comment after whitespace", "a # b c\n d", {"a", "d"}},
        {"comment only script", "# nothing here\n#\n", {}},
        {"end of file inside a comment ends the script", "a #open", {"a"}},
        {"end of file inside quotes", "a \"open", {"a", "!unterminated string"}},
        {"a quote opened by a comment's neighbour is still open", "\"a#\"\n", {"!unterminated string"}},
        {"bytes from 0x80 up and control bytes are word bytes", "x \xe4\x01\x7f\xff", {"x", "\xe4\x01\x7f\xff"}},
        {"a NUL byte is a word byte", "a\0b c"s, {"a\0b"s, "c"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tokens_of(c.script), c.tokens) << c.what;
    }
    // No escape character: a backslash is a plain byte, the quote after it
    // closes the text, and the quote that follows later opens a text that
    // never ends.
    EXPECT_EQ(tokens_of("\"a\\\" b\""), (std::vector<std::string>{"\"a\\\"", "!unterminated string"}));
}

TEST(Tokenizer, ReportsTheLineOnWhichATokenBegins) {
    const std::string script = "a\n\n\"b\nc\" #x\nd\n";
    MemoryByteSource source(bytes_of(script));
    ScriptReader reader(source);
    std::vector<int> lines;
    std::optional<Token> token;
    while (!next_token(reader, token) && token) lines.push_back(token->line);
    EXPECT_EQ(lines, (std::vector<int>{1, 3, 5}));
}

// A token that outgrows the storage there is fails with "mem", on the line
// where the text stood when it ran out; tokens that fit are read as usual.
TEST(Tokenizer, ReportsATokenThatOutgrowsStorageAsMem) {
    const std::string script = "short\n" + std::string(100, 'x') + " after";
    MemoryByteSource source(bytes_of(script));
    ScriptReader reader(source);
    auto at_most_64_bytes = [](std::size_t bytes) { return bytes <= 64; };
    std::optional<Token> token;
    ASSERT_FALSE(next_token(reader, token, at_most_64_bytes));
    ASSERT_TRUE(token);
    EXPECT_EQ(token->text, "short");
    std::optional<ScriptError> error = next_token(reader, token, at_most_64_bytes);
    ASSERT_TRUE(error);
    EXPECT_STREQ(error->message, "mem");
    EXPECT_EQ(error->line, 2);
    EXPECT_FALSE(token);
}

TEST(KeywordEquals, FoldsOnlyAsciiLetters) {
    struct Case {
        std::string text;
        const char* keyword;
        bool equal;
    };
    const Case cases[] = {
        {"NO_REBOOT", "NO_REBOOT", true},
        {"no_reboot", "NO_REBOOT", true},
        {"No_ReBoOt", "NO_REBOOT", true},
        {"NO_REBOOTS", "NO_REBOOT", false},
        {"NO_REBOO", "NO_REBOOT", false},
        {"", "", true},
        {"", "WIN95", false},
        {"\xc4", "\xe4", false},  // no folding beyond A-Z
        {"[", "{", false},        // 0x5B and 0x7B differ by 0x20 but are not letters
        {"NO_REBOOT\0"s, "NO_REBOOT", false},
    };
    for (const auto& c : cases) EXPECT_EQ(keyword_equals(c.text, c.keyword), c.equal) << c.text << " / " << c.keyword;
}

std::string read_all(const std::string& stored, bool* scrambled = nullptr) {
    MemoryByteSource source(bytes_of(stored));
    ScriptReader reader(source);
    std::string out;
    for (int c; (c = reader.next_char()) >= 0;) {
        EXPECT_LE(c, 255);
        out.push_back(static_cast<char>(c));
    }
    if (scrambled) *scrambled = reader.scrambled();
    return out;
}

TEST(ScriptReader, DecidesTheModeOnTheFirstByte) {
    struct Case {
        std::string first;
        bool scrambled;
    };
    const Case cases[] = {
        {" ", false}, {"A", false}, {"~", false}, {"#", false},
        {"\t", true}, {"\r", true}, {"\n", true}, {"\x7f", true}, {"\xef", true}, {"\x00"s, true},
    };
    for (const auto& c : cases) {
        bool scrambled = false;
        std::string text = read_all(c.first + "abc", &scrambled);
        EXPECT_EQ(scrambled, c.scrambled) << int(uint8_t(c.first[0]));
        if (!c.scrambled) {
            EXPECT_EQ(text, c.first + "abc");
        } else {
            // The first byte always unscrambles to the seed mask.
            ASSERT_EQ(text.size(), 4u);
            EXPECT_EQ(uint8_t(text[0]), scrambled_format::seed_mask);
        }
    }
    // A printable byte later in a plain file never switches the mode.
    EXPECT_EQ(read_all("a\x01\xff"), "a\x01\xff");
}

TEST(ScriptReader, KeyAdvancesOncePerByteRead) {
    // Stored bytes worked out by hand from the format: key0 = first ^ mask,
    // byte n is XORed with key0 + n * step.
    const uint8_t first = 0x80;
    const uint8_t key0 = first ^ scrambled_format::seed_mask;
    std::string plain = " a#\n\"b\"";
    std::string stored(1, char(first));
    for (std::size_t n = 0; n < plain.size(); ++n)
        stored.push_back(char(uint8_t(plain[n]) ^ uint8_t(key0 + (n + 1) * scrambled_format::key_step)));
    EXPECT_EQ(read_all(stored), std::string(1, char(scrambled_format::seed_mask)) + plain);
}

TEST(ScrambleSetupScript, RoundTripsEveryByteWithAnyFirstByte) {
    std::string plain;
    for (int i = 0; i < 600; ++i) plain.push_back(char(i * 7));
    for (int first : {0x00, 0x09, 0x0a, 0x1f, 0x20, 0x41, 0x7e, 0x7f, 0x80, 0xa5, 0xff}) {
        std::vector<uint8_t> stored = scramble_setup_script(bytes_of(plain), uint8_t(first));
        ASSERT_EQ(stored.size(), plain.size() + 1);
        EXPECT_FALSE(is_script_printable(stored[0])) << first;
        std::string text = read_all(std::string(stored.begin(), stored.end()));
        EXPECT_EQ(text, std::string(1, char(scrambled_format::seed_mask)) + plain) << first;
    }
}

TEST(ScrambleSetupScript, HidesTheText) {
    std::string plain = "PRODUCT_TITLE \"Example add-on\"\n";
    std::vector<uint8_t> stored = scramble_setup_script(bytes_of(plain));
    std::string s(stored.begin() + 1, stored.end());
    EXPECT_EQ(s.find("PRODUCT"), std::string::npos);
    EXPECT_EQ(s.find("Example"), std::string::npos);
}

}  // namespace
}  // namespace lumo
