// The worker's decision after each written entry, with the script reader,
// the lookup and the version check it depends on.
#include "extraction/setup_entry_handling.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_platform.h"

namespace lumo {
namespace {

const std::string app_key = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\lumo.exe|";

std::vector<uint8_t> registry_text(const std::string& text) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

// A stand-in reader: a script whose text is "bad" fails, any other passes
// and sets the range from "lo hi" in hexadecimal.
bool read_test_script(SetupRecord& record, std::FILE* script) {
    if (!script) return false;
    char text[64] = {};
    size_t n = std::fread(text, 1, sizeof text - 1, script);
    std::fclose(script);
    text[n] = 0;
    if (std::string(text) == "bad") return false;
    record.version_lo = 0;
    record.version_hi = 0xFFFFFFFF;
    std::sscanf(text, "%x %x", &record.version_lo, &record.version_hi);
    return true;
}

struct WorkerRun {
    FakePlatform platform{'\\'};
    SetupRecord record;
    InstalledProduct product;
    SetupEntryHandling handling;

    // Null: the installer's own parser reads the script.
    explicit WorkerRun(SetupScriptReader reader = read_test_script)
        : handling(platform, record, product, std::move(reader)) {}

    // The product at C:\Lumo, version 5.5.10.0.
    void install_product() {
        std::string value = "C:\\Lumo\\lumo.exe";
        platform.registry[app_key] = registry_text(value);
        platform.add_directory("C:\\Lumo");
        VersionInfo info;
        info.has_fixed_info = true;
        info.file_version_ms = 0x00050005;
        info.file_version_ls = 0x000A0000;
        platform.version_infos["C:\\Lumo\\lumo.exe"] = info;
    }
    // Writes the entries in order and returns the names the worker wrote
    // before it stopped.
    std::vector<std::string> write(const std::vector<std::pair<std::string, std::string>>& entries) {
        std::vector<std::string> written;
        for (const auto& [name, content] : entries) {
            std::string path = "T:\\Lumo.40\\" + name;
            platform.files[path] = content;
            written.push_back(name);
            if (handling.entry_written(name, path) == AfterEntry::stop_early) break;
        }
        return written;
    }
};

using Entries = std::vector<std::pair<std::string, std::string>>;
using Names = std::vector<std::string>;

TEST(SetupEntryHandling, DecisionTable) {
    struct Case {
        const char* what;
        bool product;
        Entries entries;
        Names written;
    };
    const Case cases[] = {
        {"no script: everything", false, {{"setup.exe", ""}, {"a.dll", ""}}, {"setup.exe", "a.dll"}},
        {"script passes: everything", true,
         {{"Setup.cfg", "05050A00 05050A00"}, {"setup.exe", ""}, {"a.dll", ""}},
         {"Setup.cfg", "setup.exe", "a.dll"}},
        {"no product: stop after setup", false,
         {{"Setup.cfg", ""}, {"a.txt", ""}, {"setup.exe", ""}, {"a.dll", ""}},
         {"Setup.cfg", "a.txt", "setup.exe"}},
        {"range fails: stop after setup", true,
         {{"Setup.cfg", "05050A01 FFFFFFFF"}, {"setup.exe", ""}, {"a.dll", ""}},
         {"Setup.cfg", "setup.exe"}},
        {"script malformed: stop after setup", true,
         {{"Setup.cfg", "bad"}, {"setup.exe", ""}, {"a.dll", ""}},
         {"Setup.cfg", "setup.exe"}},
        {"names in any case", false,
         {{"SETUP.CFG", ""}, {"Setup.EXE", ""}, {"a.dll", ""}},
         {"SETUP.CFG", "Setup.EXE"}},
        {"script after setup.exe: everything", false,
         {{"setup.exe", ""}, {"Setup.cfg", ""}, {"a.dll", ""}},
         {"setup.exe", "Setup.cfg", "a.dll"}},
        {"a second setup.exe after a failure also stops", false,
         {{"Setup.cfg", ""}, {"setup.exe", ""}, {"setup.exe", ""}},
         {"Setup.cfg", "setup.exe"}},
        {"names in a subfolder do not count", false,
         {{"sub\\Setup.cfg", ""}, {"setup.exe", ""}, {"a.dll", ""}},
         {"sub\\Setup.cfg", "setup.exe", "a.dll"}},
        {"second script is written but not read", true,
         {{"Setup.cfg", "0 FFFFFFFF"}, {"setup.cfg", "bad"}, {"setup.exe", ""}, {"a.dll", ""}},
         {"Setup.cfg", "setup.cfg", "setup.exe", "a.dll"}},
    };
    for (const Case& c : cases) {
        WorkerRun run;
        if (c.product) run.install_product();
        EXPECT_EQ(run.write(c.entries), c.written) << c.what;
    }
}

TEST(SetupEntryHandling, RegisteredPathsThatNameNoFolderStop) {
    // An empty default value and a quoted path are found, but no such folder
    // exists: the version is never read.
    for (std::string value : {"", "\"C:\\Lumo\\lumo.exe\""}) {
        WorkerRun run;
        run.install_product();
        run.platform.registry[app_key] = registry_text(value);
        EXPECT_EQ(run.write({{"Setup.cfg", ""}, {"setup.exe", ""}, {"x", ""}}), (Names{"Setup.cfg", "setup.exe"}))
            << value;
        EXPECT_TRUE(run.platform.version_reads.empty()) << value;
    }
}

TEST(SetupEntryHandling, MissingProductFolderStopsWithoutVersionRead) {
    WorkerRun run;
    run.install_product();
    run.platform.directories.clear();  // registered, but the folder is gone
    EXPECT_EQ(run.write({{"Setup.cfg", ""}, {"setup.exe", ""}, {"x", ""}}), (Names{"Setup.cfg", "setup.exe"}));
    EXPECT_TRUE(run.platform.version_reads.empty());
    EXPECT_EQ(run.product.product_folder, "C:\\Lumo");
}

TEST(SetupEntryHandling, SecondScriptLeavesTheFirstOutcome) {
    WorkerRun run;  // no product: the first script fails the lookup
    run.write({{"Setup.cfg", "0 FFFFFFFF"}});
    run.install_product();
    EXPECT_EQ(run.write({{"Setup.cfg", "0 FFFFFFFF"}, {"setup.exe", ""}, {"x", ""}}), (Names{"Setup.cfg", "setup.exe"}));
    EXPECT_EQ(run.platform.registry_reads.size(), 2u);  // the first lookup's two roots only
}

TEST(SetupEntryHandling, UnreadableScriptStops) {
    WorkerRun run;
    run.install_product();
    EXPECT_EQ(run.handling.entry_written("Setup.cfg", "T:\\nowhere\\Setup.cfg"), AfterEntry::go_on);
    EXPECT_TRUE(run.handling.stop_after_setup());
    EXPECT_TRUE(run.platform.registry_reads.empty());
}

TEST(SetupEntryHandling, ReadsTheScriptWithTheInstallersParser) {
    struct Case {
        const char* what;
        const char* script;
        Names written;
    };
    const Case cases[] = {
        {"range fits", "VERSION_LO 05050A00\nVERSION_HI 05060000\n", {"Setup.cfg", "setup.exe", "a.dll"}},
        {"range above", "VERSION_LO 05050A01\n", {"Setup.cfg", "setup.exe"}},
        {"another product", "PRODUCT_NAME \"Other\"\n", {"Setup.cfg", "setup.exe"}},
        {"malformed", "VERSION_LO\n", {"Setup.cfg", "setup.exe"}},
    };
    for (const Case& c : cases) {
        WorkerRun run(nullptr);
        run.install_product();
        EXPECT_EQ(run.write({{"Setup.cfg", c.script}, {"setup.exe", ""}, {"a.dll", ""}}), c.written) << c.what;
    }
}

}  // namespace
}  // namespace lumo
