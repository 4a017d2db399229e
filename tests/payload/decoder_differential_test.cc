// The fast decoder against the reference decoder: the same output bytes and
// the same progress reports for random bytes, for streams with a valid start
// and random bits behind it, for structured streams of every symbol kind
// (matches across the window end, table switches, audio blocks) and for
// those streams with bits flipped.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "payload/match_tables.h"
#include "payload/stream_decoders.h"
#include "tests/support/bit_writer.h"
#include "tests/support/recording_sink.h"

namespace lumo {
namespace {

using test::BitWriter;
using test::PrefixCode;
using test::RecordingSink;

using Decoder = int32_t (*)(const uint8_t*, const uint8_t*, uint8_t*, uint8_t*, ProgressSink&,
                            uint8_t*);

struct Result {
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> reports;
    int32_t answer = -1;  // whether the stream filled the output by itself
};

// `window_seed` 0: the zeroed window the installer starts from; otherwise
// starting contents made from it, which the decoders must read alike where
// a distance reaches before the first byte.
Result run(Decoder decoder, const std::vector<uint8_t>& stored, size_t size, uint32_t window_seed) {
    Result r;
    r.bytes.assign(size, 0xEE);
    RecordingSink sink;
    auto window = allocate_window();
    if (window_seed != 0) {
        std::mt19937 fill(window_seed);
        for (size_t i = 0; i < window_size; ++i) window[i] = uint8_t(fill());
    }
    r.answer = decoder(stored.data(), stored.data() + stored.size(), r.bytes.data(), r.bytes.data() + size,
                       sink, window.get());
    r.reports = sink.reports;
    return r;
}

void expect_same(const std::vector<uint8_t>& stored, size_t size, const std::string& what,
                 uint32_t window_seed = 0) {
    const Result slow = run(unpack_stream_reference, stored, size, window_seed);
    const Result fast = run(unpack_stream_fast, stored, size, window_seed);
    ASSERT_EQ(fast.reports, slow.reports) << what;
    const auto differ = std::mismatch(fast.bytes.begin(), fast.bytes.end(), slow.bytes.begin());
    ASSERT_TRUE(differ.first == fast.bytes.end())
        << what << ": bytes differ from offset " << (differ.first - fast.bytes.begin());
    ASSERT_EQ(fast.answer, slow.answer) << what;
}

// Random code lengths: mostly a flat code with some symbols removed (an
// incomplete code) or shortened (over-subscribed), sometimes pure noise.
std::vector<uint8_t> random_lengths(std::mt19937& rng, size_t count, uint8_t flat) {
    std::vector<uint8_t> l(count, flat);
    const int style = int(rng() % 4);
    for (auto& x : l) {
        const uint32_t r = rng() % 100;
        if (style == 0) continue;                  // complete flat code
        if (style == 1 && r < 20) x = 0;           // incomplete
        if (style == 2 && r < 3) x = uint8_t(1 + rng() % flat);  // over-subscribed
        if (style == 3) x = uint8_t(rng() % 16);   // noise
    }
    return l;
}

// Writes a structured stream of about `target` output bytes.
std::vector<uint8_t> structured_stream(std::mt19937& rng, size_t target) {
    BitWriter w;
    bool audio = false;
    unsigned channels = 1;
    PrefixCode main = PrefixCode::flat(298, 9), distance = PrefixCode::flat(48, 6),
               repeat = PrefixCode::flat(28, 5);
    std::array<PrefixCode, 4> audio_codes = {PrefixCode::flat(257, 9), PrefixCode::flat(257, 9),
                                             PrefixCode::flat(257, 9), PrefixCode::flat(257, 9)};
    unsigned channel = 0;
    auto new_block = [&] {
        audio = rng() % 4 == 0;
        std::vector<uint8_t> lengths;
        if (audio) {
            channels = 1 + rng() % 4;
            if (channel >= channels) channel = 0;
            for (unsigned k = 0; k < channels; ++k) {
                auto l = random_lengths(rng, 257, 9);
                l[256] = 9;  // keep the table switch reachable
                audio_codes[k] = PrefixCode(l);
                lengths.insert(lengths.end(), l.begin(), l.end());
            }
        } else {
            auto m = random_lengths(rng, 298, 9);
            m[269] = 9;
            auto d = random_lengths(rng, 48, 6);
            auto r = random_lengths(rng, 28, 5);
            main = PrefixCode(m);
            distance = PrefixCode(d);
            repeat = PrefixCode(r);
            lengths = m;
            lengths.insert(lengths.end(), d.begin(), d.end());
            lengths.insert(lengths.end(), r.begin(), r.end());
        }
        test::put_code_length_block(w, audio, false, channels, lengths);
    };
    auto has = [](const PrefixCode& c, uint32_t s) { return c.lengths()[s] != 0; };
    auto put_any = [&](const PrefixCode& c, uint32_t s) {
        while (!has(c, s)) s = (s + 1) % c.lengths().size();
        c.put(w, s);
        return s;
    };

    new_block();
    size_t produced = 0;
    while (produced < target) {
        if (rng() % 3000 == 0) {
            main.put(w, 269);
            if (audio) audio_codes[channel].put(w, 256);
            new_block();
            continue;
        }
        if (audio) {
            put_any(audio_codes[channel], rng() % 256);
            channel = (channel + 1) % channels;
            produced += 1;
            continue;
        }
        const uint32_t kind = rng() % 100;
        if (kind < 45) {
            put_any(main, rng() % 256);
            produced += 1;
        } else if (kind < 75) {
            const uint32_t s = put_any(main, 270 + rng() % 28);
            if (s >= 270) {
                const unsigned lb = s - 270 < 8 ? 0 : (s - 270 - 4) / 4;
                w.put(rng(), lb);
                // Mostly near, sometimes anywhere in the window.
                const uint32_t ds = put_any(distance, rng() % 4 ? rng() % 20 : rng() % 48);
                w.put(rng(), ds < 4 ? 0 : ds < 34 ? (ds - 2) / 2 : 16);
            }
            produced += 100;
        } else if (kind < 85) {
            const uint32_t s = put_any(main, 257 + rng() % 4);
            if (s >= 257 && s <= 260) {
                const uint32_t r = put_any(repeat, rng() % 28);
                w.put(rng(), r < 8 ? 0 : (r - 4) / 4);
            }
            produced += 20;
        } else if (kind < 97) {
            const uint32_t s = put_any(main, 261 + rng() % 8);
            static const unsigned bits[8] = {2, 2, 3, 4, 5, 6, 6, 6};
            if (s >= 261 && s <= 268) w.put(rng(), bits[s - 261]);
            produced += 2;
        } else {
            put_any(main, 256);
            produced += 10;
        }
    }
    return test::scramble(w.bytes());
}

TEST(DecoderDifferential, RandomBytes) {
    std::mt19937 rng(1);
    for (int i = 0; i < 300; ++i) {
        std::vector<uint8_t> stored(rng() % 3 == 0 ? rng() % 16 : rng() % 20000);
        for (auto& b : stored) b = uint8_t(rng());
        const size_t size = i % 25 == 0 ? rng() % 1500000 : rng() % 40000;
        expect_same(stored, size, "random " + std::to_string(i));
    }
}

TEST(DecoderDifferential, StructuredStreams) {
    std::mt19937 rng(2);
    for (int i = 0; i < 40; ++i) {
        const size_t target = i % 8 == 0 ? 1500000 + rng() % 1000000 : rng() % 100000;
        const auto stored = structured_stream(rng, target);
        // Ask for fewer, about as many and more bytes than the stream holds.
        const size_t size = target - target / 5 + rng() % (target / 2 + 1);
        expect_same(stored, size, std::string("structured ") + std::to_string(i));
    }
}

// The last block is dropped whole when it runs past the output's end:
// sizes on either side of where a block's end can fall (a flush is due
// 1048307 bytes into a block, a pass writes up to 260 bytes) and of the
// window size, for one block and for several.
TEST(DecoderDifferential, OutputSizesAroundBlockEnds) {
    std::mt19937 rng(4);
    for (const size_t block : {size_t(0), size_t(1048307), size_t(2 * 1048307 + 130)}) {
        for (const size_t near : {size_t(1048307), size_t(1048566), size_t(1048576)}) {
            for (const int offset : {-261, -260, -1, 0, 1, 259, 260}) {
                const size_t size = block + near + size_t(offset);
                const auto stored = structured_stream(rng, size + 20000);
                expect_same(stored, size, "size " + std::to_string(size));
            }
        }
    }
}

// Damaged streams over windows with starting contents: distances before the
// first byte, and distance 0, read the window's untouched positions.
TEST(DecoderDifferential, WindowContentsBeforeTheFirstByte) {
    std::mt19937 rng(5);
    for (int i = 0; i < 24; ++i) {
        const size_t size = i % 3 == 0 ? 1200000 + rng() % 1500000 : 20000 + rng() % 200000;
        auto stored = structured_stream(rng, size);
        for (int f = 0; f < i % 4; ++f) stored[rng() % stored.size()] ^= uint8_t(1 << (rng() % 8));
        expect_same(stored, size, "window " + std::to_string(i), 1000 + uint32_t(i));
    }
}

// Images longer than the decoder's buffer, which is compacted every few
// blocks: matches reach back across the moved history, and the sizes fall
// on either side of a compaction.
TEST(DecoderDifferential, ImagesLongerThanTheBuffer) {
    std::mt19937 rng(6);
    for (int i = 0; i < 4; ++i) {
        const size_t size = 9 * 1048307 + rng() % 5000000;
        auto stored = structured_stream(rng, size + (i % 2 ? 0 : 30000));
        if (i == 3) stored[stored.size() / 2] ^= 0x10;
        expect_same(stored, size, "long " + std::to_string(i), i == 2 ? 77 : 0);
    }
}

// A reader that holds on to every block until the decoder asks for its
// place, as the installer's writer does: each block must still hold what
// it held when it was emitted, until the reader lets go of it.
class LaggingReader final : public ImageOutput {
public:
    struct Held {
        const uint8_t* bytes;
        uint64_t position;
        std::vector<uint8_t> copy;
    };
    std::vector<uint8_t> image;
    std::vector<Held> held;
    int reuses = 0;

    bool emit(const uint8_t* bytes, uint32_t n) override {
        held.push_back({bytes, image.size(), std::vector<uint8_t>(bytes, bytes + n)});
        image.insert(image.end(), bytes, bytes + n);
        return true;
    }
    bool reuse(uint64_t position) override {
        ++reuses;
        expect_intact();
        std::erase_if(held, [&](const Held& h) { return h.position + h.copy.size() <= position; });
        return true;
    }
    void expect_intact() const {
        for (const auto& h : held)
            ASSERT_TRUE(std::equal(h.copy.begin(), h.copy.end(), h.bytes)) << "block at " << h.position << " overwritten";
    }
};

class StoredFeed final : public PackedFeed {
public:
    // Pieces of `piece` bytes, as the installer reads its own file.
    StoredFeed(const std::vector<uint8_t>& stored, size_t piece) : stored_(stored), piece_(piece) {}
    std::span<const uint8_t> next_piece() override {
        const size_t n = std::min(piece_, stored_.size() - at_);
        std::span<const uint8_t> p(stored_.data() + at_, n);
        at_ += n;
        return p;
    }

private:
    const std::vector<uint8_t>& stored_;
    size_t piece_;
    size_t at_ = 0;
};

TEST(DecoderDifferential, StreamedBlocksStayIntactUntilTheirPlaceIsAskedFor) {
    std::mt19937 rng(7);
    const size_t size = 14 * 1048576 + 12345;
    const auto stored = structured_stream(rng, size + size / 2);
    const Result slow = run(unpack_stream_reference, stored, size, 0);
    for (const size_t piece : {size_t(1) << 20, size_t(8164), size_t(8), size_t(4)}) {
        StoredFeed feed(stored, piece);
        LaggingReader reader;
        const StreamedImage streamed = unpack_stream_to(feed, size, reader);
        EXPECT_GT(reader.reuses, 2) << "the buffer was compacted";
        EXPECT_EQ(streamed.emitted, reader.image.size());
        // The reference leaves a dropped block as the output was, and zeros
        // behind a stream it gave up on.
        reader.image.resize(size, streamed.gave_up ? 0 : 0xEE);
        const auto differ = std::mismatch(reader.image.begin(), reader.image.end(), slow.bytes.begin());
        ASSERT_TRUE(differ.first == reader.image.end())
            << "pieces of " << piece << ": bytes differ from offset " << (differ.first - reader.image.begin())
            << " of " << streamed.emitted << " emitted";
        EXPECT_EQ(streamed.filled, slow.answer == 1);
        EXPECT_GT(streamed.emitted, size_t(10) << 20);
    }
}

// A reader that wants no more stops the decoding at once.
TEST(DecoderDifferential, StreamStopsWhenTheReaderWantsNoMore) {
    std::mt19937 rng(8);
    const auto stored = structured_stream(rng, 8 * 1048576);
    struct FirstBlockOnly final : ImageOutput {
        int blocks = 0;
        bool emit(const uint8_t*, uint32_t) override { return ++blocks < 1; }
        bool reuse(uint64_t) override { return true; }
    } reader;
    StoredFeed feed(stored, 1 << 16);
    const StreamedImage streamed = unpack_stream_to(feed, 8 * 1048576, reader);
    EXPECT_EQ(reader.blocks, 1);
    EXPECT_EQ(streamed.emitted, 1048307u);
}

TEST(DecoderDifferential, StructuredStreamsWithFlippedBits) {
    std::mt19937 rng(3);
    for (int i = 0; i < 60; ++i) {
        auto stored = structured_stream(rng, 20000 + rng() % 60000);
        for (int f = 0; f < 1 + i % 5; ++f) stored[rng() % stored.size()] ^= uint8_t(1 << (rng() % 8));
        if (i % 3 == 0) stored.resize(stored.size() - rng() % (stored.size() / 2));  // cut short
        expect_same(stored, 50000 + rng() % 60000, "flipped " + std::to_string(i));
    }
}

}  // namespace
}  // namespace lumo
