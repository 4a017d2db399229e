// The stream as parts: joined bit to bit, scrambled in pieces, and the same
// bytes whatever the number of threads.
#include <gtest/gtest.h>

#include <string>

#include "payload/progress_sink.h"
#include "payload/stream_decoders.h"
#include "payload/unpack_stream.h"
#include "test_images.h"
#include "tools/encoder/bit_writer.h"
#include "tools/encoder/encoder.h"
#include "tools/encoder/stream_joiner.h"

namespace lumo {
namespace {

using test::Bytes;

// Bit strings of every length from 0 to 40, joined, against one writer that
// is given the same bits in one run; the sink sees whole words only.
TEST(StreamJoiner, JoinsBitStringsOfAnyLengthAsOneWriterWouldWriteThem) {
    class WordSink final : public StreamSink {
    public:
        void write(std::span<const uint8_t> bytes) override {
            EXPECT_EQ(bytes.size() % 4, 0u);
            bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
        }
        Bytes bytes_;
    } sink;
    StreamJoiner joiner(sink);
    BitWriter whole;
    uint64_t seed = 1;
    for (int round = 0; round < 3; ++round) {
        for (int length = 0; length <= 40; ++length) {
            BitWriter piece;
            for (int bit = 0; bit < length; ++bit) {
                seed = seed * 6364136223846793005ull + 1442695040888963407ull;
                const uint32_t value = uint32_t(seed >> 63);
                piece.put(value, 1);
                whole.put(value, 1);
            }
            const uint64_t bits = piece.bit_count();
            const std::vector<uint8_t> bytes = piece.finish();
            joiner.append(bytes, bits);
        }
    }
    std::vector<uint8_t> expected = whole.finish();
    while (expected.size() % 4 != 0) expected.push_back(0);
    scramble_stream(expected);
    EXPECT_EQ(joiner.finish(), expected.size());
    EXPECT_EQ(sink.bytes_, expected);
}

Bytes decode(const std::vector<uint8_t>& stream, size_t size, bool reference) {
    Bytes out(size, 0xA5);
    NullProgressSink progress;
    if (reference) {
        const auto window = allocate_window();
        unpack_stream_reference(stream.data(), stream.data() + stream.size(), out.data(), out.data() + out.size(),
                                progress, window.get());
    } else {
        unpack_stream(stream.data(), stream.data() + stream.size(), out.data(), out.data() + out.size(), progress);
    }
    return out;
}

// An image of many parts: matches reach back into the parts before, samples
// run on across parts and the audio state crosses LZ stretches between
// them. `far` adds matches a whole window back.
Bytes many_parts_image(bool far) {
    Bytes image = test::word_text(100000, 51);
    test::append(image, test::wav_file(40000, 2, 52));  // 160 KB of 16-bit stereo
    if (far) test::append(image, test::far_repeats(1150000, 53));
    test::append(image, test::wav_file(20000, 1, 54));
    test::append(image, test::symbol_mix(150000, 55));
    test::append(image, test::wav_file(30000, 2, 56));
    return image;
}

TEST(SplitStream, EveryThreadCountGivesTheSameBytesAndTheyDecodeToTheImage) {
    // The lazy parse in parts of 128 KiB; the best level's parse, which costs
    // most, over fewer and larger parts and without the window-long repeats.
    struct Case {
        int level;
        uint32_t part_size;
        size_t parts;  // at least
    };
    for (const Case c : {Case{1, 128 * 1024, 10}, Case{9, 96 * 1024, 4}}) {
        SCOPED_TRACE("level " + std::to_string(c.level));
        const Bytes image = many_parts_image(c.level == 1);
        EncoderStatistics stats;
        VectorSink sink;
        EncoderWork work;
        pack_stream(MemoryImage(image), {c.level, AudioMode::automatic, 1, c.part_size}, sink, &stats, &work);
        const std::vector<uint8_t>& one = sink.bytes();
        EXPECT_GE(work.parts.size(), c.parts);
        EXPECT_GE(stats.audio_blocks, c.parts / 4);
        if (c.level == 1) {
            EXPECT_GT(stats.far_matches, 0u);
        }
        for (int threads : c.level == 1 ? std::vector<int>{3, 8} : std::vector<int>{8})
            EXPECT_EQ(pack_stream(image, {c.level, AudioMode::automatic, threads, c.part_size}), one) << threads;
        for (bool reference : {false, true}) {
            const Bytes back = decode(one, image.size(), reference);
            EXPECT_TRUE(back == image) << (reference ? "reference" : "fast") << " decoder, first difference at "
                                       << std::mismatch(back.begin(), back.end(), image.begin()).first - back.begin();
        }
    }
}

TEST(SplitStream, WorkIsReportedPartByPartCoveringTheImage) {
    const Bytes image = many_parts_image(false);
    VectorSink sink;
    EncoderWork work;
    const uint64_t size = pack_stream(MemoryImage(image), {1, AudioMode::automatic, 2, 64 * 1024}, sink, nullptr, &work);
    EXPECT_EQ(size, sink.bytes().size());
    ASSERT_GE(work.parts.size(), 8u);
    uint64_t at = 0, bits = 0;
    for (const PartWork& part : work.parts) {
        EXPECT_EQ(part.image_begin, at);
        EXPECT_GT(part.image_end, part.image_begin);
        at = part.image_end;
        bits += part.packed_bits;
    }
    EXPECT_EQ(at, image.size());
    EXPECT_EQ((bits + 31) / 32 * 4, size);
    EXPECT_EQ(work.threads, 2);
}

}  // namespace
}  // namespace lumo
