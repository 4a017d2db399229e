// The grammar: statements, their checks and the record a parse leaves behind,
// successful or not.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <string>

#include "setup_script/hex_number.h"
#include "setup_script/parse_setup_script.h"
#include "setup_script/script_error.h"

using namespace std::string_literals;

namespace lumo {
namespace {

std::span<const uint8_t> bytes_of(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

std::string hex(uint32_t v) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%x", v);
    return buffer;
}

// The record's fields that differ from the defaults, then its entries:
// "version_lo=5050a00 product_name='X' entries=[{a 'f.dll'}]".
std::string describe(const SetupRecord& r) {
    std::ostringstream out;
    if (r.version_lo != 0) out << "version_lo=" << hex(r.version_lo) << ' ';
    if (r.version_hi != 0xFFFFFFFF) out << "version_hi=" << hex(r.version_hi) << ' ';
    if (r.product_name) out << "product_name='" << *r.product_name << "' ";
    if (r.update_flags != 1) out << "update_flags=" << r.update_flags << ' ';
    if (r.check_language) out << "check_language=" << r.check_language << ' ';
    if (r.product_title) out << "product_title='" << *r.product_title << "' ";
    if (r.no_reboot) out << "no_reboot=" << r.no_reboot << ' ';
    if (r.mp3_install) out << "mp3_install=" << r.mp3_install << ' ';
    if (r.mp3pro_install) out << "mp3pro_install=" << r.mp3pro_install << ' ';
    if (r.mpeg2_install) out << "mpeg2_install=" << r.mpeg2_install << ' ';
    if (r.no_regentries) out << "no_regentries=" << r.no_regentries << ' ';
    if (!r.entries) {
        out << "entries=null";
        return out.str();
    }
    out << "entries=[";
    for (std::size_t i = 0; i < r.entries->size(); ++i) {
        const SetupEntry& e = (*r.entries)[i];
        out << (i ? " " : "") << '{' << hex(e.flags) << " '" << e.name << '\'';
        if (e.flags & entry_flag::use_subdir && !(e.flags & (entry_flag::set_reg_dw | entry_flag::set_reg_str)))
            out << " subdir='" << e.subdir << '\'';
        if (e.flags & entry_flag::set_reg_str) out << " str='" << e.reg_string << '\'';
        if (e.flags & entry_flag::set_reg_dw) out << " dw=" << hex(e.reg_dword);
        out << '}';
    }
    out << ']';
    return out.str();
}

struct ParseCase {
    const char* what;
    std::string script;
    const char* message;  // null on success
    std::string record;   // describe() of the record afterwards
};

const char* const quoted_keyword = script_message::keyword_quoted;
const char* const not_quoted = script_message::string_not_quoted;
const char* const flags_alone = script_message::flags_without_filename;

const ParseCase cases[] = {
    // Defaults and the statement table.
    {"empty script: defaults and the terminator alone", "", nullptr, "entries=[]"},
    {"comments only", "# a\n  # b\n", nullptr, "entries=[]"},
    {"every switch keyword",
     "UPDATE_COVEREDITOR CHECK_LANGUAGE NO_REBOOT MP3_INSTALL MP3PRO_INSTALL MPEG2_INSTALL NO_REGENTRIES", nullptr,
     "update_flags=3 check_language=1 no_reboot=1 mp3_install=1 mp3pro_install=1 mpeg2_install=1 no_regentries=1 "
     "entries=[]"},
    {"keywords in any letter case", "no_reboot Check_Language", nullptr, "check_language=1 no_reboot=1 entries=[]"},
    {"version words", "VERSION_LO 5050A00\nVERSION_HI 0x05060000", nullptr,
     "version_lo=5050a00 version_hi=5060000 entries=[]"},
    {"small letters and 0X prefix", "VERSION_LO 0X5050a00", nullptr, "version_lo=5050a00 entries=[]"},
    {"no hexadecimal digits leave the word as it was", "VERSION_HI zz", nullptr, "entries=[]"},
    {"digits up to the first other character", "VERSION_LO 12g4", nullptr, "version_lo=12 entries=[]"},
    {"a minus negates modulo 2^32", "VERSION_LO -1", nullptr, "version_lo=ffffffff entries=[]"},
    {"texts", "PRODUCT_NAME \"Lumo Pro\" PRODUCT_TITLE \"Encoder \xe4 add-on\"", nullptr,
     "product_name='Lumo Pro' product_title='Encoder \xe4 add-on' entries=[]"},
    {"the later statement wins", "PRODUCT_NAME \"a\" PRODUCT_NAME \"b\" VERSION_LO 1 VERSION_LO 2", nullptr,
     "version_lo=2 product_name='b' entries=[]"},
    {"an argument is never a keyword", "PRODUCT_NAME \"NO_REBOOT\"", nullptr, "product_name='NO_REBOOT' entries=[]"},
    {"a bare argument that spells a keyword is still the argument", "VERSION_LO NO_REBOOT", nullptr, "entries=[]"},
    {"file names keep their case", "\"Setup.EXE\" \"sub\\Data.bin\"", nullptr, "entries=[{0 'Setup.EXE'} {0 'sub\\Data.bin'}]"},
    {"an empty quoted name", "\"\"", nullptr, "entries=[{0 ''}]"},
    {"flag words gather until the next file", "WINNT WIN2000 \"a.dll\" \"b.dll\"", nullptr,
     "entries=[{a 'a.dll'} {0 'b.dll'}]"},
    {"the same flag word twice is harmless", "delete DELETE \"old.dll\"", nullptr, "entries=[{8000 'old.dll'}]"},
    {"every flag word",
     "WIN95 WINNT WIN31 WIN2000 DRIVERDIR WINDOWSDIR SYSTEMDIR COVERDIR CDIDIR COVERDESIGNERDIR ONLY_IF_EXISTS "
     "ONLY_IF_AVAILABLE RENAME_OLD DELETE REGDELETE \"f\"",
     nullptr, "entries=[{1f3ff 'f'}]"},
    {"a subdirectory goes to the next file only", "USE_SUBDIR \"plug\" \"a.dll\" \"b.dll\"", nullptr,
     "entries=[{400 'a.dll' subdir='plug'} {0 'b.dll'}]"},
    {"a later subdirectory replaces the pending one", "USE_SUBDIR \"x\" WIN95 USE_SUBDIR \"y\" \"a\"", nullptr,
     "entries=[{401 'a' subdir='y'}]"},
    {"registry number", "WINNT SET_REG_DW \"Software\\Lumo\\Level\" 1", nullptr,
     "entries=[{20002 'Software\\Lumo\\Level' dw=1}]"},
    {"registry number without digits reads 0", "SET_REG_DW name q", nullptr, "entries=[{20000 'name' dw=0}]"},
    {"registry text with a bare name", "SET_REG_STR Path \"C:\\Lumo\"", nullptr, "entries=[{40000 'Path' str='C:\\Lumo'}]"},
    {"a registry statement takes the flags but drops the subdirectory",
     "USE_SUBDIR \"s\" SET_REG_STR \"k\" \"v\" \"a\"", nullptr, "entries=[{40400 'k' str='v'} {0 'a'}]"},
    {"flags are cleared by a registry entry", "REGDELETE SET_REG_DW \"k\" 0x10 NO_REBOOT", nullptr,
     "no_reboot=1 entries=[{30000 'k' dw=10}]"},
    {"a quoted keyword that takes arguments, with a correct argument", "\"version_lo\" 3 \"SET_REG_DW\" \"k\" 5",
     nullptr, "version_lo=3 entries=[{20000 'k' dw=5}]"},
    {"comments and quirks inside a real script",
     "# Example\r\nPRODUCT_TITLE \"Example\" # shown by setup\r\nVERSION_LO 05050A00\r\nWIN95 WINNT \"a.dll\"\r\n", nullptr,
     "version_lo=5050a00 product_title='Example' entries=[{3 'a.dll'}]"},
    {"a word joined across a comment", "NO_RE#x\nBOOT", nullptr, "no_reboot=1 entries=[]"},

    // Failures, and what the record keeps from the statements before them.
    {"unterminated string", "NO_REBOOT \"a.dll", script_message::unterminated_string, "no_reboot=1 entries=null"},
    {"no argument for VERSION_LO", "VERSION_LO", script_message::no_argument_version_lo, "entries=null"},
    {"no argument for VERSION_HI", "VERSION_HI # none\n", script_message::no_argument_version_hi, "entries=null"},
    {"no argument for PRODUCT_NAME", "PRODUCT_NAME", script_message::no_argument_product_name, "entries=null"},
    {"no argument for PRODUCT_TITLE", "PRODUCT_TITLE", script_message::no_argument_product_title, "entries=null"},
    {"no argument for USE_SUBDIR", "USE_SUBDIR", script_message::no_argument_use_subdir, "entries=null"},
    {"no argument for SET_REG_STR", "SET_REG_STR", script_message::no_argument_set_reg_str, "entries=null"},
    {"no 2nd argument for SET_REG_STR", "SET_REG_STR \"k\"", script_message::no_2nd_argument_set_reg_str,
     "entries=null"},
    {"no argument for SET_REG_DW", "SET_REG_DW", script_message::no_argument_set_reg_dw, "entries=null"},
    {"no 2nd argument for SET_REG_DW", "SET_REG_DW k", script_message::no_2nd_argument_set_reg_dw, "entries=null"},
    {"flag word before a record keyword", "WIN95 NO_REBOOT", flags_alone, "no_reboot=1 entries=null"},
    {"subdirectory before a record keyword", "USE_SUBDIR \"s\" PRODUCT_NAME \"p\"", flags_alone,
     "product_name='p' entries=null"},
    {"flags checked before quoting", "WIN95 \"NO_REBOOT\"", flags_alone, "no_reboot=1 entries=null"},
    {"script ends in a flag word", "\"a\" WINNT", flags_alone, "entries=null"},
    {"script ends in USE_SUBDIR", "USE_SUBDIR \"s\"", flags_alone, "entries=null"},
    {"quoted number: the statement took effect", "VERSION_LO \"5\"", quoted_keyword, "version_lo=5 entries=null"},
    {"quoted keyword without arguments", "\"NO_REBOOT\"", quoted_keyword, "no_reboot=1 entries=null"},
    {"quoted flag word in any case", "\"delete\"", quoted_keyword, "entries=null"},
    {"quoted flag word mixed case", "\"Win95\" \"a\"", quoted_keyword, "entries=null"},
    {"quoted registry number", "SET_REG_DW k \"1\"", quoted_keyword, "entries=null"},
    {"bare file name", "setup.exe", not_quoted, "entries=null"},
    {"misspelled keyword", "NO_REBOT", not_quoted, "entries=null"},
    {"bare text argument: the statement took effect", "PRODUCT_NAME Lumo", not_quoted,
     "product_name='Lumo' entries=null"},
    {"bare subdirectory", "USE_SUBDIR plug \"a\"", not_quoted, "entries=null"},
    {"bare registry text", "SET_REG_STR \"k\" v", not_quoted, "entries=null"},
    {"failure in the last line keeps the earlier fields",
     "VERSION_LO 1\nVERSION_HI 2\nPRODUCT_NAME \"p\"\n\"a\"\nCHECK_LANGUAGE\nbad", not_quoted,
     "version_lo=1 version_hi=2 product_name='p' check_language=1 entries=null"},
};

TEST(ParseSetupScript, FollowsTheStatementTable) {
    for (const auto& c : cases) {
        SetupRecord record;
        MemoryByteSource source(bytes_of(c.script));
        ScriptOutcome outcome = read_setup_script(record, source);
        EXPECT_EQ(outcome.ok, c.message == nullptr) << c.what;
        EXPECT_EQ(outcome.message, c.message ? c.message : "") << c.what;
        EXPECT_EQ(describe(record), c.record) << c.what;
    }
}

TEST(ParseSetupScript, ReadsScrambledScriptsAlike) {
    for (const auto& c : cases) {
        SetupRecord plain_record, scrambled_record;
        MemoryByteSource plain(bytes_of(c.script));
        std::vector<uint8_t> stored = scramble_setup_script(bytes_of(c.script));
        MemoryByteSource scrambled(stored);
        ScriptOutcome a = read_setup_script(plain_record, plain);
        ScriptOutcome b = read_setup_script(scrambled_record, scrambled);
        EXPECT_EQ(a.ok, b.ok) << c.what;
        EXPECT_EQ(a.message, b.message) << c.what;
        EXPECT_EQ(a.line, b.line) << c.what;
        EXPECT_EQ(describe(plain_record), describe(scrambled_record)) << c.what;
    }
}

TEST(ParseSetupScript, AFailedParseLeavesEarlierEntriesAlone) {
    SetupRecord record;
    const std::string first = "\"a\" NO_REBOOT PRODUCT_NAME \"p\"", second = "VERSION_LO 7 \"b\" oops";
    MemoryByteSource good(bytes_of(first));
    ASSERT_TRUE(read_setup_script(record, good).ok);
    MemoryByteSource bad(bytes_of(second));
    EXPECT_FALSE(read_setup_script(record, bad).ok);
    // Defaults again, the first statement's effect, and the old entries.
    EXPECT_EQ(describe(record), "version_lo=7 entries=[{0 'a'}]");
}

TEST(ParseSetupScript, NamesTheLineOfTheTokenAtFault) {
    struct Case {
        std::string script;
        int line;
    };
    const Case cases[] = {
        {"NO_REBOOT\n\n  bad\n", 3},
        {"PRODUCT_NAME\n\n Lumo", 3},                 // the bare argument
        {"\"a\"\nVERSION_LO\n# nothing\n", 2},        // the keyword whose argument is missing
        {"WIN95\n\nNO_REBOOT", 3},                    // the keyword after the flags
        {"\"a\"\nWINNT\n\n", 2},                      // the flag with no file after it
        {"\"a\nb\nc", 1},                             // where the open quote began
        {"VERSION_LO 1\n\"NO_REBOOT\"", 2},
    };
    for (const auto& c : cases) {
        SetupRecord record;
        MemoryByteSource source(bytes_of(c.script));
        ScriptOutcome outcome = read_setup_script(record, source);
        EXPECT_FALSE(outcome.ok) << c.script;
        EXPECT_EQ(outcome.line, c.line) << c.script;
    }
}

class ScriptFile : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = std::filesystem::temp_directory_path() /
                ("lumo-setup-script-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".cfg");
    }
    void TearDown() override { std::filesystem::remove(path_); }
    void write(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
    std::filesystem::path path_;
};

TEST_F(ScriptFile, WritesTheMessageToStandardErrorWithoutLineBreak) {
    write("VERSION_LO 12\n\"NO_REBOOT\"\n");
    SetupRecord record;
    ::testing::internal::CaptureStderr();
    bool ok = parse_setup_script(record, path_.string());
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, "A keyword was quoted as if it was a filename.\nSorry, no file can have the name of a keyword.");
    EXPECT_EQ(record.version_lo, 0x12u);
}

TEST_F(ScriptFile, ReadsBytesAsStoredAndSaysNothingOnSuccess) {
    write("PRODUCT_NAME \"a\r\nb\"\r\n\"x\"");  // no line-end translation
    SetupRecord record;
    ::testing::internal::CaptureStderr();
    bool ok = parse_setup_script(record, path_.string());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    ASSERT_TRUE(ok);
    EXPECT_EQ(record.product_name, "a\r\nb");
    ASSERT_TRUE(record.entries);
    EXPECT_EQ(record.entries->size(), 1u);
}

TEST_F(ScriptFile, ReadsAScrambledFileThroughTheStream) {
    const std::string plain = "PRODUCT_NAME \"Lumo\"\nWINNT \"a.dll\"\n";
    std::vector<uint8_t> stored = scramble_setup_script(bytes_of(plain));
    write(std::string(stored.begin(), stored.end()));
    SetupRecord record;
    ASSERT_TRUE(parse_setup_script(record, std::fopen(path_.string().c_str(), "rb")));
    EXPECT_EQ(describe(record), "product_name='Lumo' entries=[{2 'a.dll'}]");
}

TEST_F(ScriptFile, AScriptThatCannotBeOpened) {
    SetupRecord record;
    record.version_lo = 9;
    ::testing::internal::CaptureStderr();
    bool ok = parse_setup_script(record, (path_ / "missing").string());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "open config file");
    EXPECT_FALSE(ok);
    EXPECT_EQ(describe(record), "entries=null") << "defaults are set before the file is opened";
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(parse_setup_script(record, static_cast<std::FILE*>(nullptr)));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "open config file");
}

// Storage running out is reported as "mem", like any other failure of the
// parse: for a token that grows, and for the list of entries.
TEST(ParseSetupScript, ReportsExhaustedStorageAsMem) {
    std::string names;
    for (int i = 0; i < 1000; ++i) names += "\"f" + std::to_string(i) + "\"\n";
    struct Case {
        const char* what;
        std::string script;
        StorageProbe probe;
    };
    const Case cases[] = {
        {"a token longer than the storage", "PRODUCT_NAME \"Lumo\"\n\"" + std::string(300, 'a') + "\"",
         [](std::size_t bytes) { return bytes <= 256; }},
        {"more entries than the storage holds", "PRODUCT_NAME \"Lumo\"\n" + names,
         [](std::size_t bytes) { return bytes <= 16384; }},
    };
    for (const auto& c : cases) {
        SetupRecord record;
        MemoryByteSource source(bytes_of(c.script));
        ScriptOutcome outcome = read_setup_script(record, source, c.probe);
        EXPECT_FALSE(outcome.ok) << c.what;
        EXPECT_EQ(outcome.message, "mem") << c.what;
        EXPECT_GE(outcome.line, 2) << c.what;
        EXPECT_FALSE(record.entries) << c.what;
        EXPECT_EQ(record.product_name, "Lumo") << c.what << ": the statements before the failure took effect";
        // The same script with the storage there.
        MemoryByteSource again(bytes_of(c.script));
        EXPECT_TRUE(read_setup_script(record, again).ok) << c.what;
    }
}

TEST(ReadHexNumber, ReadsAsPercentLxDoes) {
    struct Case {
        const char* text;
        bool read;
        uint32_t value;  // when not read: the value must stay 0xDEADBEEF
    };
    const Case cases[] = {
        {"5050A00", true, 0x05050A00},
        {"0x5050a00", true, 0x05050A00},
        {"0X5050A00", true, 0x05050A00},
        {"ffffffff", true, 0xFFFFFFFF},
        {"+10", true, 0x10},
        {"-1", true, 0xFFFFFFFF},
        {"-0x10", true, 0xFFFFFFF0},
        {" \t7", true, 7},
        {"12zz", true, 0x12},
        {"0x", true, 0},     // the 0 is read, the x ends the number
        {"0xg", true, 0},
        {"100000000", true, 0xFFFFFFFF},  // beyond 32 bits the reading saturates
        {"-123456789a", true, 0xFFFFFFFF},
        {"00000000000000001", true, 1},  // leading zeros are not an overflow
        {"", false, 0},
        {"zz", false, 0},
        {"-", false, 0},
        {"x10", false, 0},
        {"- 1", false, 0},
    };
    for (const auto& c : cases) {
        uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(read_hex_number(c.text, value), c.read) << c.text;
        EXPECT_EQ(value, c.read ? c.value : 0xDEADBEEF) << c.text;
    }
}

}  // namespace
}  // namespace lumo
