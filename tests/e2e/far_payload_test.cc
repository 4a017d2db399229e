// The POSIX installer whose stored payload lies past 2 GiB into its file,
// the hole before it sparse: the installer finds, reads and unpacks it as
// any other. Its own file of more than 2 GiB is what a 32-bit build without
// 64-bit file offsets cannot open or read, so the 32-bit build (preset
// posix32) runs its stub under qemu-i386 here.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "image_builder.h"
#include "installer_process.h"
#include "payload/installer_layout.h"
#include "zero_run_stream.h"

namespace lumo {
namespace {

using namespace lumo::test;

const char* const recording_setup =
    "#!/bin/sh\n"
    "pwd > \"$TMPDIR/../setup-record.part\"\n"
    "mv \"$TMPDIR/../setup-record.part\" \"$TMPDIR/../setup-record\"\n";

// Writes the stub, then the stored payload and its tail from `offset` on.
void write_installer(const fs::path& path, uint64_t offset, const std::vector<uint8_t>& stored) {
    const std::string stub = read_file(LUMO_STUB_PATH);
    const std::optional<std::vector<uint8_t>> tail = installer_tail(offset, stored.size());
    ASSERT_TRUE(tail);
    std::vector<uint8_t> payload = stored;
    payload.insert(payload.end(), tail->begin(), tail->end());
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(pwrite(fd, stub.data(), stub.size(), 0), ssize_t(stub.size()));
    EXPECT_EQ(pwrite(fd, payload.data(), payload.size(), off_t(offset)), ssize_t(payload.size()));
    close(fd);
}

TEST(FarPayload, InstallerOfMoreThan2GiBWritesEveryFileAndStartsTheSetupProgram) {
    InstallerFolders folders;
    const std::string readme = "Read me.\n";
    const std::string zeros(300000, '\0');
    const BuiltImage image = build_image({{"Setup.exe", recording_setup}, {"Readme.txt", readme},
                                          {"Sounds\\Zeros.bin", zeros}});
    ZeroRunStream stream;
    stream.literals(image.bytes);
    const std::vector<uint8_t> packed = stream.stored();
    std::vector<uint8_t> stored(8, 0);
    put_le32(stored, 0, uint32_t(packed.size()));
    put_le32(stored, 4, uint32_t(image.bytes.size()));
    stored.insert(stored.end(), packed.begin(), packed.end());

    for (const uint64_t offset : {uint64_t(0x80000000u), uint64_t(0xF0000000u)}) {
        SCOPED_TRACE(offset);
        fs::remove_all(folders.staging());
        fs::remove(folders.root() / "setup-record");
        write_installer(folders.installer(), offset, stored);
        ASSERT_GT(fs::file_size(folders.installer()), offset);

        // The emulator of a cross build starts the stub, as it does the tests.
        const std::string emulator = LUMO_EMULATOR;
        const std::string program = emulator.empty() ? folders.installer().string() : emulator;
        std::vector<std::string> arguments;
        if (!emulator.empty()) arguments.push_back(folders.installer().string());
        const ProcessResult result =
            run_process(program, arguments,
                        {{"TMPDIR", folders.tmp().string()}, {"LC_ALL", ""}, {"LANG", "C"},
                         {"WINEPREFIX", (folders.root() / "no-wine-prefix").string()}});
        EXPECT_EQ(result.exit_code, 0) << result.output;
        EXPECT_EQ(result.output, "");
        EXPECT_EQ(read_file(folders.staging() / "Readme.txt"), readme);
        EXPECT_TRUE(read_file(folders.staging() / "Sounds" / "Zeros.bin") == zeros);
        ASSERT_TRUE(wait_for_file(folders.root() / "setup-record", 10)) << "the setup program never ran";
        EXPECT_EQ(read_file(folders.root() / "setup-record"), folders.staging().string() + "\n");
    }
}

}  // namespace
}  // namespace lumo
