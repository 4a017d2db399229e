#include "tools/encoder/part_encoder.h"

#include <algorithm>
#include <cassert>

#include "tools/encoder/blocks.h"
#include "tools/encoder/lz_parser.h"
#include "tools/encoder/stream_symbols.h"
#include "tools/encoder/thread_clock.h"

namespace lumo {

namespace {

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

// Takes the window before the part into the parser's match finder, as the
// stretches there were coded: LZ stretches are recorded, audio ones passed over.
void take_in_window(LzParser& parser, const StreamPlan& plan, const Part& part, uint32_t view_begin) {
    size_t first = part.first_stretch;
    while (first > 0 && plan.stretches[first - 1].end > view_begin) --first;
    for (size_t i = first; i < part.first_stretch; ++i) {
        const Stretch& s = plan.stretches[i];
        const uint32_t begin = std::max(s.begin, view_begin) - view_begin;
        const uint32_t end = s.end - view_begin;
        if (s.audio) {
            parser.remember(begin);
            parser.pass_over(end);
        } else {
            parser.remember(end);
        }
    }
}

}  // namespace

PartAudio code_part_audio(const ImageSource& image, const StreamPlan& plan, size_t part, AudioState& state) {
    PartAudio audio;
    const Part& p = plan.parts[part];
    for (size_t i = p.first_stretch; i < p.end_stretch; ++i) {
        const Stretch& s = plan.stretches[i];
        if (!s.audio) continue;
        const std::vector<uint8_t> samples = read_range(image, s.begin, s.end);
        state.start_block(s.channels);
        audio.first_channel.push_back(state.current);
        code_audio(samples, 0, uint32_t(samples.size()), s.channels, state, audio.symbols);
    }
    return audio;
}

CodedPart encode_part(const ImageSource& image, const StreamPlan& plan, size_t part, const PartAudio& audio,
                      int level) {
    const double started = thread_processor_seconds();
    const Part& p = plan.parts[part];
    const bool last_part = part + 1 == plan.parts.size();
    const uint32_t view_begin = p.begin > kWindowSize ? p.begin - kWindowSize : 0;
    const std::vector<uint8_t> view = read_range(image, view_begin, p.end);

    CodedPart coded;
    EncoderStatistics& stats = coded.statistics;
    const BlockSearch lz_blocks = level >= 7 ? kFineLzBlocks : kCoarseLzBlocks;
    StreamWriter writer(level >= 7, part == 0 ? StreamWriter::Start::stream : StreamWriter::Start::unknown_lengths);
    writer.bits().reserve(size_t(p.end - p.begin) + (p.end - p.begin) / 16 + 65536);
    LzParser parser(view, level);
    take_in_window(parser, plan, p, view_begin);
    MatchHistory history;
    std::vector<LzSymbol> symbols;
    size_t audio_stretch = 0, audio_symbol = 0;

    for (size_t i = p.first_stretch; i < p.end_stretch; ++i) {
        const Stretch& s = plan.stretches[i];
        const bool last = last_part && i + 1 == p.end_stretch;
        const uint32_t begin = s.begin - view_begin, end = s.end - view_begin;
        if (s.audio) {
            const std::span<const uint8_t> errors(audio.symbols.data() + audio_symbol, end - begin);
            const int first_channel = audio.first_channel[audio_stretch++];
            audio_symbol += errors.size();
            const BlockPlan blocks = plan_audio_blocks(writer, errors, s.channels, first_channel);
            write_audio_blocks(writer, errors, s.channels, first_channel, blocks, last);
            stats.audio_blocks += blocks.ends.size();
            stats.audio_bytes += errors.size();
            parser.pass_over(end);
            continue;
        }
        symbols.clear();
        parser.parse(begin, end, history, symbols);
        const BlockPlan blocks = plan_lz_blocks(writer, symbols, lz_blocks);
        LzHistogram histogram;
        write_lz_blocks(writer, symbols, blocks, last, histogram);
        stats.lz_blocks += blocks.ends.size();
        count_symbols(symbols, stats);
        parser.learn(histogram);
    }
    assert(audio_symbol == audio.symbols.size());
    stats.kept_tables = writer.kept_tables();
    coded.bits = writer.bits().bit_count();
    coded.bytes = writer.bits().finish();
    coded.seconds = thread_processor_seconds() - started;
    return coded;
}

}  // namespace lumo
