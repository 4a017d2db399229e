#include "extraction/extraction_worker.h"

#include <cstdlib>
#include <memory>

#include "extraction/file_writer.h"
#include "extraction/progress_meter.h"
#include "payload/container.h"
#include "payload/entry_name.h"
#include "payload/installer_layout.h"
#include "resources/resource_ids.h"

namespace lumo {
namespace {

struct FreeImage {
    void operator()(uint8_t* image) const { std::free(image); }
};
using ImageBlock = std::unique_ptr<uint8_t, FreeImage>;

// Both failures show their message owned by the dialog and wait for it to be
// confirmed; only then is the status set and the dialog ended.
void fail(ExtractionRun& run, const std::string& message) {
    run.platform.message_box(message, true);
    run.status.exchange(extraction_failed);
    run.platform.end_dialog();
}

void fail_corrupt(ExtractionRun& run) { fail(run, run.platform.load_string(IDS_CORRUPT_PAYLOAD)); }

void fail_copy(ExtractionRun& run, const std::string& full_path) {
    fail(run, run.platform.load_string(IDS_COPY_ERROR_HEAD) + full_path +
                  run.platform.load_string(IDS_COPY_ERROR_TAIL));
}

// The full path of an entry below the staging folder, or "" when its name is
// one the installer never writes: a name that could leave the staging folder
// or does not fit the path buffer makes the payload corrupt.
std::string full_path_of(ExtractionRun& run, std::string_view entry_name) {
    if (!is_safe_entry_name(entry_name)) return "";
    std::string full_path = run.staging_folder + run.platform.native_entry_name(std::string(entry_name));
    if (full_path.size() > max_full_path_length) return "";
    return full_path;
}

// While the image is unpacked: the meter hears of every block, and every few
// MiB of output the packed stream's pages go back to the system, so that a
// run holds about the image and the decoder's window rather than the image
// and the whole packed stream. Pages the decoder still reads come back from
// the executable.
class UnpackProgress final : public ProgressSink {
public:
    UnpackProgress(ProgressMeter& meter, Platform& platform, std::span<const uint8_t> packed)
        : meter_(meter), platform_(platform), packed_(packed) {}

    void report_progress(uint32_t bytes) override {
        meter_.report_progress(bytes);
        since_release_ += bytes;
        if (since_release_ >= release_interval) {
            platform_.release_image_pages(packed_);
            since_release_ = 0;
        }
    }

private:
    static constexpr uint64_t release_interval = 4u << 20;
    ProgressMeter& meter_;
    Platform& platform_;
    std::span<const uint8_t> packed_;
    uint64_t since_release_ = 0;
};

}  // namespace

// Zeroed, so that an image the decoder does not fill holds nothing undefined
// and simply fails its checks. The pages come from the system untouched
// until the decoder writes them, so zeroing costs no extra memory.
void* zeroed_image(size_t size) { return std::calloc(size == 0 ? 1 : size, 1); }

void run_extraction_worker(ExtractionRun& run) {
    Platform& platform = run.platform;

    // The stored payload travels in the installer's own executable; without
    // one, or with its range outside the file, there is nothing sound to unpack.
    StoredPayload stored;
    auto stored_bytes = find_stored_payload(platform.installer_image());
    if (!stored_bytes || !parse_stored_payload(*stored_bytes, stored)) return fail_corrupt(run);

    ProgressMeter meter(platform, stored.unpacked_size);

    ImageBlock image(static_cast<uint8_t*>(run.allocate(stored.unpacked_size)));
    if (!image) return fail(run, platform.load_string(IDS_NO_MEMORY));
    std::span<const uint8_t> image_bytes(image.get(), stored.unpacked_size);

    const uint8_t* packed = stored.packed_stream.data();
    UnpackProgress unpack_progress(meter, platform, stored.packed_stream);
    run.unpack(packed, packed + stored.packed_stream.size(), image.get(), image.get() + stored.unpacked_size,
               unpack_progress);
    platform.release_image_pages(stored.packed_stream);

    ImageHeader header;
    if (!validate_image_header(image_bytes, header)) return fail_corrupt(run);

    DirectoryWalker walker(image_bytes, header);
    DirectoryEntry entry;
    for (;;) {
        DirectoryWalker::Step step = walker.next(entry);
        if (step == DirectoryWalker::Step::corrupt) return fail_corrupt(run);
        if (step == DirectoryWalker::Step::end) break;

        std::string full_path = full_path_of(run, entry.name);
        if (full_path.empty()) return fail_corrupt(run);
        if (!check_entry_data(image_bytes, header, entry)) return fail_corrupt(run);
        if (!write_file(platform, run.staging_folder, full_path, entry.data.data(), entry.data_size, meter))
            return fail_copy(run, full_path);

        if (run.entry_hook.entry_written(std::string(entry.name), full_path) == AfterEntry::stop_early) {
            run.status.exchange(extraction_succeeded);
            image.reset();
            platform.end_dialog();
            platform.post_close();
            return;
        }
    }

    run.status.exchange(extraction_succeeded);
    image.reset();
    platform.post_close();
}

}  // namespace lumo
