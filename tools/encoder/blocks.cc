#include "tools/encoder/blocks.h"

#include <algorithm>
#include <array>
#include <queue>

#include "tools/encoder/code_lengths.h"

namespace lumo {

namespace {

// Blocks are built from chunks of this many symbols: a chunk joins the block
// before unless tables of its own save more than their code-length block.
constexpr size_t kAudioChunk = 32768;

std::vector<uint8_t> lz_lengths(const LzHistogram& h) {
    std::vector<uint8_t> lengths(kLzTableSize);
    const std::span<uint8_t> all(lengths);
    limited_code_lengths(h.main, all.first(kMainSymbols));
    limited_code_lengths(h.distance, all.subspan(kMainSymbols, kDistanceSymbols));
    limited_code_lengths(h.repeat_length, all.subspan(kMainSymbols + kDistanceSymbols));
    return lengths;
}

// Counts made equal over stretches of at least four used symbols whose counts
// lie within a factor of num / den of each other, so that their code lengths
// come out equal and the code-length block codes them as runs.
void smooth_counts(std::span<uint64_t> counts, uint64_t num, uint64_t den) {
    size_t i = 0;
    while (i < counts.size()) {
        if (counts[i] == 0) {
            ++i;
            continue;
        }
        uint64_t low = counts[i], high = counts[i], sum = counts[i];
        size_t j = i + 1;
        for (; j < counts.size() && counts[j] != 0; ++j) {
            const uint64_t l = std::min(low, counts[j]), h = std::max(high, counts[j]);
            if (h * den > l * num) break;
            low = l;
            high = h;
            sum += counts[j];
        }
        if (j - i >= 4) {
            const uint64_t average = std::max<uint64_t>(1, (sum + (j - i) / 2) / (j - i));
            std::fill(counts.begin() + ptrdiff_t(i), counts.begin() + ptrdiff_t(j), average);
        }
        i = j;
    }
}

// The code lengths a block with the symbols of `h` is written with: the
// optimal ones, or ones from smoothed counts where the code-length block they
// save is worth more than the bits they cost the symbols.
std::vector<uint8_t> lz_lengths_to_write(const StreamWriter& writer, const LzHistogram& h) {
    auto total = [&](const std::vector<uint8_t>& lengths) {
        const std::span<const uint8_t> all(lengths);
        return writer.written_tables_bits(BlockKind{}, all) + coded_bits(h.main, all.first(kMainSymbols)) +
               coded_bits(h.distance, all.subspan(kMainSymbols, kDistanceSymbols)) +
               coded_bits(h.repeat_length, all.subspan(kMainSymbols + kDistanceSymbols));
    };
    std::vector<uint8_t> best = lz_lengths(h);
    if (!writer.thorough()) return best;
    uint64_t best_bits = total(best);
    for (const auto& [num, den] : {std::pair<uint64_t, uint64_t>{2, 1}, {4, 1}, {8, 1}}) {
        LzHistogram smooth = h;
        smooth_counts(smooth.main, num, den);
        smooth_counts(smooth.distance, num, den);
        smooth_counts(smooth.repeat_length, num, den);
        std::vector<uint8_t> lengths = lz_lengths(smooth);
        const uint64_t bits = total(lengths);
        if (bits < best_bits) {
            best_bits = bits;
            best = std::move(lengths);
        }
    }
    return best;
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

template <typename Histogram>
struct Block {
    Histogram histogram;
    uint64_t bits;  // exact, tables included
    size_t end;     // exclusive symbol index
};

// Blocks merge bottom-up: neighbours merge, the pair that saves the most
// first, while a merge saves bits (one table fewer against tables that fit
// each part better). `price` gives a block's bits, tables included.
template <typename Histogram, typename Price>
void merge_blocks(std::vector<Block<Histogram>>& blocks, Price price) {
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
}

// Pieces of `chunk` symbols as blocks of their own, each priced.
template <typename Histogram, typename Count, typename Price>
std::vector<Block<Histogram>> chunk_blocks(size_t count, size_t chunk, Count count_piece, Price price) {
    std::vector<Block<Histogram>> blocks((count + chunk - 1) / chunk);
    for (size_t i = 0; i < blocks.size(); ++i) {
        Block<Histogram>& b = blocks[i];
        b.end = std::min(count, (i + 1) * chunk);
        count_piece(i * chunk, b.end, b.histogram);
        b.bits = price(b.histogram);
    }
    return blocks;
}

template <typename Histogram>
BlockPlan plan_of(const std::vector<Block<Histogram>>& blocks) {
    BlockPlan plan;
    for (const Block<Histogram>& b : blocks) {
        plan.ends.push_back(b.end);
        plan.bits += b.bits;
    }
    return plan;
}

// x log2 x in 1/65536 bit for the small counts, the most frequent ones.
struct SmallLog2 {
    static constexpr size_t kSize = 4096;
    std::vector<uint64_t> x_log2_x;
    SmallLog2() : x_log2_x(kSize, 0) {
        for (uint64_t i = 2; i < kSize; ++i) x_log2_x[i] = i * log2_scaled(i);
    }
};
const SmallLog2 kSmallLog2;

inline uint64_t x_log2_x(uint64_t x) {
    return x < SmallLog2::kSize ? kSmallLog2.x_log2_x[x] : x * log2_scaled(x);
}

// Bits the symbols counted in `a` and `b` together take under an ideal code,
// in 1/65536 bit.
template <size_t N>
uint64_t ideal_bits(const std::array<uint64_t, N>& a, const std::array<uint64_t, N>& b) {
    uint64_t total = 0, sum = 0;
    for (size_t s = 0; s < N; ++s) {
        const uint64_t c = a[s] + b[s];
        if (c == 0) continue;
        total += c;
        sum += x_log2_x(c);
    }
    return x_log2_x(total) - sum;
}

// Estimated bits of a block holding the symbols of `a` and `b`.
uint64_t lz_estimate(const LzHistogram& a, const LzHistogram& b) {
    // What a code-length block roughly costs beside the ideal code's bits.
    constexpr uint64_t kTableEstimate = uint64_t(300) << 16;
    return ideal_bits(a.main, b.main) + ideal_bits(a.distance, b.distance) +
           ideal_bits(a.repeat_length, b.repeat_length) + kTableEstimate;
}

// The first merge rounds over many small pieces, by estimated sizes: the pair
// of neighbours that saves the most merges first, as long as one saves. A
// queue of candidate merges keeps this fast; entries that a merge made stale
// are recognised by the versions of their blocks.
std::vector<Block<LzHistogram>> merge_by_estimate(std::vector<Block<LzHistogram>> pieces) {
    struct Node {
        uint64_t estimate;
        int prev, next;
        uint32_t version;
    };
    static const LzHistogram none;
    std::vector<Node> nodes(pieces.size());
    for (size_t i = 0; i < pieces.size(); ++i)
        nodes[i] = {lz_estimate(pieces[i].histogram, none), int(i) - 1, i + 1 < pieces.size() ? int(i) + 1 : -1, 0};
    struct Candidate {
        int64_t saving;
        int left;
        uint32_t left_version, right_version;
        bool operator<(const Candidate& o) const {
            return saving != o.saving ? saving < o.saving : left > o.left;  // ties: the leftmost first
        }
    };
    std::priority_queue<Candidate> queue;
    auto offer = [&](int left) {
        const int right = nodes[size_t(left)].next;
        if (right < 0) return;
        const int64_t saving = int64_t(nodes[size_t(left)].estimate + nodes[size_t(right)].estimate) -
                               int64_t(lz_estimate(pieces[size_t(left)].histogram, pieces[size_t(right)].histogram));
        if (saving >= 0) queue.push({saving, left, nodes[size_t(left)].version, nodes[size_t(right)].version});
    };
    for (size_t i = 0; i + 1 < pieces.size(); ++i) offer(int(i));
    while (!queue.empty()) {
        const Candidate c = queue.top();
        queue.pop();
        Node& left = nodes[size_t(c.left)];
        if (left.version != c.left_version || left.next < 0 || nodes[size_t(left.next)].version != c.right_version)
            continue;
        const int right = left.next;
        Node& r = nodes[size_t(right)];
        pieces[size_t(c.left)].histogram.add(pieces[size_t(right)].histogram);
        pieces[size_t(c.left)].end = pieces[size_t(right)].end;
        left.estimate = lz_estimate(pieces[size_t(c.left)].histogram, none);
        left.next = r.next;
        ++left.version;
        ++r.version;  // gone: no entry with it stays valid
        if (left.next >= 0) nodes[size_t(left.next)].prev = c.left;
        offer(c.left);
        if (left.prev >= 0) offer(left.prev);
    }
    std::vector<Block<LzHistogram>> blocks;
    for (int i = pieces.empty() ? -1 : 0; i >= 0; i = nodes[size_t(i)].next) blocks.push_back(pieces[size_t(i)]);
    return blocks;
}

// Moves each boundary between blocks by up to 8 pieces of `chunk` symbols
// (pieces: the histograms of those pieces) where both blocks together come
// out smaller.
template <typename Price>
void refine_boundaries(std::vector<Block<LzHistogram>>& blocks, const std::vector<LzHistogram>& pieces,
                       size_t chunk, size_t count, Price price) {
    for (size_t b = 0; b + 1 < blocks.size(); ++b) {
        Block<LzHistogram>& left = blocks[b];
        Block<LzHistogram>& right = blocks[b + 1];
        const size_t first = (b == 0 ? 0 : blocks[b - 1].end) / chunk;  // first piece of the left block
        const size_t boundary = left.end / chunk;
        const size_t last = (right.end + chunk - 1) / chunk;  // one past the right block's last piece
        uint64_t best = left.bits + right.bits;
        size_t best_at = boundary;
        std::array<uint64_t, 2> best_bits{left.bits, right.bits};
        for (int shift : {-8, -4, -2, -1, 1, 2, 4, 8}) {
            const int64_t at = int64_t(boundary) + shift;
            if (at <= int64_t(first) || at >= int64_t(last)) continue;
            LzHistogram l = left.histogram, r = right.histogram;
            for (size_t p = std::min(size_t(at), boundary); p < std::max(size_t(at), boundary); ++p) {
                LzHistogram& from = shift < 0 ? l : r;
                LzHistogram& to = shift < 0 ? r : l;
                for (size_t s = 0; s < from.main.size(); ++s) from.main[s] -= pieces[p].main[s], to.main[s] += pieces[p].main[s];
                for (size_t s = 0; s < from.distance.size(); ++s) from.distance[s] -= pieces[p].distance[s], to.distance[s] += pieces[p].distance[s];
                for (size_t s = 0; s < from.repeat_length.size(); ++s) from.repeat_length[s] -= pieces[p].repeat_length[s], to.repeat_length[s] += pieces[p].repeat_length[s];
            }
            const uint64_t lb = price(l), rb = price(r);
            if (lb + rb < best) {
                best = lb + rb;
                best_at = size_t(at);
                best_bits = {lb, rb};
            }
        }
        if (best_at == boundary) continue;
        left.histogram = LzHistogram{};
        right.histogram = LzHistogram{};
        for (size_t p = first; p < best_at; ++p) left.histogram.add(pieces[p]);
        for (size_t p = best_at; p < last; ++p) right.histogram.add(pieces[p]);
        left.end = std::min(count, best_at * chunk);
        left.bits = best_bits[0];
        right.bits = best_bits[1];
    }
}

}  // namespace

BlockPlan plan_lz_blocks(const StreamWriter& writer, std::span<const LzSymbol> symbols, BlockSearch search) {
    auto price = [&](const LzHistogram& h) { return lz_block_bits(writer, h); };
    auto count_piece = [&](size_t begin, size_t end, LzHistogram& h) {
        for (size_t i = begin; i < end; ++i) h.add(symbols[i]);
    };
    if (symbols.empty()) {
        BlockPlan plan;
        plan.ends.push_back(0);
        plan.bits = price(LzHistogram{});
        return plan;
    }
    std::vector<Block<LzHistogram>> blocks;
    std::vector<LzHistogram> pieces;
    if (search.estimate) {
        blocks = chunk_blocks<LzHistogram>(symbols.size(), search.chunk, count_piece,
                                           [](const LzHistogram&) { return uint64_t(0); });
        if (search.refine)
            for (const Block<LzHistogram>& b : blocks) pieces.push_back(b.histogram);
        blocks = merge_by_estimate(std::move(blocks));
        for (Block<LzHistogram>& b : blocks) b.bits = price(b.histogram);
    } else {
        blocks = chunk_blocks<LzHistogram>(symbols.size(), search.chunk, count_piece, price);
    }
    merge_blocks(blocks, price);
    if (search.refine) {
        if (pieces.empty())
            for (size_t at = 0; at < symbols.size(); at += search.chunk) {
                pieces.emplace_back();
                count_piece(at, std::min(symbols.size(), at + search.chunk), pieces.back());
            }
        refine_boundaries(blocks, pieces, search.chunk, symbols.size(), price);
    }
    BlockPlan plan = plan_of(blocks);
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
        const std::vector<uint8_t> lengths = lz_lengths_to_write(writer, h);
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
    auto price = [&](const AudioHistogram& h) { return audio_block_bits(writer, h, channels); };
    if (symbols.empty()) {
        BlockPlan plan;
        plan.ends.push_back(0);
        plan.bits = price(AudioHistogram{});
        return plan;
    }
    auto count_piece = [&](size_t begin, size_t end, AudioHistogram& h) {
        size_t c = (size_t(first_channel) + begin) % size_t(channels);
        for (size_t i = begin; i < end; ++i) {
            ++h.counts[c][symbols[i]];
            if (++c == size_t(channels)) c = 0;
        }
    };
    std::vector<Block<AudioHistogram>> blocks =
        chunk_blocks<AudioHistogram>(symbols.size(), kAudioChunk, count_piece, price);
    merge_blocks(blocks, price);
    return plan_of(blocks);
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
