#include "extraction/extraction_worker.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "extraction/image_walks.h"
#include "extraction/installer_file.h"
#include "extraction/progress_meter.h"
#include "payload/container.h"
#include "payload/installer_layout.h"
#include "resources/resource_ids.h"

namespace lumo {
namespace {

// Both failures show their message owned by the dialog and wait for it to be
// confirmed; only then is the status set and the dialog ended.
void fail(ExtractionRun& run, const std::string& message) {
    run.platform.message_box(message, true);
    run.status.exchange(extraction_failed);
    run.platform.end_dialog();
}

void fail_corrupt(ExtractionRun& run) { fail(run, run.platform.load_string(IDS_CORRUPT_PAYLOAD)); }

struct StoredStream {
    uint64_t offset = 0;  // of the packed stream in the installer
    uint32_t packed_size = 0;
    uint32_t unpacked_size = 0;
};

// The stored payload travels in the installer's own executable; without
// one, or with its range outside the file, there is nothing sound to unpack.
bool find_stored_stream(Platform& platform, StoredStream& stream) {
    OwnInstallerFile file(platform);
    const auto location = locate_stored_payload(file);
    uint8_t sizes[stored_payload_header_size];
    if (!location || !file.read(location->offset, sizes, sizeof sizes)) return false;
    // The packed size agrees with the location's length, which lies inside the file.
    const auto le32 = [&](int at) {
        return uint32_t(sizes[at]) | uint32_t(sizes[at + 1]) << 8 | uint32_t(sizes[at + 2]) << 16 |
               uint32_t(sizes[at + 3]) << 24;
    };
    stream = {location->offset + stored_payload_header_size, le32(0), le32(4)};
    return true;
}

// The decoding thread of a streamed run. Gone, it has stopped: the pipe is
// stopped first, so that a decoder waiting for room never waits for long.
class DecodingThread {
public:
    DecodingThread(ExtractionRun& run, const StoredStream& stream, ImagePipe& pipe)
        : pipe_(pipe), feed_(run.platform, stream.offset, stream.packed_size) {
        thread_ = run.platform.start_joinable_thread([&run, &pipe, this, size = stream.unpacked_size] {
            run.unpack(feed_, size, pipe);
            pipe.close();
        });
    }
    ~DecodingThread() {
        pipe_.stop();
        thread_.reset();
    }
    bool started() const { return thread_ != nullptr; }

private:
    ImagePipe& pipe_;
    InstallerFeed feed_;
    std::unique_ptr<JoinableThread> thread_;
};

WalkOutcome extract_streamed(ExtractionRun& run, const StoredStream& stream, ProgressMeter& meter,
                             std::string& failed_path) {
    ImagePipe pipe(run.platform);
    if (!pipe.ready()) return WalkOutcome::other_layout;
    DecodingThread decoding(run, stream, pipe);
    if (!decoding.started()) return WalkOutcome::other_layout;
    ImageStream image(pipe, stream.unpacked_size, meter);
    return walk_streamed_image(run, image, stream.unpacked_size, max_unpacked_size(stream.packed_size), meter,
                               failed_path);
}

// The whole image copied out of the decoder's blocks, each reported to the
// meter as it comes.
class ImageInMemory final : public ImageOutput {
public:
    ImageInMemory(uint8_t* image, ProgressSink& meter) : next_(image), meter_(meter) {}
    bool emit(const uint8_t* bytes, uint32_t n) override {
        std::memcpy(next_, bytes, n);
        next_ += n;
        meter_.report_progress(n);
        return true;
    }
    bool reuse(uint64_t) override { return true; }

private:
    uint8_t* next_;
    ProgressSink& meter_;
};

struct FreeImage {
    void operator()(uint8_t* image) const { std::free(image); }
};
using ImageBlock = std::unique_ptr<uint8_t, FreeImage>;

WalkOutcome extract_whole(ExtractionRun& run, const StoredStream& stream, ProgressMeter& meter,
                          std::string& failed_path) {
    // No more than the stream can fill from its own bytes is reserved: an
    // image that claims more is damaged, whatever it holds.
    if (stream.unpacked_size > max_unpacked_size(stream.packed_size))
        return WalkOutcome::corrupt;
    ImageBlock image(static_cast<uint8_t*>(run.allocate(stream.unpacked_size)));
    if (!image) return WalkOutcome::no_memory;
    InstallerFeed feed(run.platform, stream.offset, stream.packed_size);
    ImageInMemory output(image.get(), meter);
    run.unpack(feed, stream.unpacked_size, output);
    return walk_whole_image(run, std::span<const uint8_t>(image.get(), stream.unpacked_size), meter, failed_path);
}

WalkOutcome extract(ExtractionRun& run, const StoredStream& stream, std::string& failed_path) {
    if (run.image_path == ImagePath::streamed) {
        ProgressMeter meter(run.platform, stream.unpacked_size);
        const WalkOutcome streamed = extract_streamed(run, stream, meter, failed_path);
        if (streamed != WalkOutcome::other_layout) return streamed;
    }
    // Read again from the start, into a whole image.
    ProgressMeter meter(run.platform, stream.unpacked_size);
    return extract_whole(run, stream, meter, failed_path);
}

}  // namespace

// Zeroed, so that an image the decoder does not fill holds nothing undefined
// and simply fails its checks. The pages come from the system untouched
// until the decoder writes them, so zeroing costs no extra memory.
void* zeroed_image(size_t size) { return std::calloc(size == 0 ? 1 : size, 1); }

void run_extraction_worker(ExtractionRun& run) {
    Platform& platform = run.platform;
    StoredStream stream;
    if (!find_stored_stream(platform, stream)) return fail_corrupt(run);

    std::string failed_path;
    switch (extract(run, stream, failed_path)) {
        case WalkOutcome::corrupt:
        case WalkOutcome::other_layout: return fail_corrupt(run);
        case WalkOutcome::no_memory: return fail(run, platform.load_string(IDS_NO_MEMORY));
        case WalkOutcome::copy_error:
            return fail(run, platform.load_string(IDS_COPY_ERROR_HEAD) + failed_path +
                                 platform.load_string(IDS_COPY_ERROR_TAIL));
        case WalkOutcome::stopped_early:
            run.status.exchange(extraction_succeeded);
            platform.end_dialog();
            platform.post_close();
            return;
        case WalkOutcome::all_written:
            run.status.exchange(extraction_succeeded);
            platform.post_close();
            return;
    }
}

}  // namespace lumo
