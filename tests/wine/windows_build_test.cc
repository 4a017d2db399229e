// The Windows stubs as files: architecture, windowed subsystem, the DLLs they
// import, and the resources the resource compiler put in, read back with the
// MinGW tools.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "resources/strings.h"

namespace {

namespace fs = std::filesystem;

struct Build {
    const char* name;
    fs::path stub;
    std::string tools;   // prefix of the binutils for this architecture
    std::string format;  // as objdump names it
};

const Build builds[] = {
    {"x86_64", fs::path(LUMO_WINDOWS_BUILD) / "launcher" / "lumo-stub.exe", "x86_64-w64-mingw32-", "pei-x86-64"},
    {"i686", fs::path(LUMO_WINDOWS32_BUILD) / "launcher" / "lumo-stub.exe", "i686-w64-mingw32-", "pei-i386"},
};

std::string output_of(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
        pclose(pipe);
    }
    return output;
}

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

class WindowsStub : public testing::TestWithParam<Build> {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(GetParam().stub)) << GetParam().stub << " is missing: build the mingw presets first";
    }
    std::string headers() const { return output_of(GetParam().tools + "objdump -p '" + GetParam().stub.string() + "'"); }
    std::string resources() const {
        return output_of(GetParam().tools + "windres -i '" + GetParam().stub.string() + "' -O rc");
    }
};

TEST_P(WindowsStub, IsAWindowedProgramOfItsArchitecture) {
    const std::string text = headers();
    EXPECT_NE(text.find("file format " + GetParam().format), std::string::npos);
    EXPECT_NE(text.find("(Windows GUI)"), std::string::npos);
}

// Statically imported DLLs are loaded before the first line runs, with the
// default search order: only DLLs that the system always takes from its own
// folder may be among them. Window and version DLLs are loaded later.
TEST_P(WindowsStub, ImportsOnlyKnownSystemDlls) {
    const std::set<std::string> allowed = {"KERNEL32.dll", "msvcrt.dll", "ADVAPI32.dll", "ntdll.dll"};
    std::istringstream lines(headers());
    std::set<std::string> imported;
    for (std::string line; std::getline(lines, line);)
        if (auto at = line.find("DLL Name: "); at != std::string::npos) imported.insert(line.substr(at + 10));
    ASSERT_FALSE(imported.empty());
    for (const auto& dll : imported) EXPECT_TRUE(allowed.count(dll)) << dll << " is imported statically";
}

TEST_P(WindowsStub, CarriesDialog103InEnglishAndGerman) {
    // WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT
    const uint32_t dialog_style = 0x80000000u | 0x10000000u | 0x00C00000u | 0x00080000u | 0x80u | 0x800u | 0x40u;
    // WS_CHILD | WS_VISIBLE, then SS_CENTER | WS_GROUP for the prompt and
    // BS_OWNERDRAW | WS_TABSTOP for the bar.
    const uint32_t child = 0x40000000u | 0x10000000u;
    const std::string prompt_style = hex(child | 0x1u | 0x00020000u);
    const std::string bar_style = hex(child | 0xBu | 0x00010000u);
    auto dialog = [&](const char* language, const char* caption, const char* prompt, const char* prompt_place) {
        return std::string("LANGUAGE ") + language + "\n\n103 DIALOG 0, 0, 202, 58\nSTYLE " +
               hex(dialog_style) + "\nCAPTION \"" + caption + "\"\nFONT 8, \"MS Sans Serif\"\nBEGIN\n  CONTROL \"" +
               prompt + "\\n\", 1003, \"STATIC\", " + prompt_style + ", " + prompt_place +
               "\n  CONTROL \"Button1\", 1002, \"BUTTON\", " + bar_style + ", 7, 40, 188, 11\nEND\n";
    };
    const std::string text = resources();
    EXPECT_NE(text.find(dialog("9, 1", LUMO_DIALOG_TITLE_EN, "Please wait while decompressing installation files to:",
                               "7, 13, 188, 23")),
              std::string::npos)
        << text.substr(0, 4000);
    EXPECT_NE(text.find(dialog("7, 1", LUMO_DIALOG_TITLE_DE, "Entpacke Lumo-Installationsdateien nach:", "7, 7, 188, 29")),
              std::string::npos);
}

TEST_P(WindowsStub, CarriesStringsIconVersionAndManifest) {
    const std::string text = resources();
    struct Expected {
        const char* what;
        const char* text;
    } expected[] = {
        {"English string 5", "  5, \"There was an error decompressing the files\"\n"},
        {"German string 5", "  5, \"Beim Entpacken der Installationsdaten trat ein fataler Fehler auf\"\n"},
        // The resource compiler shows a-umlaut (U+00E4) as \344 in a wide text.
        {"German umlaut", "evtl. wurde es beim Transport besch\\344digt\\r\\nInstallation wurde abgebrochen!\""},
        {"quote ending string 3", "  3, \"Error copying the file: \"\"\"\n"},
        {"quote starting string 4", "  4, \"\"\"\\r\\nMaybe the harddisc is full"},
        {"icon group 103", "103 14 /* RT_GROUP_ICON */"},
        {"version information", "VALUE \"FileDescription\", \"Lumo add-on installer\""},
        {"runs with the user's rights", "level=\"\"asInvoker\"\""},
        {"common controls 6", "name=\"\"Microsoft.Windows.Common-Controls\"\" version=\"\"6.0.0.0\"\""},
        {"DPI aware", "<dpiAware"},
        {"supported on Windows 10 and 11", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"},
    };
    for (const auto& e : expected) EXPECT_NE(text.find(e.text), std::string::npos) << e.what;
}

INSTANTIATE_TEST_SUITE_P(Builds, WindowsStub, testing::ValuesIn(builds),
                         [](const testing::TestParamInfo<Build>& info) { return std::string(info.param.name); });

}  // namespace
