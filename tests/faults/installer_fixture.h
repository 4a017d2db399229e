// A scratch folder in which installers are built (by lumopack, or around
// hand-made images and patched bytes) and run as a user runs them: TMPDIR
// inside the scratch folder, standard input from /dev/null, the English
// texts. The setup program is a stand-in that records that it ran.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "image_builder.h"
#include "installer_process.h"
#include "payload/installer_layout.h"
#include "resources/strings.h"
#include "tools/encoder/encoder.h"

namespace lumo::test {

// Writes "ran" beside the temporary folder when started.
inline const char* const recording_setup = "#!/bin/sh\necho ran > \"$TMPDIR/../setup-ran\"\n";

// The shared texts carry Windows line breaks; the terminal shows plain ones.
inline std::string terminal(std::string text) {
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
    return text;
}

// Every path below `folder` (links not followed) with its size and a hash of
// its content, or what a link points to: a picture to compare before and
// after a run.
inline std::map<std::string, std::string> snapshot(const fs::path& folder, const fs::path& except = {}) {
    std::map<std::string, std::string> seen;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error); it != fs::recursive_directory_iterator();
         it.increment(error)) {
        const fs::path& path = it->path();
        if (!except.empty() && (path == except || path.string().starts_with(except.string() + "/"))) {
            if (it->is_directory() && !it->is_symlink()) it.disable_recursion_pending();
            continue;
        }
        std::string what;
        if (it->is_symlink()) what = "link to " + fs::read_symlink(path).string();
        else if (it->is_regular_file())
            what = "file of " + std::to_string(it->file_size()) + " bytes, hash " +
                   std::to_string(std::hash<std::string>{}(read_file(path)));
        else what = "folder";
        seen[path.string()] = what;
    }
    return seen;
}

class InstallerFixture : public ::testing::Test, protected InstallerFolders {
protected:
    fs::path setup_mark() const { return root() / "setup-ran"; }

    void add(const std::string& name, const std::string& content) { write_file(addon() / name, content); }

    ProcessResult lumopack(const std::vector<std::string>& arguments) {
        return run_process(LUMOPACK_PATH, arguments, {});
    }

    // Packs the add-on folder; the installer's bytes.
    std::string pack_addon(const std::vector<std::string>& options = {}) {
        std::vector<std::string> arguments = {"build", addon().string(), "-o", installer().string(),
                                              "--stub", LUMO_STUB_PATH};
        arguments.insert(arguments.end(), options.begin(), options.end());
        ProcessResult packed = lumopack(arguments);
        EXPECT_EQ(packed.exit_code, 0) << packed.output;
        return read_file(installer());
    }

    // An installer around an image lumopack would never build, with the
    // stored sizes as given (the true ones by default).
    static std::string installer_around(const std::vector<uint8_t>& image, int64_t unpacked_size = -1) {
        return installer_with_stream(pack_stream(image, EncoderOptions{}),
                                     uint32_t(unpacked_size < 0 ? image.size() : uint64_t(unpacked_size)));
    }

    // An installer around a packed stream made by hand.
    static std::string installer_with_stream(const std::vector<uint8_t>& stream, uint32_t unpacked_size) {
        const std::string stub = read_file(LUMO_STUB_PATH);
        std::vector<uint8_t> bytes(stub.begin(), stub.end());
        std::vector<uint8_t> stored(stored_payload_header_size, 0);
        put_le32(stored, 0, uint32_t(stream.size()));
        put_le32(stored, 4, unpacked_size);
        stored.insert(stored.end(), stream.begin(), stream.end());
        EXPECT_TRUE(append_stored_payload(bytes, stored));
        return std::string(bytes.begin(), bytes.end());
    }

    ProcessResult run_installer_file(std::map<std::string, std::string> environment = {}) {
        environment.emplace("TMPDIR", tmp().string());
        environment.emplace("LC_ALL", "");
        environment.emplace("LC_MESSAGES", "");
        environment.emplace("LANG", "C");
        return run_process(installer().string(), {}, environment);
    }

    bool setup_ran(double seconds = 10) { return wait_for_file(setup_mark(), seconds); }
    bool setup_never_ran() {
        // The installer has exited; a program it started would have written by now.
        usleep(300 * 1000);
        return !fs::exists(setup_mark());
    }

    static std::string message(const std::string& text) {
        return std::string(LUMO_CAPTION) + "\n" + terminal(text) + "\n";
    }
    static std::string copy_error(const fs::path& path) {
        return message(LUMO_STR3_EN + path.string() + LUMO_STR4_EN);
    }
    std::string unsafe_staging() const {
        return message(LUMO_STR6_EN + staging().string() + "/" + LUMO_STR7_POSIX_EN);
    }
    static std::string corrupt() { return message(LUMO_STR2_EN); }
};

}  // namespace lumo::test
