// The digest build names its stub by, against the system's sha256sum at
// the lengths where the padding changes shape.
#include "tools/lumopack/sha256.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <vector>

namespace lumo {
namespace {

std::string sha256sum(const std::vector<uint8_t>& bytes) {
    char name[] = "/tmp/sha256-test-XXXXXX";
    const int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    close(fd);
    std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    FILE* pipe = popen(("sha256sum " + std::string(name)).c_str(), "r");
    char digest[65] = {};
    EXPECT_EQ(std::fread(digest, 1, 64, pipe), 64u);
    pclose(pipe);
    unlink(name);
    return digest;
}

TEST(Sha256, MatchesSha256sumWhereverThePaddingFalls) {
    EXPECT_EQ(sha256_hex(std::vector<uint8_t>{'a', 'b', 'c'}),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");  // FIPS 180-4's example
    std::mt19937 random(5);
    for (size_t size : {0, 1, 55, 56, 63, 64, 65, 119, 120, 127, 128, 1000, 1000000}) {
        std::vector<uint8_t> bytes(size);
        for (auto& b : bytes) b = uint8_t(random());
        EXPECT_EQ(sha256_hex(bytes), sha256sum(bytes)) << size << " bytes";
    }
}

}  // namespace
}  // namespace lumo
