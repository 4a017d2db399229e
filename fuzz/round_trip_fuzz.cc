// The packer's encoder and the installer's decoder together.
//
// Input: one byte of options (level 1..9 from its low four bits, parts of
// 1 KiB << n from the next three where n = 1..7, of the default size for 0,
// audio mode off when the high bit is set), then the image to pack.
//
// Properties:
//  - the encoder is deterministic: the same image and options, the same
//    bytes, with one thread and with three;
//  - the decoder gives the image back exactly from the stream's own bytes
//    (never reading past its end), writing nothing past the image's end,
//    and its progress reports add up to the image size;
//  - so does the reference decoder (the encoder and the fast decoder share
//    the fast audio predictor; only the reference holds both to the format).
#include <algorithm>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/guarded_buffer.h"
#include "payload/stream_decoders.h"
#include "payload/unpack_stream.h"
#include "tools/encoder/encoder.h"

namespace {

struct CountingSink final : lumo::ProgressSink {
    uint64_t total = 0;
    void report_progress(uint32_t bytes) override { total += bytes; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    lumo::EncoderOptions options;
    options.level = lumo::kFastestLevel + (data[0] & 0x0F) % (lumo::kBestLevel - lumo::kFastestLevel + 1);
    const int parts = (data[0] >> 4) & 7;
    options.part_size = parts == 0 ? 0 : 1024u << parts;
    options.audio = (data[0] & 0x80) ? lumo::AudioMode::off : lumo::AudioMode::automatic;
    const std::span<const uint8_t> image(data + 1, size - 1);

    options.threads = 1;
    const std::vector<uint8_t> packed = lumo::pack_stream(image, options);
    options.threads = 3;
    FUZZ_CHECK(lumo::pack_stream(image, options) == packed);

    static lumo::fuzz::ReusedGuardedBuffer stream(16384), output(8192), reference(8192);
    stream.place(packed);
    output.place(image.size());
    CountingSink progress;
    FUZZ_CHECK(lumo::unpack_stream_filled(stream.data(), stream.end(), output.data(), output.end(), progress));
    FUZZ_CHECK(output.slack_intact());
    FUZZ_CHECK(std::equal(image.begin(), image.end(), output.data()));
    FUZZ_CHECK(progress.total == image.size());

    reference.place(image.size());
    const auto window = lumo::allocate_window();
    lumo::NullProgressSink quiet;
    lumo::unpack_stream_reference(stream.data(), stream.end(), reference.data(), reference.end(), quiet,
                                  window.get());
    FUZZ_CHECK(std::equal(image.begin(), image.end(), reference.data()));
    return 0;
}
