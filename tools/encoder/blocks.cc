#include "tools/encoder/blocks.h"

#include <algorithm>
#include <array>

#include "tools/encoder/code_lengths.h"

namespace lumo {

namespace {

// Blocks are built from chunks of this many symbols: a chunk joins the block
// before unless tables of its own save more than their code-length block.
constexpr size_t kAudioChunk = 32768;

std::vector<uint8_t> lz_lengths(const LzHistogram& h) {
    std::vector<uint8_t> lengths = limited_code_lengths(h.main);
    const std::vector<uint8_t> d = limited_code_lengths(h.distance);
    const std::vector<uint8_t> r = limited_code_lengths(h.repeat_length);
    lengths.insert(lengths.end(), d.begin(), d.end());
    lengths.insert(lengths.end(), r.begin(), r.end());
    return lengths;
}

uint64_t lz_block_bits(const StreamWriter& writer, LzHistogram h) {
    ++h.main[kLzSwitchSymbol];
    const std::vector<uint8_t> lengths = lz_lengths(h);
    std::span<const uint8_t> all(lengths);
    return writer.tables_bits(BlockKind{}, all) + coded_bits(h.main, all.first(kMainSymbols)) +
           coded_bits(h.distance, all.subspan(kMainSymbols, kDistanceSymbols)) +
           coded_bits(h.repeat_length, all.subspan(kMainSymbols + kDistanceSymbols));
}

struct AudioHistogram {
    std::array<std::array<uint64_t, kAudioSymbols>, kMaxChannels> counts{};
    void add(const AudioHistogram& o) {
        for (size_t c = 0; c < counts.size(); ++c)
            for (size_t s = 0; s < kAudioSymbols; ++s) counts[c][s] += o.counts[c][s];
    }
};

std::vector<uint8_t> audio_lengths(const AudioHistogram& h, int channels) {
    std::vector<uint8_t> lengths;
    for (int c = 0; c < channels; ++c) {
        const std::vector<uint8_t> l = limited_code_lengths(h.counts[size_t(c)]);
        lengths.insert(lengths.end(), l.begin(), l.end());
    }
    return lengths;
}

uint64_t audio_block_bits(const StreamWriter& writer, AudioHistogram h, int channels) {
    ++h.counts[0][kAudioSwitchSymbol];
    const std::vector<uint8_t> lengths = audio_lengths(h, channels);
    uint64_t bits = writer.tables_bits(BlockKind{true, channels}, lengths);
    for (int c = 0; c < channels; ++c)
        bits += coded_bits(h.counts[size_t(c)], std::span(lengths).subspan(size_t(c) * kAudioSymbols, kAudioSymbols));
    return bits;
}

// Chunks become blocks bottom-up: neighbours merge, the pair that saves the
// most first, while a merge saves bits (one table fewer against tables that
// fit each part better). `price` gives a block's bits, tables included.
template <typename Histogram, typename Price>
BlockPlan plan_blocks(size_t count, size_t chunk, const std::vector<Histogram>& chunks, Price price) {
    BlockPlan plan;
    if (count == 0) {
        plan.ends.push_back(0);
        plan.bits = price(Histogram{});
        return plan;
    }
    struct Block {
        Histogram histogram;
        uint64_t bits;
        size_t end;
    };
    std::vector<Block> blocks;
    for (size_t i = 0; i < chunks.size(); ++i)
        blocks.push_back({chunks[i], price(chunks[i]), std::min(count, (i + 1) * chunk)});
    // merged[i]: bits of blocks i and i + 1 as one.
    auto merged_price = [&](size_t i) {
        Histogram h = blocks[i].histogram;
        h.add(blocks[i + 1].histogram);
        return price(h);
    };
    std::vector<uint64_t> merged;
    for (size_t i = 0; i + 1 < blocks.size(); ++i) merged.push_back(merged_price(i));
    for (;;) {
        size_t best = blocks.size();
        int64_t best_saving = 0;
        for (size_t i = 0; i + 1 < blocks.size(); ++i) {
            const int64_t saving = int64_t(blocks[i].bits + blocks[i + 1].bits) - int64_t(merged[i]);
            if (saving >= best_saving) {  // ties merge too: fewer tables
                if (saving > best_saving || best == blocks.size()) {
                    best = i;
                    best_saving = saving;
                }
            }
        }
        if (best == blocks.size()) break;
        blocks[best].histogram.add(blocks[best + 1].histogram);
        blocks[best].bits = merged[best];
        blocks[best].end = blocks[best + 1].end;
        blocks.erase(blocks.begin() + ptrdiff_t(best) + 1);
        merged.erase(merged.begin() + ptrdiff_t(best));
        if (best + 1 < blocks.size()) merged[best] = merged_price(best);
        if (best > 0) merged[best - 1] = merged_price(best - 1);
    }
    for (const Block& b : blocks) {
        plan.ends.push_back(b.end);
        plan.bits += b.bits;
    }
    return plan;
}

}  // namespace

BlockPlan plan_lz_blocks(const StreamWriter& writer, std::span<const LzSymbol> symbols, size_t chunk) {
    std::vector<LzHistogram> chunks;
    for (size_t at = 0; at < symbols.size(); at += chunk) {
        LzHistogram h;
        for (const LzSymbol& s : symbols.subspan(at, std::min(chunk, symbols.size() - at))) h.add(s);
        chunks.push_back(h);
    }
    BlockPlan plan = plan_blocks(symbols.size(), chunk, chunks,
                                 [&](const LzHistogram& h) { return lz_block_bits(writer, h); });
    plan.bits += extra_bits(symbols);
    return plan;
}

void write_lz_blocks(StreamWriter& writer, std::span<const LzSymbol> symbols, const BlockPlan& plan,
                     bool last_in_stream, LzHistogram& histogram) {
    size_t begin = 0;
    for (size_t b = 0; b < plan.ends.size(); ++b) {
        const size_t end = plan.ends[b];
        const bool switch_after = !(last_in_stream && b + 1 == plan.ends.size());
        LzHistogram h;
        for (size_t i = begin; i < end; ++i) h.add(symbols[i]);
        histogram.add(h);
        if (switch_after) ++h.main[kLzSwitchSymbol];
        const std::vector<uint8_t> lengths = lz_lengths(h);
        writer.write_tables(BlockKind{}, lengths);
        const std::span<const uint8_t> all(lengths);
        const std::vector<uint16_t> main = canonical_codes(all.first(kMainSymbols));
        const std::vector<uint16_t> distance = canonical_codes(all.subspan(kMainSymbols, kDistanceSymbols));
        const std::vector<uint16_t> repeat_length = canonical_codes(all.subspan(kMainSymbols + kDistanceSymbols));
        const uint8_t* main_len = &lengths[0];
        const uint8_t* distance_len = &lengths[kMainSymbols];
        const uint8_t* repeat_len = &lengths[kMainSymbols + kDistanceSymbols];
        BitWriter& out = writer.bits();
        for (size_t i = begin; i < end; ++i) {
            const LzSymbol& s = symbols[i];
            out.put(main[s.main], main_len[s.main]);
            out.put(s.pre_extra, s.pre_bits);
            if (s.is_long()) out.put(distance[s.sub], distance_len[s.sub]);
            if (s.is_old()) out.put(repeat_length[s.sub], repeat_len[s.sub]);
            out.put(s.post_extra, s.post_bits);
        }
        if (switch_after) out.put(main[kLzSwitchSymbol], main_len[kLzSwitchSymbol]);
        begin = end;
    }
}

BlockPlan plan_audio_blocks(const StreamWriter& writer, std::span<const uint8_t> symbols, int channels,
                            int first_channel) {
    std::vector<AudioHistogram> chunks;
    for (size_t at = 0; at < symbols.size(); at += kAudioChunk) {
        AudioHistogram h;
        const size_t end = std::min(symbols.size(), at + kAudioChunk);
        size_t c = (size_t(first_channel) + at) % size_t(channels);
        for (size_t i = at; i < end; ++i) {
            ++h.counts[c][symbols[i]];
            if (++c == size_t(channels)) c = 0;
        }
        chunks.push_back(h);
    }
    return plan_blocks(symbols.size(), kAudioChunk, chunks,
                       [&](const AudioHistogram& h) { return audio_block_bits(writer, h, channels); });
}

void write_audio_blocks(StreamWriter& writer, std::span<const uint8_t> symbols, int channels,
                        int first_channel, const BlockPlan& plan, bool last_in_stream) {
    size_t begin = 0;
    for (size_t b = 0; b < plan.ends.size(); ++b) {
        const size_t end = plan.ends[b];
        const bool switch_after = !(last_in_stream && b + 1 == plan.ends.size());
        auto channel_of = [&](size_t i) { return (size_t(first_channel) + i) % size_t(channels); };
        AudioHistogram h;
        for (size_t i = begin, c = channel_of(begin); i < end; ++i) {
            ++h.counts[c][symbols[i]];
            if (++c == size_t(channels)) c = 0;
        }
        if (switch_after) ++h.counts[channel_of(end)][kAudioSwitchSymbol];
        const std::vector<uint8_t> lengths = audio_lengths(h, channels);
        writer.write_tables(BlockKind{true, channels}, lengths);
        std::vector<std::vector<uint16_t>> codes;
        for (int c = 0; c < channels; ++c)
            codes.push_back(canonical_codes(std::span(lengths).subspan(size_t(c) * kAudioSymbols, kAudioSymbols)));
        BitWriter& out = writer.bits();
        for (size_t i = begin, c = channel_of(begin); i < end; ++i) {
            out.put(codes[c][symbols[i]], lengths[c * kAudioSymbols + symbols[i]]);
            if (++c == size_t(channels)) c = 0;
        }
        if (switch_after) {
            const size_t c = channel_of(end);
            out.put(codes[c][kAudioSwitchSymbol], lengths[c * kAudioSymbols + kAudioSwitchSymbol]);
        }
        begin = end;
    }
}

}  // namespace lumo
