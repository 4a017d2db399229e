// The i686 build, the one that ships (lumopack's default target), under
// Wine's 32-bit half. Where this machine's kernel runs no 32-bit program,
// CTest runs these cases in the emulated machine (scripts/vm/run.sh); they
// are the same program's cases either way.
#include "installer_under_wine.h"

namespace lumo::wine {
namespace {

class I686UnderWine : public InstallerUnderWine {
protected:
    void SetUp() override {
        ASSERT_TRUE(runs_32bit_programs()) << no_32bit_programs << ": run these cases in the emulated machine";
        ASSERT_TRUE(fs::exists(stub32)) << stub32 << " is missing: build the mingw32 preset first";
        InstallerUnderWine::SetUp();
    }
};

// Samples (audio mode), text (matches of every kind) and noise (literals),
// through the 32-bit decoder and checksums, land byte for byte, and the
// setup program starts from the staging folder.
TEST_F(I686UnderWine, InstallerWritesEveryFileByteForByte) {
    const auto text = [](const test::Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); };
    const std::map<std::string, std::string> files = {
        {"Sounds/stereo.wav", text(test::wav_file(300000, 2, 1))},
        {"Sounds/mono.wav", text(test::wav_file(100000, 1, 2))},
        {"docs/words.txt", text(test::word_text(400000, 3))},
        {"data/noise.bin", noise(200000, 4)},
    };
    const fs::path installer = build_installer("i686", files, stub32);

    EXPECT_EQ(run_and_confirm(installer, {}, 300), "") << "no message box on success";
    EXPECT_NE(setup_record(120).find("command=\"" + staging_windows_path() + "Setup.exe\"\n"), std::string::npos);
    for (const auto& [path, content] : files)
        EXPECT_TRUE(read_file(staging_ / fs::u8path(path)) == content) << path << " differs";
    EXPECT_TRUE(read_file(staging_ / "Setup.exe") == read_file(helpers / "setup_standin.exe")) << "Setup.exe differs";
}

// A damaged stream: the one message, in the user's language, and nothing
// under the damaged entry's name, no setup program started.
TEST_F(I686UnderWine, DamagedPayloadShowsTheMessageAndStartsNothing) {
    const fs::path installer = build_installer("i686-corrupt", {{"payload.bin", noise(200000, 2)}}, stub32);
    corrupt_packed_stream(installer);
    EXPECT_EQ(run_and_confirm(installer, {}, 300), "count=1\n" LUMO_STR2_EN "\n");
    EXPECT_FALSE(fs::exists(staging_ / "setup-started.txt"));
    EXPECT_FALSE(fs::exists(staging_ / "payload.bin")) << "a damaged entry is never written";
}

// The 32-bit lumopack.exe, the one in the Windows zip, packs what the host's
// packer packs, byte for byte.
TEST_F(I686UnderWine, PackerBuildsTheSameInstallerBytesAsTheHostPacker) {
    expect_windows_packer_matches_host(windows32_build);
}

}  // namespace
}  // namespace lumo::wine
