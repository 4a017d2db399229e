// How an image becomes a packed stream:
//
// 1. The image is cut into stretches of at most 512 KiB; the sample data of
//    WAV files found in it (audio_coder.h) gets stretches of its own, which
//    keep whole sample frames.
// 2. A stretch of samples tries both modes on its first 16 KiB and is coded
//    in the cheaper one as a whole: audio mode codes each byte as the error of
//    the decoder's own predictor, on as many byte channels as a sample frame
//    has bytes.
// 3. Any other stretch is parsed into literals and matches (lz_parser.h), with
//    the match history (old distances, last length) carried from stretch to
//    stretch as the decoder carries it.
// 4. The symbols of a stretch are split into blocks wherever tables of their
//    own save more than they cost (blocks.h); each block starts with its
//    code-length block (stream_writer.h) and ends with the table switch,
//    except the very last. The best levels search code-length blocks for
//    their cheapest form, and take code lengths a little off the optimal ones
//    where that shortens the code-length block by more.
// 5. The stream is padded to whole words and scrambled.
#include "tools/encoder/encoder.h"

#include <algorithm>
#include <cassert>

#include "tools/encoder/audio_coder.h"
#include "tools/encoder/blocks.h"
#include "tools/encoder/lz_parser.h"
#include "tools/encoder/stream_writer.h"

namespace lumo {

namespace {

// A stretch of the image coded on its own: blocks never span two of them.
struct Segment {
    uint32_t begin;
    uint32_t end;
    int audio_channels;  // 0: LZ mode only; else sample data worth trying in audio mode
    bool continues;      // the stretch before holds the same file's samples
};

// Stretches are kept short enough that the parse's working memory stays small
// beside the image.
constexpr uint32_t kSegmentSize = 512 * 1024;
// How much of a stretch of sample data decides between audio and LZ mode.
constexpr uint32_t kAudioSample = 16 * 1024;

void add_segments(std::vector<Segment>& out, uint32_t begin, uint32_t end, int channels) {
    // Audio stretches keep whole sample frames so channels stay in step.
    const uint32_t step = channels > 0 ? kSegmentSize - kSegmentSize % uint32_t(channels) : kSegmentSize;
    for (uint32_t at = begin; at < end; at += std::min(step, end - at))
        out.push_back({at, std::min(end, at + step), channels, at != begin});
}

std::vector<Segment> plan_segments(std::span<const uint8_t> image, AudioMode audio) {
    std::vector<Segment> segments;
    uint32_t at = 0;
    if (audio == AudioMode::automatic) {
        for (const AudioRange& r : find_wav_data(image)) {
            add_segments(segments, at, r.begin, 0);
            add_segments(segments, r.begin, r.end, r.channels);
            at = r.end;
        }
    }
    add_segments(segments, at, uint32_t(image.size()), 0);
    if (segments.empty()) segments.push_back({0, 0, 0, false});
    return segments;
}

void count_symbols(std::span<const LzSymbol> symbols, EncoderStatistics& stats) {
    for (const LzSymbol& s : symbols) {
        if (s.main < kRepeatSymbol) ++stats.literals;
        else if (s.main == kRepeatSymbol) ++stats.repeats;
        else if (s.is_old()) ++stats.old_distances;
        else if (s.main < kLzSwitchSymbol) ++stats.short_matches;
        else {
            ++stats.long_matches;
            if (s.sub >= distance_slot(0x40000)) ++stats.far_matches;  // beyond 262144
        }
    }
}

}  // namespace

std::vector<uint8_t> pack_stream_plain(std::span<const uint8_t> image, const EncoderOptions& options,
                                       EncoderStatistics* statistics) {
    EncoderStatistics stats;
    const int level = std::clamp(options.level, kFastestLevel, kBestLevel);
    const BlockSearch lz_blocks = level >= 7 ? kFineLzBlocks : kCoarseLzBlocks;
    StreamWriter writer(level >= 7);
    // Room for the worst case up front: a growing buffer would briefly need
    // twice its size, and the packer's memory is counted against the image.
    writer.bits().reserve(image.size() + image.size() / 16 + 65536);
    LzParser parser(image, level);
    MatchHistory history;
    AudioState audio;
    LzHistogram learnt;
    std::vector<LzSymbol> symbols;
    std::vector<uint8_t> samples;
    bool audio_won = false;  // the stretch before went in audio mode

    const std::vector<Segment> segments = plan_segments(image, options.audio);
    for (size_t i = 0; i < segments.size(); ++i) {
        const Segment& seg = segments[i];
        const bool last = i + 1 == segments.size();
        symbols.clear();
        MatchHistory lz_history = history;
        const bool audio_before = audio_won;
        audio_won = false;
        if (seg.audio_channels > 0) {
            // Both modes try a sample from the start of the stretch; the
            // cheaper one codes all of it. Once audio mode has won in a file,
            // the rest of its samples follow without a trial.
            const int count = seg.audio_channels;
            const uint32_t sample_end = seg.begin + std::min(kAudioSample, seg.end - seg.begin);
            AudioState trial = audio;
            trial.start_block(count);
            const int first_channel = trial.current;
            bool take_audio = seg.continues && audio_before;
            if (!take_audio) {
                parser.parse(seg.begin, sample_end, lz_history, symbols);
                const uint64_t lz_bits = plan_lz_blocks(writer, symbols, lz_blocks).bits;
                samples.clear();
                code_audio(image, seg.begin, sample_end, count, trial, samples);
                take_audio = plan_audio_blocks(writer, samples, count, first_channel).bits < lz_bits;
            }
            if (take_audio) {
                audio_won = true;
                trial = audio;
                trial.start_block(count);
                samples.clear();
                code_audio(image, seg.begin, seg.end, count, trial, samples);
                const BlockPlan audio_plan = plan_audio_blocks(writer, samples, count, first_channel);
                write_audio_blocks(writer, samples, count, first_channel, audio_plan, last);
                audio = trial;
                parser.pass_over(seg.end);
                stats.audio_blocks += audio_plan.ends.size();
                stats.audio_bytes += samples.size();
                continue;
            }
            parser.parse(sample_end, seg.end, lz_history, symbols);
        } else {
            parser.parse(seg.begin, seg.end, lz_history, symbols);
        }
        const BlockPlan lz_plan = plan_lz_blocks(writer, symbols, lz_blocks);

        LzHistogram coded;
        write_lz_blocks(writer, symbols, lz_plan, last, coded);
        history = lz_history;
        stats.lz_blocks += lz_plan.ends.size();
        count_symbols(symbols, stats);
        learnt = coded;
        parser.learn(learnt);
    }
    stats.kept_tables = writer.kept_tables();
    if (statistics) *statistics = stats;
    return writer.finish();
}

std::vector<uint8_t> pack_stream(std::span<const uint8_t> image, const EncoderOptions& options,
                                 EncoderStatistics* statistics) {
    std::vector<uint8_t> stream = pack_stream_plain(image, options, statistics);
    scramble_stream(stream);
    return stream;
}

}  // namespace lumo
