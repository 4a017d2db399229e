// The Windows installer under Wine: the session, the installers built for
// it and the runs that the tests share.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "resources/strings.h"
#include "tests/tools/encoder/test_images.h"
#include "wine_session.h"

namespace lumo::wine {

namespace fs = std::filesystem;

// Set by the build: the Windows programs and the host packer.
inline const fs::path windows_build = LUMO_WINDOWS_BUILD;
inline const fs::path windows32_build = LUMO_WINDOWS32_BUILD;
inline const fs::path lumopack = LUMO_LUMOPACK;
inline const fs::path artefacts = LUMO_TEST_ARTEFACTS;

inline const fs::path stub = windows_build / "launcher" / "lumo-stub.exe";
inline const fs::path stub32 = windows32_build / "launcher" / "lumo-stub.exe";
inline const fs::path helpers = windows_build / "tests" / "wine" / "windows";

inline constexpr char dialog_title_en[] = LUMO_DIALOG_TITLE_EN;
inline constexpr char dialog_title_de[] = LUMO_DIALOG_TITLE_DE;
// Needs the de_DE.UTF-8 locale (scripts/install-deps.sh makes it).
inline const std::map<std::string, std::string> german = {{"LANG", "de_DE.UTF-8"}};

// Deterministic bytes that no packer can shrink.
inline std::string noise(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

// Flips one byte in the middle of the packed stream, which the trailer locates.
inline void corrupt_packed_stream(const fs::path& installer) {
    std::string bytes = read_file(installer);
    ASSERT_GT(bytes.size(), 16u);
    auto u32 = [&](size_t at) {
        return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
               uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
    };
    const size_t trailer = bytes.size() - 16;
    ASSERT_EQ(bytes.substr(trailer + 8), "LumoPak1");
    const size_t offset = u32(trailer), length = u32(trailer + 4);
    bytes[offset + 8 + (length - 8) / 2] ^= 0x5A;
    write_file(installer, bytes);
}

class InstallerUnderWine : public testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const fs::path& needed : {stub, helpers / "window_probe.exe", helpers / "bar_painter.exe", lumopack})
            ASSERT_TRUE(fs::exists(needed)) << needed << " is missing: build the mingw64 preset and lumopack first";
        session_ = std::make_unique<WineSession>();
    }
    static void TearDownTestSuite() { session_.reset(); }

    void SetUp() override {
        staging_ = session_->temp_folder() / "Lumo.40";
        fs::remove_all(staging_);
    }
    // Whatever a test started, the stand-in setup program included, has
    // ended before the next one empties the staging folder.
    void TearDown() override { session_->wait_until_idle(); }

    // A folder with the stand-in setup program, packed into `name`.exe in a
    // folder of its own on the prefix's C: drive.
    fs::path build_installer(const std::string& name, const std::map<std::string, std::string>& files,
                             const fs::path& with_stub = stub) {
        const fs::path source = session_->scratch_folder(name + "-files");
        fs::copy_file(helpers / "setup_standin.exe", source / "Setup.exe");
        for (const auto& [path, content] : files) write_file(source / fs::u8path(path), content);
        const fs::path installer = session_->scratch_folder(name) / (name + ".exe");
        RunResult packed = session_->host(shell_quote(lumopack.string()) + " build " +
                                          shell_quote(source.string()) + " -o " +
                                          shell_quote(installer.string()) + " --stub " +
                                          shell_quote(with_stub.string()) + " --level 1");
        EXPECT_EQ(packed.exit_code, 0) << packed.output;
        return installer;
    }

    // Runs the installer to its end and answers its message boxes. Returns
    // what each box said: "count=<boxes on screen>", then its text, a line each.
    std::string run_and_confirm(const fs::path& installer, const std::map<std::string, std::string>& environment = {},
                                double seconds = 60) {
        return finish_and_confirm(session_->start(installer, {}, environment), environment, seconds);
    }

    // The same for an installer already started.
    // With `exit_code_seen`, the installer's exit code goes there and is
    // not checked.
    std::string finish_and_confirm(int process, const std::map<std::string, std::string>& environment = {},
                                   double seconds = 60, int* exit_code_seen = nullptr) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        std::string seen;
        int exit_code = 0;
        while (!session_->ended(process, exit_code)) {
            if (std::chrono::steady_clock::now() > deadline) {
                session_->wait(process, 0);
                ADD_FAILURE() << "the installer did not end within " << seconds << " s";
                break;
            }
            RunResult box = session_->run(helpers / "window_probe.exe", {"confirm", LUMO_CAPTION, "0.5"}, environment);
            if (box.exit_code == 0) seen += box.output;
        }
        if (exit_code_seen)
            *exit_code_seen = exit_code;
        else
            EXPECT_EQ(exit_code, 0);
        return seen;
    }

    // Whether the one box is the setup program's failed start with Wine's
    // text for a new process that died before it reported in.
    static bool wine_lost_the_setup_program(const std::string& boxes) {
        return boxes.starts_with("count=1\nThe setup program could not be started: ") &&
               boxes.ends_with("\nInternal error.\n");
    }

    // Waits for the stand-in setup program's record in `folder` (by default
    // the staging folder).
    std::string setup_record(double seconds = 20, const fs::path& folder = {}) {
        const fs::path record = (folder.empty() ? staging_ : folder) / "setup-started.txt";
        for (int i = 0; i < seconds * 10 && !fs::exists(record); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return read_file(record);
    }

    std::string staging_windows_path() const { return session_->windows_temp_folder() + "Lumo.40\\"; }

    // The packer of a Windows build (its folder) makes the installer that the
    // host's makes, byte for byte, from an add-on split into several parts
    // with samples across them, and takes as many threads by default.
    void expect_windows_packer_matches_host(const fs::path& build) {
        const fs::path source = session_->scratch_folder("same-bytes-files");
        fs::copy_file(helpers / "setup_standin.exe", source / "Setup.exe");
        auto put = [&](const std::string& name, const test::Bytes& bytes) {
            write_file(source / name, std::string(bytes.begin(), bytes.end()));
        };
        put("manual.txt", test::word_text(2000000, 61));
        put("long.wav", test::wav_file(1500000, 2, 62));  // 6 MB of stereo samples
        put("records.bin", test::symbol_mix(1500000, 63));
        const fs::path folder = session_->scratch_folder("same-bytes");
        const fs::path stub_copy = folder / "stub.exe";  // where Windows programs see it
        fs::copy_file(stub, stub_copy);
        auto threads_of = [](const std::string& report) {
            const size_t at = report.find("(threads ");
            return at == std::string::npos ? std::string("none") : report.substr(at, report.find(')', at) - at);
        };

        const fs::path host_installer = folder / "host.exe";
        RunResult host = session_->host(shell_quote(lumopack.string()) + " build " + shell_quote(source.string()) +
                                        " -o " + shell_quote(host_installer.string()) + " --stub " +
                                        shell_quote(stub_copy.string()) + " --level 1 --report");
        ASSERT_EQ(host.exit_code, 0) << host.output;
        const fs::path installer = folder / (build.filename().string() + ".exe");
        RunResult windows = session_->run(build / "tools" / "lumopack" / "lumopack.exe",
                                          {"build", session_->windows_path(source), "-o",
                                           session_->windows_path(installer), "--stub", session_->windows_path(stub_copy),
                                           "--level", "1", "--report"},
                                          {}, 600);
        ASSERT_EQ(windows.exit_code, 0) << windows.output;
        EXPECT_TRUE(read_file(installer) == read_file(host_installer));
        EXPECT_EQ(threads_of(windows.output), threads_of(host.output));
    }

    static inline std::unique_ptr<WineSession> session_;
    fs::path staging_;
};

}  // namespace lumo::wine
