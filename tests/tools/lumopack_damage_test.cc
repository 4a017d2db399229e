// Damaged installers: list, test and extract name what is wrong, extract
// keeps what it wrote before the damage and never writes outside its folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <thread>

#include "payload/container.h"
#include "payload/installer_layout.h"
#include "tests/tools/lumopack_fixture.h"
#include "tools/lumopack/container_writer.h"
#include "tools/lumopack/packer.h"

namespace lumo::testing {
namespace {

const std::string corrupt_text = "Error in installationdata! The installprogram is corrupted";

class DamagedInstallerTest : public LumopackTest {
protected:
    // Packs `files` the way lumopack does, after `damage` has altered the
    // sealed image, and writes the installer.
    fs::path make(const std::vector<ContainerFileData>& files, void (*damage)(Bytes& image) = nullptr) {
        auto image = build_container_image(files);
        EXPECT_TRUE(image.has_value());
        if (damage) damage(*image);
        const Bytes stub = read_file(stub_);
        const InstallerPieces pieces = make_installer(stub, *image, EncoderOptions{});
        const fs::path installer = path("damaged.run");
        write_file_atomically(installer, pieces.in_order());
        return installer;
    }

    const Bytes one = random_bytes(5000, 1), two = random_bytes(7000, 2), three = random_bytes(9000, 3),
                four = random_bytes(100, 4);
    std::vector<ContainerFileData> files() const {
        return {{"Setup.cfg", one}, {"Setup.exe", two}, {"sub\\third.bin", three}, {"fourth.bin", four}};
    }
};

// The image offset of the n-th file's data, as the writer lays them out.
size_t data_offset(const Bytes& image, int n) {
    size_t entry = image_header_size;
    for (int i = 0; i < n; ++i) entry += directory_entry_size + (image[entry] | image[entry + 1] << 8);
    uint32_t offset;
    std::memcpy(&offset, image.data() + entry + entry_data_offset_offset, 4);
    return offset;
}

TEST_F(DamagedInstallerTest, BadThirdEntryIsNamedAndTheFirstTwoStayExtracted) {
    const fs::path installer = make(files(), [](Bytes& image) { image[data_offset(image, 2) + 10] ^= 1; });

    auto listed = run_lumopack({"list", installer.string()});
    EXPECT_EQ(listed.status, 0) << "the directory itself is sound: " << listed.output;

    auto tested = run_lumopack({"test", installer.string()});
    EXPECT_EQ(tested.status, 1);
    EXPECT_NE(tested.output.find(corrupt_text), std::string::npos) << tested.output;
    EXPECT_NE(tested.output.find("\"sub/third.bin\""), std::string::npos) << tested.output;

    const fs::path out = path("out");
    auto extracted = run_lumopack({"extract", installer.string(), "-C", out.string()});
    EXPECT_EQ(extracted.status, 1);
    EXPECT_NE(extracted.output.find("\"sub/third.bin\""), std::string::npos) << extracted.output;
    const auto tree = read_tree(out);
    EXPECT_EQ(tree.size(), 2u);
    EXPECT_TRUE(tree.count("Setup.cfg") && tree.at("Setup.cfg") == one);
    EXPECT_TRUE(tree.count("Setup.exe") && tree.at("Setup.exe") == two);
}

TEST_F(DamagedInstallerTest, DamageBeforeTheFilesFailsEveryCommandAndWritesNothing) {
    struct Case {
        const char* what;
        void (*damage)(Bytes& image);
    };
    const Case cases[] = {
        {"signature", [](Bytes& image) { image[5] ^= 0x20; }},
        {"header checksum", [](Bytes& image) { image[30] = 1; }},
        {"directory", [](Bytes& image) { image[image_header_size + directory_entry_size + 2] ^= 1; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path installer = make(files(), c.damage);
        const fs::path out = path(std::string("out-") + c.what);
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"list", installer.string()}, std::vector<std::string>{"test", installer.string()},
              std::vector<std::string>{"extract", installer.string(), "-C", out.string()}}) {
            auto result = run_lumopack(args);
            EXPECT_EQ(result.status, 1) << args[0];
            EXPECT_NE(result.output.find(corrupt_text), std::string::npos) << args[0] << ": " << result.output;
        }
        EXPECT_TRUE(!fs::exists(out) || read_tree(out).empty());
    }
}

TEST_F(DamagedInstallerTest, DamagedFileLayoutIsNotAnInstaller) {
    const fs::path installer = make(files());
    const Bytes good = read_file(installer);
    struct Case {
        const char* what;
        Bytes bytes;
    };
    Bytes flipped_stream = good;
    flipped_stream[read_file(stub_).size() + 8 + 20] ^= 0x55;
    const Case cases[] = {
        {"truncated", Bytes(good.begin(), good.end() - 3)},
        {"trailer magic", [&] { Bytes b = good; b.back() = '9'; return b; }()},
        {"packed stream", flipped_stream},
        {"only the stub", read_file(stub_)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write_file(installer, c.bytes);
        auto tested = run_lumopack({"test", installer.string()});
        EXPECT_EQ(tested.status, 1);
        EXPECT_NE(tested.output.find(corrupt_text), std::string::npos) << tested.output;
    }
}

// Four hundred damaged copies of one installer, damaged where the installer
// reads (the stored payload and the trailer; the stream's last word, which
// holds the padding bits that no symbol reads, is spared): lumopack test
// passes none of them. A raised unpacked size is the damage that the image's
// own checks cannot see; there the decoder runs on past the stream's end.
TEST_F(DamagedInstallerTest, NoneOfFourHundredDamagedInstallersPassesTest) {
    const Bytes good = read_file(make(files()));
    const size_t payload = read_file(stub_).size(), stream = payload + 8;
    const size_t packed = good[payload] | good[payload + 1] << 8 | good[payload + 2] << 16 | size_t(good[payload + 3]) << 24;
    const size_t trailer = good.size() - 16;
    ASSERT_EQ(run_lumopack({"test", path("damaged.run").string()}).status, 0);
    const auto get_u32 = [](const Bytes& b, size_t at) {
        return uint32_t(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24);
    };
    const auto set_u32 = [](Bytes& b, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
    };

    std::mt19937 random(14);
    const auto below = [&](size_t n) { return size_t(random() % n); };
    struct Damage {
        const char* what;
        std::function<void(Bytes&)> apply;
    };
    const Damage kinds[] = {
        {"bit flipped in the size header", [&](Bytes& b) { b[payload + below(8)] ^= uint8_t(1 << below(8)); }},
        {"bit flipped in the stream", [&](Bytes& b) { b[stream + below(packed - 4)] ^= uint8_t(1 << below(8)); }},
        {"bit flipped in the trailer", [&](Bytes& b) { b[trailer + below(16)] ^= uint8_t(1 << below(8)); }},
        {"unpacked size raised",
         [&](Bytes& b) { set_u32(b, payload + 4, get_u32(b, payload + 4) + 1 + uint32_t(below(size_t(1) << below(23)))); }},
        {"unpacked size lowered",
         [&](Bytes& b) { set_u32(b, payload + 4, get_u32(b, payload + 4) - 1 - uint32_t(below(size_t(1) << below(14)))); }},
        {"unpacked size replaced", [&](Bytes& b) { set_u32(b, payload + 4, uint32_t(random())); }},
        {"bytes of the stream overwritten",
         [&](Bytes& b) {
             const size_t at = stream + below(packed - 20);
             for (size_t n = 1 + below(16); n > 0; --n) b[at + n] = uint8_t(random());
         }},
        {"file cut after the stub", [&](Bytes& b) { b.resize(payload + below(b.size() - payload)); }},
    };
    constexpr int runs = 400;
    std::vector<std::string> passed;
    for (int run = 0; run < runs; ++run) {
        const Damage& kind = kinds[run % std::size(kinds)];
        Bytes damaged = good;
        kind.apply(damaged);
        if (damaged == good) kind.apply(damaged);  // a write of the same byte; once more
        ASSERT_NE(damaged, good) << kind.what;
        write_file(path("damaged.run"), damaged);
        if (run_lumopack({"test", path("damaged.run").string()}).status == 0)
            passed.push_back(std::to_string(run) + ": " + kind.what);
    }
    std::string shown;
    for (const auto& line : passed) shown += line + "\n";
    EXPECT_TRUE(passed.empty()) << passed.size() << " of " << runs << " damaged installers pass:\n" << shown;
}

// An installer of 8 KB that claims a container of almost 4 GiB: refused
// before anything is reserved. The packed stream cannot hold that much, so
// the readers need not try. Run with 1 GiB of address space where the build
// allows a limit (the sanitizers reserve terabytes for themselves).
TEST_F(DamagedInstallerTest, HugeUnpackedSizeIsRefusedWithoutReservingIt) {
    Bytes installer = read_file(stub_);
    Bytes stored = random_bytes(8000, 5);
    const uint32_t packed = uint32_t(stored.size() - 8);
    for (int i = 0; i < 4; ++i) {
        stored[i] = uint8_t(packed >> (8 * i));
        stored[4 + i] = uint8_t(0xFFFFFFF0u >> (8 * i));
    }
    ASSERT_TRUE(append_stored_payload(installer, stored));
    write_file(path("huge.run"), installer);
    ASSERT_LT(installer.size(), 8200u);
#if defined(__SANITIZE_ADDRESS__)
    const std::string limit;
#else
    const std::string limit = "ulimit -v 1048576 && ";
#endif
    for (const std::string command : {"list", "test", "extract"}) {
        SCOPED_TRACE(command);
        const std::string line = limit + quoted(LUMOPACK_PATH) + " " + command + " " + quoted(path("huge.run").string()) +
                                 (command == "extract" ? " -C " + quoted(path("out").string()) : "") + " 2>&1";
        FILE* pipe = popen(line.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string output;
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
        const int status = pclose(pipe);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << output;
        EXPECT_NE(output.find(corrupt_text), std::string::npos) << output;
        EXPECT_NE(output.find("4294967280 bytes, is more than a packed stream of 7992 bytes can hold"), std::string::npos)
            << output;
    }
}

TEST_F(DamagedInstallerTest, UnsafeNamesFromAnotherPackerAreNeverWritten) {
    const Bytes evil = {'e', 'v', 'i', 'l'};
    for (const char* name : {"..\\escaped.txt", "sub\\..\\..\\escaped.txt", "/tmp/escaped.txt", "C:escaped.txt",
                             "NUL", "ok.txt:stream"}) {
        SCOPED_TRACE(name);
        const fs::path installer = make({{"Setup.exe", one}, {name, evil}});
        const fs::path out = path("deep") / "out";
        auto tested = run_lumopack({"test", installer.string()});
        EXPECT_EQ(tested.status, 1);
        EXPECT_NE(tested.output.find("unsafe name"), std::string::npos) << tested.output;
        auto extracted = run_lumopack({"extract", installer.string(), "-C", out.string()});
        EXPECT_EQ(extracted.status, 1);
        EXPECT_FALSE(fs::exists(path("deep") / "escaped.txt"));
        EXPECT_FALSE(fs::exists(path("escaped.txt")));
        EXPECT_EQ(read_tree(path("deep")).size(), 1u) << "only Setup.exe";
        fs::remove_all(path("deep"));
    }
}

// Names that would steer a terminal: list, test and extract print them
// escaped, and nothing but line feeds of their own reaches the output below
// U+0020, nor any C1 control. Windows-1252's undefined bytes 0x81, 0x8D,
// 0x8F, 0x90 and 0x9D stand for C1 controls (0x9D is OSC, 0x90 DCS).
TEST_F(DamagedInstallerTest, NamesCannotSteerTheTerminal) {
    const Bytes data = {'x'};
    const std::vector<ContainerFileData> files = {
        {"Setup.exe", one},
        {"Caf\xE9 \x80 \xF1.txt", data},  // Windows-1252: letters and the euro sign, readable
        {"\x1B[2J\x1B[Hspoof.txt", data},
        {"evil\rSetup.cfg", data},
        {"clip\x1B]52;c;cm0gLXJmIH4K\x07.txt", data},
        {"c1\x9D" "0;title\x9C\x90.txt", data},
        {"del\x7F.txt", data},
    };
    const fs::path installer = make(files);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"list", installer.string()},
                                                 std::vector<std::string>{"test", installer.string()},
                                                 std::vector<std::string>{"extract", installer.string(), "-C",
                                                                          path("out").string()}}) {
        SCOPED_TRACE(args[0]);
        const RunResult result = run_lumopack(args);
        for (size_t i = 0; i < result.output.size(); ++i) {
            const uint8_t c = uint8_t(result.output[i]);
            EXPECT_TRUE((c >= 0x20 && c != 0x7F) || c == '\n') << "byte " << int(c) << " at " << i << ":\n"
                                                                  << result.output;
            if (c == 0xC2 && i + 1 < result.output.size()) {
                const uint8_t next = uint8_t(result.output[i + 1]);
                EXPECT_FALSE(next >= 0x80 && next < 0xA0) << "a C1 control at " << i;
            }
        }
        if (args[0] == "list") {
            EXPECT_EQ(result.status, 0);
            for (const char* shown : {"Caf\xC3\xA9 \xE2\x82\xAC \xC3\xB1.txt", "\\x1B[2J\\x1B[Hspoof.txt",
                                      "evil\\x0DSetup.cfg", "clip\\x1B]52;c;cm0gLXJmIH4K\\x07.txt",
                                      "c1\\u009D0;title\xC5\x93\\u0090.txt", "del\\x7F.txt"})
                EXPECT_NE(result.output.find(shown), std::string::npos) << shown << " in\n" << result.output;
        } else {
            EXPECT_EQ(result.status, 1);
            EXPECT_NE(result.output.find("\"\\x1B[2J\\x1B[Hspoof.txt\": unsafe name"), std::string::npos)
                << result.output;
        }
    }
}

// Links and hard links left in the target folder by someone else: extract
// never follows one, never writes through one, and a file in an entry's
// place is replaced, so that its other names keep their contents.
TEST_F(DamagedInstallerTest, ExtractWritesOnlyBelowItsFolder) {
    const Bytes theirs = {'t', 'h', 'e', 'i', 'r', 's'};
    struct Case {
        const char* what;
        const char* entry;
        std::function<void(const fs::path& out, const fs::path& elsewhere)> plant;
        int status;
    };
    const Case cases[] = {
        {"a link in place of the entry's folder", "sub\\file.txt",
         [](const fs::path& out, const fs::path& elsewhere) { fs::create_directory_symlink(elsewhere, out / "sub"); }, 1},
        {"a link deeper on the way", "a\\b\\file.txt",
         [](const fs::path& out, const fs::path& elsewhere) {
             fs::create_directories(out / "a");
             fs::create_directory_symlink(elsewhere, out / "a" / "b");
         }, 1},
        {"a link to a file in place of the entry's folder", "sub\\file.txt",
         [](const fs::path& out, const fs::path& elsewhere) { fs::create_symlink(elsewhere / "victim.txt", out / "sub"); },
         1},
        {"a link in place of the file", "file.txt",
         [](const fs::path& out, const fs::path& elsewhere) { fs::create_symlink(elsewhere / "victim.txt", out / "file.txt"); },
         0},
        {"a link to nowhere in place of the file", "file.txt",
         [](const fs::path& out, const fs::path& elsewhere) { fs::create_symlink(elsewhere / "created.txt", out / "file.txt"); },
         0},
        {"a hard link in place of the file", "file.txt",
         [](const fs::path& out, const fs::path& elsewhere) { fs::create_hard_link(elsewhere / "victim.txt", out / "file.txt"); },
         0},
        {"a folder in place of the file", "file.txt",
         [](const fs::path& out, const fs::path&) { fs::create_directories(out / "file.txt" / "x"); }, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path out = path("out"), elsewhere = path("elsewhere");
        fs::remove_all(out);
        fs::remove_all(elsewhere);
        fs::create_directories(out);
        write_file(elsewhere / "victim.txt", theirs);
        c.plant(out, elsewhere);
        const auto before = read_tree(elsewhere);
        const fs::path installer = make({{c.entry, one}});

        auto extracted = run_lumopack({"extract", installer.string(), "-C", out.string()});
        EXPECT_EQ(extracted.status, c.status) << extracted.output;
        EXPECT_TRUE(read_tree(elsewhere) == before) << "written outside the folder";
        EXPECT_FALSE(fs::exists(elsewhere / "created.txt"));
        if (c.status == 0) {
            EXPECT_FALSE(fs::is_symlink(out / "file.txt"));
            EXPECT_EQ(fs::hard_link_count(out / "file.txt"), 1u);
            EXPECT_EQ(read_file(out / "file.txt"), one);
        } else {
            std::string shown = c.entry;
            std::replace(shown.begin(), shown.end(), '\\', '/');
            EXPECT_NE(extracted.output.find(shown), std::string::npos) << extracted.output;
        }
    }
}

// Another process swaps the entries' folder for a link to a folder outside
// and back, or a file for a link to a file outside and back, while extract
// runs again and again: whatever a run answers, nothing lands outside. A
// check of the path followed by an open of the path loses this race.
TEST_F(DamagedInstallerTest, ExtractRacingLinkSwapsWritesNothingOutside) {
    // Names and places, numbered: f0.txt .. f99.txt.
    const auto numbered = [](const char* stem, int i, const char* suffix) {
        return std::string(stem).append(std::to_string(i)).append(suffix);
    };
    constexpr int count = 100;
    std::vector<ContainerFileData> files;
    std::vector<std::string> names, places, victims;
    const fs::path out = path("out"), elsewhere = path("elsewhere");
    for (int i = 0; i < count; ++i) {
        names.push_back(numbered("sub\\deeper\\f", i, ".txt"));
        places.push_back((out / "sub" / "deeper" / numbered("f", i, ".txt")).string());
        victims.push_back((elsewhere / "deeper" / numbered("f", i, ".txt")).string());
    }
    for (const auto& name : names) files.push_back({name, four});
    const fs::path installer = make(files);
    fs::create_directories(out / "sub" / "deeper");
    for (const auto& victim : victims) write_file(victim, Bytes{'v'});
    const auto before = read_tree(elsewhere);
    // The attacker swaps a place and a link for each other in one step, so
    // that the place is never missing: a link for a moment, then itself.
    const auto swap = [](const std::string& a, const std::string& b) {
        return renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
    };
    const std::string sub = (out / "sub").string(), link = (out / "link").string();
    fs::create_directory_symlink(elsewhere, link);
    ASSERT_TRUE(swap(sub, link) && swap(sub, link)) << "the file system swaps names";
    std::vector<std::string> file_links;
    for (int i = 0; i < count; ++i) {
        file_links.push_back((out / numbered("link", i, "")).string());
        fs::create_symlink(victims[i], file_links.back());
    }

    struct Attack {
        const char* what;
        std::function<void(unsigned round)> step;
    };
    const Attack attacks[] = {
        {"the folder swapped for a link",
         [&](unsigned) {
             swap(sub, link);
             sched_yield();
             swap(sub, link);
             sched_yield();
         }},
        {"a file swapped for a link",
         [&](unsigned round) {
             const int i = int(round % count);
             swap(places[i], file_links[i]);
             sched_yield();
             swap(places[i], file_links[i]);
         }},
    };
    for (const auto& attack : attacks) {
        SCOPED_TRACE(attack.what);
        std::atomic<bool> done = false;
        std::thread attacker([&] {
            for (unsigned round = 0; !done; ++round) attack.step(round);
        });
        int succeeded = 0, refused = 0;
        for (int run = 0; run < 30; ++run) {
            const auto result = run_lumopack({"extract", installer.string(), "-C", out.string()});
            (result.status == 0 ? succeeded : refused) += 1;
        }
        done = true;
        attacker.join();
        std::printf("%s: %d runs went through, %d were refused\n", attack.what, succeeded, refused);
        EXPECT_TRUE(read_tree(elsewhere) == before) << "written outside the folder";
        EXPECT_EQ(read_tree(elsewhere).size(), before.size());
    }
}

}  // namespace
}  // namespace lumo::testing
