// lumopack's script command and the build-time check, run as a user runs
// them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace {

const fs::path data = LUMO_TEST_DATA "/setup_script";

struct Outcome {
    int status = -1;
    std::string out, err;
};

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void spill(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

class Lumopack : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("lumo-lumopack-script-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    Outcome lumopack(const std::string& arguments) {
        const std::string command = std::string("'") + LUMOPACK_PATH + "' " + arguments + " >'" +
                                    (dir_ / "out").string() + "' 2>'" + (dir_ / "err").string() + "'";
        int raw = std::system(command.c_str());
        Outcome run;
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.out = slurp(dir_ / "out");
        run.err = slurp(dir_ / "err");
        return run;
    }

    // An add-on folder with the given script, a setup program and one file.
    fs::path addon(const std::string& script) {
        fs::path folder = dir_ / "addon";
        fs::create_directories(folder);
        spill(folder / "Setup.cfg", script);
        spill(folder / "Setup.exe", "MZ stand-in");
        spill(folder / "data.bin", std::string(1000, 'x'));
        spill(dir_ / "stub", std::string("MZ") + std::string(510, '\0'));
        return folder;
    }

    std::string build(const fs::path& folder, const std::string& options, Outcome& run) {
        const fs::path out = dir_ / "installer.exe";
        run = lumopack("build '" + folder.string() + "' -o '" + out.string() + "' --stub '" +
                       (dir_ / "stub").string() + "' " + options);
        return out.string();
    }

    fs::path dir_;
};

TEST_F(Lumopack, ScriptPrintsTheRecordAsJson) {
    struct Case {
        const char* file;
        int status;
        const char* json;
        const char* err;  // a piece of the message on standard error
    };
    const Case cases[] = {
        {"example.cfg", 0,
         "{\"ok\": true, \"record\": {\"version_lo\": 84216320, \"version_hi\": 84279295, \"product_name\": \"Lumo\", "
         "\"update_flags\": 1, \"check_language\": 0, \"product_title\": \"Beispiel-Erg\\u00e4nzung\", "
         "\"no_reboot\": 0, \"mp3_install\": 1, \"mp3pro_install\": 0, \"mpeg2_install\": 0, \"no_regentries\": 0, "
         "\"entries\": [{\"flags\": 0, \"name\": \"Setup.exe\"}, {\"flags\": 74, \"name\": \"lumoplug.dll\"}, "
         "{\"flags\": 1024, \"name\": \"blue.skin\", \"subdir\": \"Skins\"}, "
         "{\"flags\": 131072, \"name\": \"Software\\\\Lumo\\\\Plugins\\\\Example\", \"reg_dword\": 1}, "
         "{\"flags\": 262144, \"name\": \"Software\\\\Lumo\\\\Path\", \"reg_string\": \"C:\\\\Lumo\"}]}}\n",
         ""},
        {"flags_at_end.cfg", 1,
         "{\"ok\": false, \"error\": \"file flags without filename\", \"record\": {\"version_lo\": 84216320, "
         "\"version_hi\": 4294967295, \"product_name\": \"Lumo\", \"update_flags\": 1, \"check_language\": 0, "
         "\"product_title\": null, \"no_reboot\": 0, \"mp3_install\": 0, \"mp3pro_install\": 0, "
         "\"mpeg2_install\": 0, \"no_regentries\": 0, \"entries\": null}}\n",
         "flags_at_end.cfg: line 5: file flags without filename\n"},
        {"missing.cfg", 1,
         "{\"ok\": false, \"error\": \"open config file\", \"record\": {\"version_lo\": 0, "
         "\"version_hi\": 4294967295, \"product_name\": null, \"update_flags\": 1, \"check_language\": 0, "
         "\"product_title\": null, \"no_reboot\": 0, \"mp3_install\": 0, \"mp3pro_install\": 0, "
         "\"mpeg2_install\": 0, \"no_regentries\": 0, \"entries\": null}}\n",
         "missing.cfg: open config file\n"},
    };
    for (const auto& c : cases) {
        Outcome run = lumopack("script '" + (data / c.file).string() + "'");
        EXPECT_EQ(run.status, c.status) << c.file;
        EXPECT_EQ(run.out, c.json) << c.file;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << c.file << ": " << run.err;
    }
}

TEST_F(Lumopack, ScriptSaysWhyAByteOrderMarkFails) {
    Outcome run = lumopack("script '" + (data / "byte_order_mark.cfg").string() + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.rfind("{\"ok\": false, \"error\": ", 0), 0u) << run.out;
    EXPECT_NE(run.err.find("begins with byte 0xEF, so it is read as a scrambled script"), std::string::npos) << run.err;
}

TEST_F(Lumopack, ScriptRejectsAWrongCommandLine) {
    for (const char* arguments : {"script", "script a b", "script --bogus"}) {
        Outcome run = lumopack(arguments);
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_TRUE(run.out.empty()) << arguments;
        EXPECT_FALSE(run.err.empty()) << arguments;
    }
}

TEST_F(Lumopack, BuildRefusesAFailingScriptUnlessTold) {
    fs::path folder = addon("PRODUCT_NAME \"Lumo\"\nsetup.exe\n");
    Outcome run;
    std::string installer = build(folder, "", run);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Setup.cfg: line 2: A string was not quoted: might be a misspelled keyword."),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(installer)) << "a refused build leaves no installer";

    build(folder, "--no-script-check", run);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(installer));
    EXPECT_NE(run.err.find("warning: Setup.cfg: line 2"), std::string::npos) << run.err;
}

TEST_F(Lumopack, BuildWarnsWhenTheScriptComesAfterTheSetupProgram) {
    fs::path folder = addon("\"data.bin\"\n");
    spill(dir_ / "order", "Setup.exe\nSetup.cfg\n");
    Outcome run;
    build(folder, "--order '" + (dir_ / "order").string() + "'", run);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("Setup.cfg comes after Setup.exe: the update check cannot stop the extraction"),
              std::string::npos)
        << run.err;
}

TEST_F(Lumopack, BuildStoresTheScriptScrambledOnRequest) {
    const std::string script = "PRODUCT_TITLE \"Example\"\nVERSION_LO 5050A00\n\"Setup.exe\" \"data.bin\"\n";
    fs::path folder = addon(script);
    Outcome run;
    std::string installer = build(folder, "--scramble-script", run);
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(lumopack("extract '" + installer + "' -C '" + (dir_ / "x").string() + "'").status, 0);

    const std::string stored = slurp(dir_ / "x" / "Setup.cfg");
    ASSERT_EQ(stored.size(), script.size() + 1);
    EXPECT_EQ(stored.find("PRODUCT_TITLE"), std::string::npos);
    // Read back, the scrambled script says what the plain one says.
    Outcome plain = lumopack("script '" + (folder / "Setup.cfg").string() + "'");
    Outcome scrambled = lumopack("script '" + (dir_ / "x" / "Setup.cfg").string() + "'");
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(scrambled.status, 0);
    EXPECT_EQ(scrambled.out, plain.out);
}

}  // namespace
