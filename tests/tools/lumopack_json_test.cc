// `lumopack list --json` and `lumopack test --json`, parsed and held to what
// the tables of `list` and `test` show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "tests/support/json_reader.h"
#include "tests/tools/lumopack_fixture.h"
#include "tools/lumopack/container_writer.h"
#include "tools/lumopack/json_text.h"
#include "tools/lumopack/packer.h"

namespace lumo::testing {
namespace {

using test::JsonValue;
using test::parse_json;

struct ListedRow {
    uint64_t size;
    std::string checksum, name;
};

// The rows of `list`'s table: size, checksum and name at fixed columns.
std::vector<ListedRow> table_rows(const std::string& listing) {
    std::vector<ListedRow> rows;
    std::istringstream lines(listing);
    std::string line;
    std::getline(lines, line);  // the heading
    while (std::getline(lines, line) && line.size() > 24 && line[12] == ' ' && line[22] == ' ')
        rows.push_back({std::stoull(line.substr(0, 12)), line.substr(14, 8), line.substr(24)});
    return rows;
}

// The JSON, parsed; a parse failure fails the test. Only ASCII may come out.
JsonValue parsed(const std::string& text) {
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << "one line";
    for (char c : text) EXPECT_LT(static_cast<unsigned char>(c), 0x80) << text;
    try {
        return parse_json(text);
    } catch (const std::exception& error) {
        ADD_FAILURE() << error.what() << " in\n" << text;
        return {};
    }
}

void expect_entry(const JsonValue& entry, const ListedRow& row) {
    EXPECT_EQ(entry["name"].string, row.name);
    EXPECT_EQ(entry["size"].number, double(row.size)) << row.name;
    EXPECT_EQ(entry["checksum"].string, row.checksum) << row.name;
}

TEST_F(LumopackTest, JsonOfListAndTestHoldsWhatTheirTablesShow) {
    const fs::path folder = path("addon");
    write_file(folder / "Setup.exe", random_bytes(3000, 1));
    write_file(folder / "Readme.txt", std::string("read me\n"));
    write_file(folder / "empty.dat", Bytes{});
    // Windows-1252 beyond Latin-1: the euro sign is byte 0x80 there.
    write_file(folder / "Preise \xE2\x82\xAC.txt", std::string("prices"));
    write_file(folder / "Sub" / "na\xC3\xAFve.txt", std::string("diaeresis"));
    ASSERT_EQ(build(folder, path("addon.run")).status, 0);
    const std::string installer = path("addon.run").string();

    const RunResult list = run_lumopack({"list", installer}, true), list_json = run_lumopack({"list", installer, "--json"}, true);
    ASSERT_EQ(list.status, 0) << list.errors;
    ASSERT_EQ(list_json.status, 0) << list_json.errors;
    const std::vector<ListedRow> rows = table_rows(list.output);
    ASSERT_EQ(rows.size(), 5u) << list.output;
    const JsonValue listed = parsed(list_json.output);
    EXPECT_EQ(listed.keys(), (std::vector<std::string>{"entries", "files", "bytes", "container", "packed"}));
    ASSERT_EQ(listed["entries"].array.size(), rows.size());
    uint64_t bytes = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        expect_entry(listed["entries"].array[i], rows[i]);
        bytes += rows[i].size;
    }
    EXPECT_EQ(listed["entries"].array[1]["name"].string, "Preise \xE2\x82\xAC.txt");
    unsigned long files = 0, total = 0, container = 0, packed = 0;
    ASSERT_EQ(std::sscanf(list.output.substr(list.output.rfind('\n', list.output.size() - 2) + 1).c_str(),
                          "%lu files, %lu bytes; container %lu bytes packed to %lu", &files, &total, &container, &packed),
              4)
        << list.output;
    EXPECT_EQ(listed["files"].number, double(files));
    EXPECT_EQ(listed["bytes"].number, double(total));
    EXPECT_EQ(listed["bytes"].number, double(bytes));
    EXPECT_EQ(listed["container"].number, double(container));
    EXPECT_EQ(listed["packed"].number, double(packed));

    const RunResult tested = run_lumopack({"test", installer}, true), tested_json = run_lumopack({"test", "--json", installer}, true);
    ASSERT_EQ(tested.status, 0) << tested.errors;
    EXPECT_EQ(tested_json.status, 0) << tested_json.errors;
    const JsonValue verdict = parsed(tested_json.output);
    EXPECT_EQ(verdict.keys(), (std::vector<std::string>{"ok", "entries", "files", "bytes"}));
    EXPECT_TRUE(verdict["ok"].boolean);
    ASSERT_EQ(verdict["entries"].array.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        expect_entry(verdict["entries"].array[i], rows[i]);
        EXPECT_EQ(verdict["entries"].array[i]["verdict"].string, "ok");
    }
    EXPECT_EQ(tested.output, installer + ": ok, " + std::to_string(files) + " files, " + std::to_string(total) +
                                 " bytes\n");
    EXPECT_EQ(verdict["files"].number, double(files));
    EXPECT_EQ(verdict["bytes"].number, double(total));
}

// An installer from another packer, with damaged data in one entry and a
// name the installer refuses in another: `test --json` judges every entry,
// and its error is the message `test` prints.
TEST_F(LumopackTest, TestJsonJudgesEveryEntryAndCarriesTheMessageOfTest) {
    const Bytes good = random_bytes(4000, 1), bad = random_bytes(6000, 2), evil = {'e', 'v', 'i', 'l'};
    const std::vector<ContainerFileData> files = {
        {"Setup.exe", good}, {"sub\\damaged.bin", bad}, {"..\\escaped.txt", evil}, {"last.txt", good}};
    auto image = build_container_image(files);
    ASSERT_TRUE(image.has_value());
    const auto damaged = std::search(image->begin(), image->end(), bad.begin(), bad.end());
    ASSERT_NE(damaged, image->end());
    damaged[100] ^= 1;
    const fs::path installer = path("damaged.run");
    write_file_atomically(installer, make_installer(read_file(stub_), *image, EncoderOptions{}).in_order());

    const RunResult tested = run_lumopack({"test", installer.string()}, true);
    const RunResult judged = run_lumopack({"test", installer.string(), "--json"}, true);
    EXPECT_EQ(tested.status, 1);
    EXPECT_EQ(judged.status, 1);
    EXPECT_EQ(judged.errors, tested.errors);
    const JsonValue verdict = parsed(judged.output);
    EXPECT_EQ(verdict.keys(), (std::vector<std::string>{"ok", "error", "entries", "files", "bytes"}));
    EXPECT_FALSE(verdict["ok"].boolean);
    EXPECT_EQ("lumopack test: " + verdict["error"].string + "\n", tested.errors);

    struct Expected {
        const char* name;
        const char* verdict;
        const char* reason;
    } expected[] = {
        {"Setup.exe", "ok", nullptr},
        {"sub/damaged.bin", "damaged", "its data does not match its checksum or size"},
        {"../escaped.txt", "unsafe name", "the name holds a '.' or '..' folder"},
        {"last.txt", "ok", nullptr},
    };
    const auto& entries = verdict["entries"].array;
    ASSERT_EQ(entries.size(), std::size(expected));
    for (size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(entries[i]["name"].string, expected[i].name);
        EXPECT_EQ(entries[i]["verdict"].string, expected[i].verdict);
        EXPECT_EQ(entries[i].has("reason"), expected[i].reason != nullptr);
        if (expected[i].reason) {
            EXPECT_EQ(entries[i]["reason"].string, expected[i].reason);
        }
    }
    EXPECT_NE(tested.errors.find("\"sub/damaged.bin\""), std::string::npos) << "the first bad entry: " << tested.errors;

    // Nothing to judge: the file carries no installer at all.
    write_file(installer, std::string("not an installer"));
    const RunResult nothing = run_lumopack({"test", "--json", installer.string()}, true);
    EXPECT_EQ(nothing.status, 1);
    const JsonValue none = parsed(nothing.output);
    EXPECT_FALSE(none["ok"].boolean);
    EXPECT_TRUE(none["entries"].array.empty());
    EXPECT_EQ("lumopack test: " + none["error"].string + "\n", nothing.errors);
}

TEST(JsonText, EscapesAllButPrintableAsciiAndNeverPassesBrokenUtf8) {
    struct Case {
        const char* what;
        std::string text, json;
    } cases[] = {
        {"quote, backslash, line breaks", "a\"b\\c\r\n\t", R"("a\"b\\c\r\n\t")"},
        {"control characters", std::string("\x01\x1F\x7F", 3), R"("\u0001\u001f\u007f")"},
        {"two and three bytes", "\xC3\xA9\xE2\x82\xAC", R"("\u00e9\u20ac")"},
        {"beyond U+FFFF: a surrogate pair", "\xF0\x9F\x98\x80", R"("\ud83d\ude00")"},
        {"a cut sequence", "a\xC3", R"("a\ufffd")"},
        {"an overlong slash", "\xC0\xAF", R"("\ufffd\ufffd")"},
        {"an encoded surrogate", "\xED\xA0\x80", R"("\ufffd\ufffd\ufffd")"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", R"("\ufffd\ufffd\ufffd\ufffd")"},
    };
    for (const auto& c : cases) EXPECT_EQ(json_string_of_text(c.text), c.json) << c.what;
}

}  // namespace
}  // namespace lumo::testing
