// lumopack build on an add-on that is split into many parts: the same
// installer for every thread count, a file that changes while it is packed,
// and sizes that cannot fit refused before any work.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <regex>
#include <thread>

#include "tests/tools/encoder/test_images.h"
#include "tests/tools/lumopack_fixture.h"

namespace lumo::testing {
namespace {

// About 4 MB, in parts of 256 KiB: fifteen of them, with samples running
// across part boundaries and between LZ stretches, text and noise.
void fill_large_addon(const fs::path& folder) {
    write_file(folder / "Setup.exe", std::string("#!/bin/sh\necho setup\n"));
    write_file(folder / "docs" / "manual.txt", test::word_text(600000, 1));
    write_file(folder / "Sounds" / "long.wav", test::wav_file(400000, 2, 2));  // 1.6 MB of stereo samples
    write_file(folder / "Sounds" / "short.wav", test::wav_file(100000, 1, 3));
    write_file(folder / "data" / "records.bin", test::symbol_mix(600000, 4));
    write_file(folder / "data" / "noise.bin", test::random_bytes(300000, 5));
    write_file(folder / "Sounds" / "zlast.wav", test::wav_file(150000, 2, 6));
}

TEST_F(LumopackTest, EveryThreadCountBuildsTheSameInstallerOfManyParts) {
    const fs::path folder = path("large");
    fill_large_addon(folder);
    Bytes first;
    for (const char* threads : {"1", "2", "8"}) {
        SCOPED_TRACE(std::string("--threads ") + threads);
        const fs::path installer = path(std::string("large-") + threads + ".run");
        auto built = build(folder, installer, {"--threads", threads, "--part-size", "256K", "--report"});
        ASSERT_EQ(built.status, 0) << built.output;
        const Bytes bytes = read_file(installer);
        if (first.empty()) {
            first = bytes;
            // The report's parts follow each other over the whole image.
            const std::regex part_line(R"(\n +(\d+) +(\d+) +(\d+) +(\d+) +[0-9.]+)");
            uint64_t at = 0, parts = 0;
            for (std::sregex_iterator it(built.output.begin(), built.output.end(), part_line), end; it != end; ++it) {
                EXPECT_EQ(std::stoull((*it)[2]), at);
                at += std::stoull((*it)[3]);
                ++parts;
            }
            EXPECT_GE(parts, 12u) << built.output;
            EXPECT_NE(built.output.find("container " + std::to_string(at) + " bytes"), std::string::npos)
                << built.output;
            EXPECT_NE(built.output.find("worked out for N processors"), std::string::npos) << built.output;
        } else {
            EXPECT_TRUE(bytes == first);
        }
    }
    EXPECT_EQ(run_lumopack({"test", path("large-2.run").string()}).status, 0);
    ASSERT_EQ(run_lumopack({"extract", path("large-2.run").string(), "-C", path("out").string()}).status, 0);
    EXPECT_TRUE(read_tree(path("out")) == read_tree(folder));
}

// Another program rewrites bytes of a file all the while it is packed: the
// build must fail naming it, never write an installer whose checksums are
// not those of the bytes it carries.
// An add-on of more files than the build may hold open at once: past the
// files it holds, each is opened anew for every read, and the installer is
// the one a build holding them all makes, whatever the thread count.
TEST_F(LumopackTest, AddOnOfMoreFilesThanCanBeHeldOpenIsPackedWhole) {
    const fs::path folder = path("many");
    write_file(folder / "Setup.exe", std::string("#!/bin/sh\necho setup\n"));
    for (int i = 0; i < 700; ++i)
        write_file(folder / std::string("d").append(std::to_string(i % 7)) /
                       std::string("f").append(std::to_string(i)).append(".txt"),
                   test::word_text(200 + 37 * size_t(i), uint32_t(i)));
    write_file(folder / "big" / "samples.wav", test::wav_file(300000, 2, 9));  // read in many pieces
    const fs::path held = path("held.run");
    ASSERT_EQ(build(folder, held, {"--level", "1"}).status, 0);
    for (const char* threads : {"1", "4"}) {
        SCOPED_TRACE(std::string("--threads ") + threads);
        const fs::path few = path(std::string("few-").append(threads).append(".run"));
        // 300 descriptors: 44 for files once 256 are kept free, far fewer than 701.
        const RunResult built = run_lumopack({"--nofile=300:300", LUMOPACK_PATH, "build", folder.string(), "-o",
                                              few.string(), "--stub", stub_.string(), "--level", "1", "--threads",
                                              threads},
                                             false, "prlimit");
        ASSERT_EQ(built.status, 0) << built.output;
        EXPECT_TRUE(read_file(few) == read_file(held)) << "not the installer a build holding every file makes";
    }
}

TEST_F(LumopackTest, FileRewrittenWhileItIsPackedFailsTheBuildNamingIt) {
    const fs::path folder = path("addon");
    write_file(folder / "Setup.exe", std::string("x"));
    const Bytes original = test::word_text(6000000, 7);
    write_file(folder / "moving.txt", original);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        const int fd = open((folder / "moving.txt").c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        for (uint64_t n = 0; !done; ++n) {
            const uint8_t byte = uint8_t('a' + n % 26);
            (void)!pwrite(fd, &byte, 1, off_t(n * 7919 % original.size()));
        }
        close(fd);
    });
    auto built = build(folder, path("moving.run"), {"--level", "1"});
    done = true;
    writer.join();
    EXPECT_EQ(built.status, 1) << built.output;
    EXPECT_NE(built.output.find("moving.txt: changed while it was packed"), std::string::npos) << built.output;
    for (const auto& entry : fs::directory_iterator(root_))
        EXPECT_EQ(entry.path().filename().string().find("moving.run"), std::string::npos) << entry.path();
}

}  // namespace
}  // namespace lumo::testing
