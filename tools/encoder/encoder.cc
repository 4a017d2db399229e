// How an image becomes a packed stream:
//
// 1. The plan (stream_plan.h) cuts the image into stretches, each coded in
//    one mode, and groups them into parts, from the image's bytes alone.
// 2. The driver, on the calling thread, runs the audio predictor over the
//    samples of each part in order and hands the part to a worker
//    (part_encoder.h): the part's stretches are parsed into literals and
//    matches or taken as audio symbols, split into blocks wherever tables of
//    their own save more than they cost (blocks.h), and written with their
//    code-length blocks (stream_writer.h). The best levels search
//    code-length blocks for their cheapest form, and take code lengths a
//    little off the optimal ones where that shortens the code-length block
//    by more.
// 3. The driver joins the parts' bits in order as they come (stream_joiner.h),
//    pads the stream to whole words, scrambles it and hands it on.
//
// Nothing a part does depends on how many threads there are or which part
// finished first, so every thread count gives the same bytes.
#include "tools/encoder/encoder.h"

#include <algorithm>
#include <deque>
#include <future>
#include <optional>

#include "tools/encoder/part_encoder.h"
#include "tools/encoder/stream_joiner.h"
#include "tools/encoder/stream_plan.h"
#include "tools/encoder/thread_clock.h"
#include "tools/encoder/worker_pool.h"

namespace lumo {

EncoderStatistics& EncoderStatistics::operator+=(const EncoderStatistics& o) {
    literals += o.literals;
    repeats += o.repeats;
    old_distances += o.old_distances;
    short_matches += o.short_matches;
    long_matches += o.long_matches;
    far_matches += o.far_matches;
    lz_blocks += o.lz_blocks;
    audio_blocks += o.audio_blocks;
    audio_bytes += o.audio_bytes;
    kept_tables += o.kept_tables;
    return *this;
}

void MemoryImage::read(uint64_t offset, std::span<uint8_t> out) const {
    std::copy_n(bytes_.begin() + ptrdiff_t(offset), out.size(), out.begin());
}

std::vector<uint8_t> read_range(const ImageSource& source, uint64_t begin, uint64_t end) {
    std::vector<uint8_t> bytes(size_t(end - begin));
    source.read(begin, bytes);
    return bytes;
}

uint64_t pack_stream(const ImageSource& image, const EncoderOptions& options, StreamSink& sink,
                     EncoderStatistics* statistics, EncoderWork* work) {
    const int level = std::clamp(options.level, kFastestLevel, kBestLevel);
    const int threads = options.threads > 0 ? options.threads : default_thread_count();
    // Declared before the pool, so that it outlives any part still running
    // when an error ends the encoding early.
    std::optional<StreamPlan> plan;
    WorkerPool pool(threads);
    EncoderWork report;
    report.threads = threads;

    const double plan_started = thread_processor_seconds();
    plan = plan_stream(image,
                       {level, options.audio == AudioMode::automatic,
                        options.part_size > 0 ? options.part_size : kDefaultPartSize},
                       pool);
    // The tasks' own time, and the calling thread's where it did not run them.
    report.plan_seconds = plan->seconds;
    if (threads > 1) report.plan_seconds += thread_processor_seconds() - plan_started;

    // Parts coded but not yet joined wait in order. Beside those running, two
    // more are handed out, so that a worker finding the next part slow to
    // finish has something to do; each holds its audio symbols, then its bits.
    const size_t ahead = threads == 1 ? 1 : size_t(threads + 2);
    std::deque<std::future<CodedPart>> coding;
    StreamJoiner joiner(sink);
    EncoderStatistics stats;
    AudioState audio;
    size_t handed_out = 0;
    for (size_t joined = 0; joined < plan->parts.size(); ++joined) {
        while (handed_out < plan->parts.size() && coding.size() < ahead) {
            const double started = thread_processor_seconds();
            PartAudio part_audio = code_part_audio(image, *plan, handed_out, audio);
            report.sequential_seconds += thread_processor_seconds() - started;
            coding.push_back(pool.submit([&image, &plan, level, part = handed_out,
                                          part_audio = std::move(part_audio)] {
                return encode_part(image, *plan, part, part_audio, level);
            }));
            ++handed_out;
        }
        const CodedPart coded = coding.front().get();
        coding.pop_front();
        const double started = thread_processor_seconds();
        joiner.append(coded.bytes, coded.bits);
        report.sequential_seconds += thread_processor_seconds() - started;
        stats += coded.statistics;
        const Part& part = plan->parts[joined];
        report.parts.push_back({part.begin, part.end, coded.bits, coded.seconds});
        sink.coded(part.end);
    }
    const double started = thread_processor_seconds();
    const uint64_t size = joiner.finish();
    report.sequential_seconds += thread_processor_seconds() - started;
    if (statistics) *statistics = stats;
    if (work) *work = std::move(report);
    return size;
}

std::vector<uint8_t> pack_stream(std::span<const uint8_t> image, const EncoderOptions& options,
                                 EncoderStatistics* statistics) {
    VectorSink sink;
    sink.bytes().reserve(image.size() + image.size() / 16 + 65536);
    pack_stream(MemoryImage(image), options, sink, statistics);
    return std::move(sink.bytes());
}

}  // namespace lumo
