// Runs the lumopack program on generated folders, as a user would.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace lumo::testing {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

struct RunResult {
    int status = -1;
    std::string output;  // standard output, and standard error too unless run apart
    std::string errors;  // standard error, when run apart
};

inline std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs `program` (lumopack unless named) with `args`; its standard error
// goes with its output, or apart into `errors` when `apart` is set.
inline RunResult run_lumopack(const std::vector<std::string>& args, bool apart = false,
                              const std::string& program = LUMOPACK_PATH) {
    std::string command = quoted(program);
    for (const auto& arg : args) {
        command += ' ';
        command += quoted(arg);
    }
    char errors[] = "/tmp/lumopack-errors-XXXXXX";
    const int errors_file = apart ? mkstemp(errors) : -1;
    if (errors_file >= 0) close(errors_file);
    command += apart ? " 2>" + quoted(errors) + " </dev/null" : " 2>&1 </dev/null";
    RunResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.output.append(buffer, n);
        const int status = pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (errors_file >= 0) {
        std::ifstream in(errors, std::ios::binary);
        result.errors.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        unlink(errors);
    }
    return result;
}

inline void write_file(const fs::path& path, const Bytes& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline void write_file(const fs::path& path, const std::string& text) { write_file(path, Bytes(text.begin(), text.end())); }

inline Bytes read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every regular file below `root`, by its path relative to `root`.
inline std::map<std::string, Bytes> read_tree(const fs::path& root) {
    std::map<std::string, Bytes> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) tree[entry.path().lexically_relative(root).generic_string()] = read_file(entry.path());
    return tree;
}

inline Bytes random_bytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (auto& b : bytes) b = uint8_t(random());
    return bytes;
}

// A fresh folder per test, removed afterwards.
class LumopackTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ = fs::temp_directory_path() / ("lumopack-test-" + std::to_string(getpid())) /
                (std::string(info->test_suite_name()) + "." + info->name());
        fs::remove_all(root_);
        fs::create_directories(root_);
        // Any bytes serve as a stub for the packer; the installer's own stub
        // is tried in a test of its own.
        stub_ = root_ / "stub.bin";
        write_file(stub_, std::string("#!/bin/sh\necho stub\nexit 0\n"));
    }
    void TearDown() override { fs::remove_all(root_.parent_path()); }

    fs::path path(const std::string& relative) const { return root_ / relative; }

    RunResult build(const fs::path& folder, const fs::path& output, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"build", folder.string(), "-o", output.string(), "--stub", stub_.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return run_lumopack(args);
    }

    fs::path root_, stub_;
};

}  // namespace lumo::testing
