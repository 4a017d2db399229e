#include "tools/encoder/stream_plan.h"

#include <algorithm>

#include "tools/encoder/audio_coder.h"
#include "tools/encoder/blocks.h"
#include "tools/encoder/lz_parser.h"
#include "tools/encoder/wav_finder.h"

namespace lumo {

namespace {

// Stretches are kept short enough that the parse's working memory stays
// small, and no longer than a part.
constexpr uint32_t kStretchSize = 512 * 1024;
constexpr uint32_t kSmallestStretch = 1024;
// How much of a stretch of sample data decides between audio and LZ mode.
constexpr uint32_t kAudioSample = 16 * 1024;
// The trial's LZ side parses as this level at most: the choice is seldom
// close, and the best levels' parse would cost more than it could save.
constexpr int kTrialLevel = 6;

void add_stretches(std::vector<Stretch>& out, uint32_t begin, uint32_t end, int channels, uint32_t size) {
    // Audio stretches keep whole sample frames so channels stay in step.
    const uint32_t step = channels > 0 ? size - size % uint32_t(channels) : size;
    for (uint32_t at = begin; at < end; at += std::min(step, end - at))
        out.push_back({at, std::min(end, at + step), channels, false});
}

// Both modes code the first 16 KiB of the stretch from a fresh start: the
// decoder's state there is the work of other parts, and the choice must not
// wait for them.
bool audio_wins(const ImageSource& image, const Stretch& s, int level) {
    const uint32_t end = s.begin + std::min(kAudioSample, s.end - s.begin);
    const std::vector<uint8_t> sample = read_range(image, s.begin, end);
    const StreamWriter fresh(level >= 7);
    LzParser parser(sample, std::min(level, kTrialLevel));
    MatchHistory history;
    std::vector<LzSymbol> symbols;
    parser.parse(0, uint32_t(sample.size()), history, symbols);
    const uint64_t lz_bits = plan_lz_blocks(fresh, symbols, kCoarseLzBlocks).bits;
    AudioState audio;
    audio.start_block(s.channels);
    std::vector<uint8_t> errors;
    code_audio(sample, 0, uint32_t(sample.size()), s.channels, audio, errors);
    return plan_audio_blocks(fresh, errors, s.channels, 0).bits < lz_bits;
}

std::vector<Part> group_into_parts(const std::vector<Stretch>& stretches, uint32_t part_size) {
    std::vector<Part> parts;
    for (size_t i = 0; i < stretches.size(); ++i) {
        if (parts.empty() || parts.back().end - parts.back().begin >= part_size)
            parts.push_back({i, i, stretches[i].begin, stretches[i].begin});
        parts.back().end_stretch = i + 1;
        parts.back().end = stretches[i].end;
    }
    return parts;
}

}  // namespace

StreamPlan plan_stream(const ImageSource& image, const PlanOptions& options, WorkerPool& pool) {
    const uint32_t size = uint32_t(image.size());
    const uint32_t part_size = std::max(options.part_size, kSmallestStretch);
    const uint32_t stretch_size = std::min(kStretchSize, part_size);
    StreamPlan plan;
    std::vector<std::pair<size_t, size_t>> sample_runs;  // stretches of each WAV file's samples
    uint32_t at = 0;
    if (options.audio) {
        for (const AudioRange& r : find_wav_data(image, pool, plan.seconds)) {
            add_stretches(plan.stretches, at, r.begin, 0, stretch_size);
            const size_t first = plan.stretches.size();
            add_stretches(plan.stretches, r.begin, r.end, r.channels, stretch_size);
            sample_runs.emplace_back(first, plan.stretches.size());
            at = r.end;
        }
    }
    add_stretches(plan.stretches, at, size, 0, stretch_size);
    if (plan.stretches.empty()) plan.stretches.push_back({0, 0, 0, false});

    // Once audio mode has won in a file, the rest of its samples follow it
    // without a trial.
    plan.seconds += run_each(pool, sample_runs.size(), [&](size_t i) {
        for (size_t s = sample_runs[i].first; s < sample_runs[i].second; ++s) {
            Stretch& stretch = plan.stretches[s];
            stretch.audio = (s > sample_runs[i].first && plan.stretches[s - 1].audio) ||
                            audio_wins(image, stretch, options.level);
        }
    });
    plan.parts = group_into_parts(plan.stretches, part_size);
    return plan;
}

}  // namespace lumo
