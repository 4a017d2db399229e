// lumopack build, list, test and extract, run as a user runs them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <optional>
#include <sstream>

#include "payload/installer_layout.h"
#include "tests/tools/lumopack_fixture.h"
#include "tools/lumopack/name_portability.h"

namespace lumo::testing {
namespace {

// A WAV header and 16-bit stereo samples, so that audio mode has work.
Bytes wav_file(size_t frames) {
    Bytes wav = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0,
                 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0};
    for (size_t i = 0; i < frames; ++i)
        for (int channel = 0; channel < 2; ++channel) {
            const int16_t sample = int16_t((int(i * (channel ? 37 : 23)) % 2000) - 1000);
            wav.push_back(uint8_t(sample));
            wav.push_back(uint8_t(sample >> 8));
        }
    return wav;
}

std::string text_file(size_t lines) {
    std::string text;
    for (size_t i = 0; i < lines; ++i) text += "line " + std::to_string(i * 7 % 113) + " of the add-on's read-me\n";
    return text;
}

// The shapes of add-on folders that a round trip must reproduce.
void fill_addon(const fs::path& folder) {
    write_file(folder / "Setup.cfg", std::string("PRODUCT_TITLE \"Round trip\"\n\"Readme.txt\"\n"));
    write_file(folder / "Setup.exe", std::string("#!/bin/sh\necho setup\n"));
    write_file(folder / "Readme.txt", text_file(2000));
    write_file(folder / "empty.dat", Bytes{});
    write_file(folder / "data" / "random.bin", random_bytes(300000, 7));
    write_file(folder / "data" / "deep" / "er" / "one.bin", Bytes{1});
    write_file(folder / "Sounds" / "stereo.wav", wav_file(40000));
    write_file(folder / "Caf\xC3\xA9 \xE2\x82\xAC.txt", std::string("Windows-1252 name\n"));
}

TEST_F(LumopackTest, RoundTripsAtEveryLevelAndAudioMode) {
    const fs::path folder = path("addon");
    fill_addon(folder);
    const auto original = read_tree(folder);
    for (const std::vector<std::string>& options : {std::vector<std::string>{"--level", "1"},
                                                    std::vector<std::string>{},
                                                    std::vector<std::string>{"--level=best", "--audio", "off"},
                                                    std::vector<std::string>{"--level", "9", "--audio", "auto"}}) {
        const std::string shown = options.empty() ? "default options" : options[0] + " " + options.back();
        SCOPED_TRACE(shown);
        const fs::path installer = path("addon.run");
        const fs::path out = path("out");
        fs::remove_all(out);

        auto built = build(folder, installer, options);
        ASSERT_EQ(built.status, 0) << built.output;
        auto tested = run_lumopack({"test", installer.string()});
        EXPECT_EQ(tested.status, 0) << tested.output;
        auto extracted = run_lumopack({"extract", installer.string(), "-C", out.string()});
        ASSERT_EQ(extracted.status, 0) << extracted.output;
        EXPECT_TRUE(read_tree(out) == original);
    }
}

TEST_F(LumopackTest, BundledExampleAddOnPacksTestsAndExtractsByteForByte) {
    const fs::path example = LUMO_EXAMPLE_ADDON;
    auto built = build(example, path("example.run"), {"--level", "best"});
    ASSERT_EQ(built.status, 0) << built.output;
    EXPECT_EQ(built.output.find("warning"), std::string::npos) << built.output;
    auto tested = run_lumopack({"test", path("example.run").string()});
    EXPECT_EQ(tested.status, 0) << tested.output;
    ASSERT_EQ(run_lumopack({"extract", path("example.run").string(), "-C", path("out").string()}).status, 0);
    EXPECT_TRUE(read_tree(path("out")) == read_tree(example));
}

TEST_F(LumopackTest, ListShowsEntriesInInstallerOrderWithTotals) {
    const fs::path folder = path("addon");
    fill_addon(folder);
    ASSERT_EQ(build(folder, path("addon.run")).status, 0);
    auto listed = run_lumopack({"list", path("addon.run").string()});
    ASSERT_EQ(listed.status, 0) << listed.output;

    const std::vector<std::string> expected_order = {"Setup.cfg", "Setup.exe", "Caf\xC3\xA9 \xE2\x82\xAC.txt",
                                                     "Readme.txt", "Sounds/stereo.wav", "data/deep/er/one.bin",
                                                     "data/random.bin", "empty.dat"};
    size_t at = 0;
    for (const auto& name : expected_order) {
        const size_t found = listed.output.find("  " + name + "\n", at);
        ASSERT_NE(found, std::string::npos) << name << " missing or out of order in\n" << listed.output;
        at = found;
    }
    // The empty file's checksum is the container's seed.
    EXPECT_NE(listed.output.find("           0  546f7669  empty.dat"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("8 files, "), std::string::npos) << listed.output;
}

TEST_F(LumopackTest, EmptyFolderMakesAnInstallerWithoutFilesAndAWarning) {
    fs::create_directories(path("empty"));
    auto built = build(path("empty"), path("empty.run"));
    ASSERT_EQ(built.status, 0) << built.output;
    EXPECT_NE(built.output.find("warning: no Setup.exe"), std::string::npos) << built.output;
    EXPECT_EQ(run_lumopack({"test", path("empty.run").string()}).status, 0);
    EXPECT_EQ(run_lumopack({"extract", path("empty.run").string(), "-C", path("out").string()}).status, 0);
    EXPECT_TRUE(read_tree(path("out")).empty());
}

TEST_F(LumopackTest, OutputIsReproducible) {
    // The same files written in another order, at another time, in another
    // folder: the installer must not change by a byte.
    fill_addon(path("one"));
    auto tree = read_tree(path("one"));
    for (auto it = tree.rbegin(); it != tree.rend(); ++it) write_file(path("two") / it->first, it->second);
    ASSERT_EQ(build(path("one"), path("one.run")).status, 0);
    ASSERT_EQ(build(path("two"), path("two.run")).status, 0);
    ASSERT_EQ(build(path("one"), path("again.run")).status, 0);
    EXPECT_TRUE(read_file(path("one.run")) == read_file(path("two.run")));
    EXPECT_TRUE(read_file(path("one.run")) == read_file(path("again.run")));
}

TEST_F(LumopackTest, OrderFileLeadsTheDirectory) {
    fill_addon(path("addon"));
    write_file(path("order.txt"), std::string("# the sound first\r\ndata/random.bin\r\n\r\nSounds\\stereo.wav\n"));
    ASSERT_EQ(build(path("addon"), path("addon.run"), {"--order", path("order.txt").string()}).status, 0);
    auto listed = run_lumopack({"list", path("addon.run").string()});
    const size_t random = listed.output.find("data/random.bin"), sound = listed.output.find("Sounds/stereo.wav"),
                 script = listed.output.find("Setup.cfg");
    EXPECT_LT(random, sound);
    EXPECT_LT(sound, script);

    write_file(path("bad-order.txt"), std::string("missing.txt\n"));
    auto refused = build(path("addon"), path("bad.run"), {"--order", path("bad-order.txt").string()});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("missing.txt"), std::string::npos) << refused.output;
    EXPECT_FALSE(fs::exists(path("bad.run")));
}

TEST_F(LumopackTest, UnusableFoldersAreRefusedNamingTheFileAndLeavingNoOutput) {
    struct Case {
        const char* what;
        void (*make)(const fs::path& folder);
        const char* named;  // what the message must name
    };
    const Case cases[] = {
        {"link", [](const fs::path& f) { fs::create_symlink("Readme.txt", f / "link.txt"); }, "link.txt: is a link"},
        {"folder link", [](const fs::path& f) { fs::create_directory_symlink("data", f / "more"); }, "more: is a link"},
        {"fifo", [](const fs::path& f) { ASSERT_EQ(mkfifo((f / "pipe").c_str(), 0600), 0); }, "pipe: is not a regular file"},
        {"device name", [](const fs::path& f) { write_file(f / "data" / "Aux.txt", Bytes{}); }, "data/Aux.txt: "},
        {"colon", [](const fs::path& f) { write_file(f / "a:b", Bytes{}); }, "a:b: "},
        {"question mark", [](const fs::path& f) { write_file(f / "what?", Bytes{}); }, "what?: "},
        {"trailing dot", [](const fs::path& f) { write_file(f / "dot.", Bytes{}); }, "dot.: "},
        {"trailing space", [](const fs::path& f) { write_file(f / "space ", Bytes{}); }, "space : "},
        {"control character", [](const fs::path& f) { write_file(f / "tab\there", Bytes{}); }, "here: "},
        {"backslash", [](const fs::path& f) { write_file(f / "a\\b", Bytes{}); }, "a\\\\b: the name holds a backslash"},  // escaped as printed
        {"not Windows-1252", [](const fs::path& f) { write_file(f / "\xE6\x97\xA5.txt", Bytes{}); }, "\xE6\x97\xA5.txt: "},
        {"too long", [](const fs::path& f) { write_file(f / std::string(100, 'd') / std::string(60, 'f'), Bytes{}); },
         "too long"},
        {"case clash", [](const fs::path& f) { write_file(f / "README.TXT", Bytes{}); }, "same file"},
        {"file and folder clash", [](const fs::path& f) { write_file(f / "DATA", Bytes{}); }, "same file"},
        {"over 4 GiB", [](const fs::path& f) {
             write_file(f / "huge.bin", Bytes{});
             fs::resize_file(f / "huge.bin", 0x100000001ull);  // sparse: takes no disk space
         }, "4 GiB"},
        // Below the image's limit, but packed it might not fit: refused from
        // the sizes, before the 4 GiB are read.
        {"near 4 GiB", [](const fs::path& f) {
             write_file(f / "huge.bin", Bytes{});
             fs::resize_file(f / "huge.bin", 0xFF000000ull);
         }, "packed they could pass the 4 GiB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path folder = path("addon");
        fs::remove_all(folder);
        write_file(folder / "Setup.exe", std::string("x"));
        write_file(folder / "Readme.txt", std::string("read me"));
        write_file(folder / "data" / "x.bin", Bytes{1, 2});
        c.make(folder);
        auto result = build(folder, path("addon.run"));
        EXPECT_EQ(result.status, 1) << result.output;
        EXPECT_NE(result.output.find(c.named), std::string::npos) << result.output;
        EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1) << result.output;
        EXPECT_FALSE(fs::exists(path("addon.run")));
        // No temporary file is left beside the output either.
        for (const auto& entry : fs::directory_iterator(root_))
            EXPECT_EQ(entry.path().filename().string().find("addon.run"), std::string::npos);
    }
}

TEST_F(LumopackTest, CommandLineMistakesExitWithUsageStatus) {
    fill_addon(path("addon"));
    const std::vector<std::vector<std::string>> mistakes = {
        {},
        {"pack"},
        {"build", path("addon").string()},
        {"build", "-o", path("x.run").string()},
        {"build", path("addon").string(), "-o", path("x.run").string(), "--level", "10"},
        {"build", path("addon").string(), "-o", path("x.run").string(), "--audio", "on"},
        {"build", path("addon").string(), "-o", path("x.run").string(), "--threads", "0"},
        {"build", path("addon").string(), "-o", path("x.run").string(), "--part-size", "1K"},
        {"build", path("addon").string(), "-o", path("x.run").string(), "--fast"},
        {"list"},
        {"extract", "a", "b"},
    };
    for (const auto& args : mistakes) {
        auto result = run_lumopack(args);
        EXPECT_EQ(result.status, 2) << (args.empty() ? "" : args[0]) << ": " << result.output;
        EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1) << result.output;
    }
    EXPECT_FALSE(fs::exists(path("x.run")));
    EXPECT_EQ(run_lumopack({"--help"}).status, 0);
    EXPECT_NE(run_lumopack({"--version"}).output.find("lumopack"), std::string::npos);
}

TEST_F(LumopackTest, ProgressBarOnlyOnATerminal) {
    fill_addon(path("addon"));
    // Through a pipe: no bar, only the summary line.
    auto piped = build(path("addon"), path("piped.run"));
    ASSERT_EQ(piped.status, 0) << piped.output;
    EXPECT_EQ(piped.output.find('\r'), std::string::npos) << piped.output;

    // On a terminal (script(1) gives lumopack a pseudo-terminal): the bar
    // counts up to 100% and is cleared before the summary.
    const std::string command = "script -qec " +
                                quoted(quoted(LUMOPACK_PATH) + " test " + quoted(path("piped.run").string())) +
                                " /dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string shown;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) shown.append(buffer, n);
    ASSERT_EQ(pclose(pipe), 0) << shown;
    EXPECT_NE(shown.find("\runpacking  ["), std::string::npos) << shown;
    EXPECT_NE(shown.find("] 100%"), std::string::npos) << shown;
    EXPECT_NE(shown.find(": ok, 8 files"), std::string::npos) << shown;
}

TEST_F(LumopackTest, StubThatIsAlreadyAnInstallerIsRefused) {
    fill_addon(path("addon"));
    ASSERT_EQ(build(path("addon"), path("first.run")).status, 0);
    auto result = run_lumopack({"build", path("addon").string(), "-o", path("second.run").string(), "--stub",
                                path("first.run").string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.output.find("already carries a payload"), std::string::npos) << result.output;
    EXPECT_FALSE(fs::exists(path("second.run")));
}

TEST_F(LumopackTest, OutputInsideTheFolderIsNotPackedIntoItself) {
    fill_addon(path("addon"));
    ASSERT_EQ(build(path("addon"), path("addon") / "addon.run").status, 0);
    ASSERT_EQ(build(path("addon"), path("addon") / "addon.run").status, 0);
    auto listed = run_lumopack({"list", (path("addon") / "addon.run").string()});
    EXPECT_EQ(listed.output.find("addon.run"), std::string::npos) << listed.output;
}

// A minimal PE image, enough for a signing tool: DOS header, "PE\0\0",
// COFF header and a PE32 optional header with 16 data directories.
Bytes minimal_pe() {
    Bytes pe(0x40 + 24 + 224 + 40, 0);
    const auto put = [&](size_t at, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) pe[at + i] = uint8_t(value >> (8 * i));
    };
    pe[0] = 'M', pe[1] = 'Z';
    put(0x3C, 0x40, 4);
    pe[0x40] = 'P', pe[0x41] = 'E';
    put(0x44, 0x14C, 2);        // machine: i386
    put(0x44 + 16, 224, 2);     // size of the optional header
    put(0x58, 0x10B, 2);        // PE32
    put(0x58 + 92, 16, 4);      // number of data directories
    return pe;
}

TEST_F(LumopackTest, InstallerSignedAfterPackingStillReadsWhole) {
    // The signing tool appends its certificate table after the trailer; the
    // trailer is then found through the PE security directory.
    fill_addon(path("addon"));
    write_file(stub_, minimal_pe());
    ASSERT_EQ(build(path("addon"), path("addon.exe")).status, 0);
    const std::string data = std::string(LUMO_TEST_DATA) + "/";
    const std::string sign = "osslsigncode sign -certs " + quoted(data + "signing-test-cert.pem") + " -key " +
                             quoted(data + "signing-test-key.pem") + " -in " + quoted(path("addon.exe").string()) +
                             " -out " + quoted(path("signed.exe").string()) + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(sign.c_str()), 0) << sign;
    const Bytes unsigned_file = read_file(path("addon.exe")), signed_file = read_file(path("signed.exe"));
    ASSERT_GT(signed_file.size(), unsigned_file.size());
    ASSERT_FALSE(std::equal(unsigned_file.end() - 16, unsigned_file.end(), signed_file.end() - 16));

    auto tested = run_lumopack({"test", path("signed.exe").string()});
    EXPECT_EQ(tested.status, 0) << tested.output;
    auto extracted = run_lumopack({"extract", path("signed.exe").string(), "-C", path("out").string()});
    ASSERT_EQ(extracted.status, 0) << extracted.output;
    EXPECT_TRUE(read_tree(path("out")) == read_tree(path("addon")));

    // A stub signed before packing: its signature could cover only the
    // stub, and an installer takes no payload from behind a signed stub's
    // table, so the packer removes the signature, says so, and the finished
    // installer is signed instead.
    const std::string sign_stub = "osslsigncode sign -certs " + quoted(data + "signing-test-cert.pem") + " -key " +
                                  quoted(data + "signing-test-key.pem") + " -in " + quoted(path("stub.exe").string()) +
                                  " -out " + quoted(stub_.string()) + " >/dev/null 2>&1";
    write_file(path("stub.exe"), minimal_pe());
    fs::remove(stub_);
    ASSERT_EQ(std::system(sign_stub.c_str()), 0) << sign_stub;
    const Bytes signed_stub = read_file(stub_);
    const auto stub_table = pe_certificate_table(signed_stub);
    ASSERT_TRUE(stub_table.has_value());
    auto built = build(path("addon"), path("late.exe"));
    ASSERT_EQ(built.status, 0) << built.output;
    EXPECT_NE(built.output.find("is signed: its signature was removed"), std::string::npos) << built.output;
    EXPECT_NE(built.output.find("sign the finished installer"), std::string::npos) << built.output;
    const Bytes late = read_file(path("late.exe"));
    EXPECT_FALSE(pe_certificate_table(late).has_value());
    Bytes stub_unsigned(signed_stub.begin(), signed_stub.begin() + ptrdiff_t(stub_table->offset));
    std::fill_n(stub_unsigned.begin() + ptrdiff_t(stub_table->directory_entry), 8, uint8_t(0));
    EXPECT_TRUE(std::equal(stub_unsigned.begin(), stub_unsigned.end(), late.begin()))
        << "the stub without its table and its directory entry";
    EXPECT_EQ(run_lumopack({"test", path("late.exe").string()}).status, 0);
    const std::string sign_late = "osslsigncode sign -certs " + quoted(data + "signing-test-cert.pem") + " -key " +
                                  quoted(data + "signing-test-key.pem") + " -in " + quoted(path("late.exe").string()) +
                                  " -out " + quoted(path("late-signed.exe").string()) + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(sign_late.c_str()), 0) << sign_late;
    EXPECT_EQ(run_lumopack({"test", path("late-signed.exe").string()}).status, 0);
}

bool begins_with(const Bytes& file, const Bytes& start) {
    return file.size() > start.size() && std::equal(start.begin(), start.end(), file.begin());
}

// Run from its build tree, lumopack takes the stubs of this build and of the
// Windows builds; without --target it makes a 32-bit Windows installer.
TEST_F(LumopackTest, TargetsTakeTheStubsOfTheBuildsAndTheDefaultIsWindowsX86) {
    fill_addon(path("addon"));
    struct Case {
        std::vector<std::string> option;
        fs::path stub;
    } cases[] = {
        {{}, LUMO_STUB_WINDOWS_X86},
        {{"--target", "windows-x64"}, LUMO_STUB_WINDOWS_X64},
        {{"--target=posix"}, LUMO_STUB_PATH},
    };
    const std::string help = run_lumopack({"--help"}).output;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stub.string());
        std::vector<std::string> args = {"build", path("addon").string(), "-o", path("addon.run").string(), "--level", "1"};
        args.insert(args.end(), c.option.begin(), c.option.end());
        auto built = run_lumopack(args);
        ASSERT_EQ(built.status, 0) << built.output;
        EXPECT_TRUE(begins_with(read_file(path("addon.run")), read_file(c.stub)));
        EXPECT_TRUE((fs::status(path("addon.run")).permissions() & fs::perms::owner_exec) != fs::perms::none);
        EXPECT_NE(help.find("\n               " + c.stub.string() + "\n"), std::string::npos) << help;
    }
}

// A copy of lumopack elsewhere is an installed one: it looks only in
// ../lib/lumopack/ from its real file (never beside it, nor in the build
// tree it came from, nor through the link it was started by), it takes no
// file there that is not a stub of the target's kind, and it names the stub
// it used with its SHA-256.
TEST_F(LumopackTest, InstalledCopyTakesOnlyTheStubsInstalledWithIt) {
    fill_addon(path("addon"));
    const fs::path bin = path("prefix/bin"), lib = path("prefix/lib/lumopack");
    fs::create_directories(bin);
    fs::create_directories(lib);
    const fs::path copy = bin / "lumopack";
    fs::copy_file(LUMOPACK_PATH, copy);
    // The 64-bit stub under the 32-bit one's name; the 64-bit and POSIX ones
    // beside the program, where an installed copy never looks.
    fs::copy_file(LUMO_STUB_WINDOWS_X64, lib / "lumo-stub-windows-x86.exe");
    fs::copy_file(LUMO_STUB_WINDOWS_X64, bin / "lumo-stub-windows-x64.exe");
    fs::copy_file(LUMO_STUB_PATH, bin / "lumo-stub-posix");
    // Started through a link in another folder, it still looks beside its
    // real file.
    fs::create_directories(path("elsewhere/lib/lumopack"));
    fs::copy_file(LUMO_STUB_PATH, path("elsewhere/lib/lumopack/lumo-stub-posix"));
    fs::create_directories(path("elsewhere/bin"));
    fs::create_symlink(copy, path("elsewhere/bin/lumopack"));

    for (const fs::path& started : {copy, path("elsewhere/bin/lumopack")}) {
        SCOPED_TRACE(started.string());
        const std::string help = run_lumopack({"--help"}, false, started.string()).output;
        EXPECT_NE(help.find("\n               " + (lib / "lumo-stub-windows-x86.exe").string() + "\n"), std::string::npos)
            << help;
        EXPECT_NE(help.find("not found: " + (lib / "lumo-stub-windows-x64.exe").string()), std::string::npos) << help;
        EXPECT_NE(help.find("not found: " + (lib / "lumo-stub-posix").string()), std::string::npos) << help;
        EXPECT_NE(help.find("stubs are taken only from " + lib.string()), std::string::npos) << help;
        EXPECT_EQ(help.find(fs::path(LUMO_STUB_PATH).parent_path().string()), std::string::npos) << help;
        EXPECT_EQ(help.find("elsewhere"), std::string::npos) << help;
    }

    const auto build_with = [&](const std::string& target) {
        return run_lumopack({"build", path("addon").string(), "-o", path("addon.exe").string(), "--target", target},
                            false, copy.string());
    };
    auto wrong_kind = build_with("windows-x86");
    EXPECT_EQ(wrong_kind.status, 1);
    EXPECT_NE(wrong_kind.output.find("not a stub for the target windows-x86"), std::string::npos) << wrong_kind.output;
    EXPECT_FALSE(fs::exists(path("addon.exe")));

    for (const char* target : {"posix", "windows-x64"}) {
        auto missing = build_with(target);
        EXPECT_EQ(missing.status, 1);
        const std::string file = std::string("lumo-stub-") + target + (target[0] == 'w' ? ".exe" : "");
        EXPECT_NE(missing.output.find(std::string("no stub for the target ") + target + " (looked for " +
                                      (lib / file).string() + "); name one with --stub PATH"),
                  std::string::npos)
            << missing.output;
        EXPECT_FALSE(fs::exists(path("addon.exe")));
    }

    // Started by its bare name through PATH, from a folder where someone
    // left a stub of the installed name: that one is never taken.
    fs::copy_file(LUMO_STUB_PATH, path("lumo-stub-posix"));
    const std::string planted = "cd " + quoted(root_.string()) + " && PATH=" + quoted(bin.string()) +
                                ":/usr/bin:/bin lumopack build addon -o planted.run --target posix >/dev/null 2>&1";
    const int status = std::system(planted.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_FALSE(fs::exists(path("planted.run")));

    fs::copy_file(LUMO_STUB_PATH, lib / "lumo-stub-posix");
    auto installed = build_with("posix");
    ASSERT_EQ(installed.status, 0) << installed.output;
    EXPECT_TRUE(begins_with(read_file(path("addon.exe")), read_file(LUMO_STUB_PATH)));
    const std::string digest = run_lumopack({LUMO_STUB_PATH}, false, "sha256sum").output.substr(0, 64);
    EXPECT_NE(installed.output.find("stub: " + (lib / "lumo-stub-posix").string() + ", SHA-256 " + digest + "\n"),
              std::string::npos)
        << installed.output;
}

// Windows gives a long name an 8.3 alias; an entry named like it beside the
// long one opens the other file there, or cannot be written.
TEST(ShortNameAlias, NamesOfAnAliasFormBesideTheirLongName) {
    const struct Case {
        const char* name;
        std::vector<std::string> others;
        const char* long_name;  // null: no warning
    } cases[] = {
        {"README~1.TXT", {"Readme-first.txt"}, "Readme-first.txt"},         // NTFS
        {"read~dl5.txt", {"notes.txt", "Readme-first.txt"}, "Readme-first.txt"},  // Wine, any case
        {"ab~~~k2q.txt", {"ab-long-name.txt"}, "ab-long-name.txt"},          // Wine, a short start
        {"README~1.TXT", {"Read me first.txt"}, "Read me first.txt"},        // spaces left out
        {"PROGRA~1", {"Program Files"}, "Program Files"},                    // no extension
        {"README~1.HTM", {"Readme-first.html"}, "Readme-first.html"},        // three of the extension
        {"SETUP~12.EXE", {"Setup-helper.exe"}, "Setup-helper.exe"},
        {"README.TXT", {"Readme-first.txt"}, nullptr},                       // a plain 8.3 name
        {"README~1.TXT", {"README.TXT"}, nullptr},                           // an 8.3 name has no alias
        {"README~1.TXT", {"Readme-first.doc"}, nullptr},                     // another extension
        {"README~1.TXT", {"Other-notes.txt"}, nullptr},                      // another start
        {"MY~FILE.TXT", {"My-long-file.txt"}, nullptr},                      // "~" and letters: no alias's form
        {"README~A.TXT", {"Readme-first.txt"}, nullptr},
        {"Readme~1.txt.bak", {"Readme-first.txt.bak"}, nullptr},             // not an 8.3 name
        {"~1.TXT", {"Readme-first.txt"}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<std::string> found = aliased_long_name(c.name, c.others);
        if (c.long_name) {
            ASSERT_TRUE(found.has_value());
            EXPECT_EQ(*found, c.long_name);
        } else {
            EXPECT_FALSE(found.has_value()) << *found;
        }
    }
}

// build warns about such a name, beside its long name in the same folder
// only, and --strict-names refuses it.
TEST_F(LumopackTest, NamesOfAnotherEntrysShortNameAreWarnedAboutOrRefused) {
    const fs::path folder = path("addon");
    write_file(folder / "Setup.exe", std::string("setup"));
    write_file(folder / "Docs" / "Readme-first.txt", std::string("long"));
    write_file(folder / "Docs" / "README~1.TXT", std::string("alias"));
    write_file(folder / "Docs" / "README.TXT", std::string("plain"));
    write_file(folder / "Other" / "read~dl5.txt", std::string("elsewhere"));

    auto warned = build(folder, path("warned.run"));
    ASSERT_EQ(warned.status, 0) << warned.output;
    EXPECT_NE(warned.output.find("lumopack build: warning: Docs/README~1.TXT: the name has the form of the short name "
                                 "Windows may give Docs/Readme-first.txt; where it does, the installer cannot write "
                                 "both\n"),
              std::string::npos)
        << warned.output;
    EXPECT_EQ(warned.output.find("README.TXT:"), std::string::npos) << warned.output;
    EXPECT_EQ(warned.output.find("read~dl5"), std::string::npos) << warned.output;

    auto refused = build(folder, path("refused.run"), {"--strict-names"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("names Windows may take for another's short name, refused by --strict-names: "
                                  "Docs/README~1.TXT (beside Docs/Readme-first.txt)"),
              std::string::npos)
        << refused.output;
    EXPECT_FALSE(fs::exists(path("refused.run")));
}

// Names outside ASCII are right only on systems whose code page is 1252:
// build names each one, and refuses them with --strict-names.
TEST_F(LumopackTest, NamesOutsideAsciiAreWarnedAboutOrRefused) {
    const fs::path folder = path("addon");
    write_file(folder / "Setup.exe", std::string("setup"));
    write_file(folder / "plain.txt", std::string("plain"));
    write_file(folder / "Caf\xC3\xA9.txt", std::string("accent"));
    write_file(folder / "Sub" / "na\xC3\xAFve.txt", std::string("diaeresis"));

    auto warned = build(folder, path("warned.run"));
    ASSERT_EQ(warned.status, 0) << warned.output;
    std::vector<std::string> named;
    std::istringstream lines(warned.output);
    for (std::string line; std::getline(lines, line);)
        if (line.find("outside ASCII") != std::string::npos) named.push_back(line);
    ASSERT_EQ(named.size(), 2u) << warned.output;
    EXPECT_EQ(named[0].rfind("lumopack build: warning: Caf\xC3\xA9.txt: ", 0), 0u) << named[0];
    EXPECT_EQ(named[1].rfind("lumopack build: warning: Sub/na\xC3\xAFve.txt: ", 0), 0u) << named[1];
    EXPECT_NE(named[0].find("code page is 1252"), std::string::npos) << named[0];

    auto refused = build(folder, path("refused.run"), {"--strict-names"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("--strict-names"), std::string::npos) << refused.output;
    EXPECT_NE(refused.output.find("Caf\xC3\xA9.txt, Sub/na\xC3\xAFve.txt"), std::string::npos) << refused.output;
    EXPECT_FALSE(fs::exists(path("refused.run")));

    fs::remove(folder / "Caf\xC3\xA9.txt");
    fs::remove_all(folder / "Sub");
    auto plain = build(folder, path("plain.run"), {"--strict-names"});
    EXPECT_EQ(plain.status, 0) << plain.output;
    EXPECT_EQ(plain.output.find("outside ASCII"), std::string::npos) << plain.output;

    // A name that a right-to-left override would show as "reportexe.txt"
    // cannot be stored; the refusal shows it as it is.
    write_file(folder / "report\xE2\x80\xAEtxt.exe", std::string("spoof"));
    auto spoofed = build(folder, path("spoofed.run"));
    EXPECT_EQ(spoofed.status, 1);
    EXPECT_NE(spoofed.output.find("report\\u202Etxt.exe: "), std::string::npos) << spoofed.output;
    EXPECT_EQ(spoofed.output.find("\xE2\x80\xAE"), std::string::npos) << spoofed.output;
}

}  // namespace
}  // namespace lumo::testing
