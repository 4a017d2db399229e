// Replays a fuzz target's corpus (LUMO_FUZZ_CORPUS) through the target's
// LLVMFuzzerTestOneInput. A property that fails aborts; the file at fault is
// named on the standard error stream before the process goes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"

namespace {

namespace fs = std::filesystem;

char current_file[4096];

void name_the_input(int signal) {
    const char prefix[] = "\nfailing corpus input: ";
    (void)!write(STDERR_FILENO, prefix, sizeof prefix - 1);
    (void)!write(STDERR_FILENO, current_file, std::strlen(current_file));
    (void)!write(STDERR_FILENO, "\n", 1);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

std::vector<uint8_t> read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Named after the target, so that every replay program registers its own test.
TEST(FuzzCorpusReplay, LUMO_FUZZ_TARGET) {
    std::vector<fs::path> inputs;
    for (const auto& entry : fs::directory_iterator(LUMO_FUZZ_CORPUS))
        if (entry.is_regular_file()) inputs.push_back(entry.path());
    std::sort(inputs.begin(), inputs.end());
    ASSERT_FALSE(inputs.empty()) << "no corpus in " << LUMO_FUZZ_CORPUS;

    for (int signal : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE}) std::signal(signal, name_the_input);
    for (const auto& path : inputs) {
        const std::string name = path.string();
        std::snprintf(current_file, sizeof current_file, "%s", name.c_str());
        const std::vector<uint8_t> bytes = read_bytes(path);
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0) << name;
    }
    for (int signal : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE}) std::signal(signal, SIG_DFL);
}

}  // namespace
