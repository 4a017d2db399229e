// Damaged installers: list, test and extract name what is wrong, extract
// keeps what it wrote before the damage and never writes outside its folder.
#include <gtest/gtest.h>

#include <cstring>

#include "payload/container.h"
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

TEST_F(DamagedInstallerTest, ExtractDoesNotFollowLinksInTheTargetFolder) {
    const fs::path installer = make({{"sub\\file.txt", one}});
    const fs::path out = path("out");
    fs::create_directories(out);
    fs::create_directories(path("elsewhere"));
    fs::create_directory_symlink(path("elsewhere"), out / "sub");
    auto extracted = run_lumopack({"extract", installer.string(), "-C", out.string()});
    EXPECT_EQ(extracted.status, 1);
    EXPECT_NE(extracted.output.find("sub/file.txt"), std::string::npos) << extracted.output;
    EXPECT_FALSE(fs::exists(path("elsewhere") / "file.txt"));
}

}  // namespace
}  // namespace lumo::testing
