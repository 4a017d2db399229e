// An installer run both ways the worker reads its image, streamed (the
// decoding thread, the block hand-off, the writer with its temporary names)
// and whole, with the real decoder over the fake platform, and what each
// run left that a user could see. Shared by the differential test and the
// fuzz target that compares the two on arbitrary installers.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "extraction/extraction_worker.h"
#include "payload/installer_layout.h"
#include "payload/unpack_stream.h"
#include "platform/fake/fake_platform.h"

namespace lumo::test {

inline const std::string differential_staging = "/tmp/Lumo.40/";

// Stops after "setup.exe" when asked to: the early stop.
class StopAfterSetup final : public EntryHook {
public:
    explicit StopAfterSetup(bool stop) : stop_(stop) {}
    AfterEntry entry_written(const std::string& name, const std::string&) override {
        return stop_ && name == "setup.exe" ? AfterEntry::stop_early : AfterEntry::go_on;
    }

private:
    bool stop_;
};

// What a run leaves that a user could see: the files, and the effects in
// order, but for progress and for files that are made and written apart: a
// streamed run writes an entry before it knows its checksum, and what was
// never finished is gone.
struct Seen {
    std::map<std::string, std::string> files;
    std::vector<std::string> effects;
    int32_t status = 0;
    bool operator==(const Seen&) const = default;
};

inline Seen run_installer(const std::vector<uint8_t>& installer, ImagePath path, bool stop_after_setup) {
    FakePlatform fake;
    fake.add_directory(differential_staging);
    fake.image = installer;
    StopAfterSetup hook(stop_after_setup);
    ExtractionRun run{fake, differential_staging, hook, unpack_stream_to};
    run.image_path = path;
    run_extraction_worker(run);
    Seen seen;
    seen.files = fake.files;
    for (const auto& line : fake.log)
        if (line.rfind("progress", 0) != 0 && line.rfind("write ", 0) != 0 && line.rfind("create_file ", 0) != 0 &&
            line.rfind("close ", 0) != 0)
            seen.effects.push_back(line);
    seen.status = run.status.load();
    return seen;
}

// A stub of 64 bytes, the stored payload (sizes, then the stream) and the trailer.
inline std::vector<uint8_t> installer_of(const std::vector<uint8_t>& stream, uint32_t unpacked_size) {
    std::vector<uint8_t> stored(stored_payload_header_size, 0);
    for (int i = 0; i < 4; ++i) {
        stored[i] = uint8_t(uint32_t(stream.size()) >> (8 * i));
        stored[4 + i] = uint8_t(unpacked_size >> (8 * i));
    }
    stored.insert(stored.end(), stream.begin(), stream.end());
    std::vector<uint8_t> installer(64, 0x90);  // the stub's bytes
    append_stored_payload(installer, stored);
    return installer;
}

}  // namespace lumo::test
