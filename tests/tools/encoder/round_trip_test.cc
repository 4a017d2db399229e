// Whatever the encoder writes, the installer's decoder must give back byte
// for byte, and so must the straightforward reference decoder: the encoder
// and the fast decoder share the audio predictor's fast form, which only the
// reference holds to the format. Each image below steers the encoder into
// one of its choices; the statistics show that the choice was really made.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "payload/progress_sink.h"
#include "payload/stream_decoders.h"
#include "payload/unpack_stream.h"
#include "test_images.h"
#include "tools/encoder/encoder.h"

namespace lumo {
namespace {

using test::Bytes;

// The stream must fill the image by itself, without reading past its end.
Bytes decode(const std::vector<uint8_t>& stream, size_t size) {
    Bytes out(size, 0xA5);
    NullProgressSink progress;
    EXPECT_TRUE(unpack_stream_filled(stream.data(), stream.data() + stream.size(), out.data(), out.data() + out.size(),
                                     progress));
    return out;
}

Bytes decode_with_reference(const std::vector<uint8_t>& stream, size_t size) {
    Bytes out(size, 0xA5);
    NullProgressSink progress;
    const auto window = allocate_window();
    unpack_stream_reference(stream.data(), stream.data() + stream.size(), out.data(), out.data() + out.size(),
                            progress, window.get());
    return out;
}

EncoderStatistics expect_round_trip(const Bytes& image, EncoderOptions options) {
    EncoderStatistics stats;
    const std::vector<uint8_t> stream = pack_stream(image, options, &stats);
    EXPECT_EQ(stream.size() % 4, 0u);
    for (const Bytes& back : {decode(stream, image.size()), decode_with_reference(stream, image.size())})
        EXPECT_TRUE(back == image) << "level " << options.level << ", first difference at byte "
                                   << std::mismatch(back.begin(), back.end(), image.begin()).first - back.begin();
    return stats;
}

struct Case {
    const char* name;
    std::function<Bytes()> image;
    // What the encoding must contain at every level (checked when not null).
    std::function<void(const EncoderStatistics&)> check;
};

void some_of_every_match(const EncoderStatistics& s) {
    EXPECT_GT(s.literals, 0u);
    EXPECT_GT(s.repeats, 0u);
    EXPECT_GT(s.old_distances, 0u);
    EXPECT_GT(s.short_matches, 0u);
    EXPECT_GT(s.long_matches, 0u);
}

Bytes text_wav_text_wav() {
    Bytes image = test::word_text(30000, 1);
    test::append(image, test::wav_file(40000, 2, 2));
    test::append(image, test::word_text(30000, 3));
    test::append(image, test::wav_file(30000, 1, 4));
    test::append(image, test::symbol_mix(5000, 5));
    return image;
}

Bytes changing_statistics() {
    Bytes image;
    for (int round = 0; round < 2; ++round) {
        test::append(image, test::word_text(60000, uint64_t(round)));
        test::append(image, test::random_bytes(30000, uint64_t(round) + 10));
        test::append(image, test::symbol_mix(50000, uint64_t(round) + 20));
    }
    return image;
}

const Case kCases[] = {
    {"empty", [] { return Bytes{}; }, nullptr},
    {"one byte", [] { return Bytes{0x42}; }, nullptr},
    {"two bytes", [] { return Bytes{0x00, 0xFF}; }, nullptr},
    {"three equal bytes", [] { return Bytes{7, 7, 7}; }, nullptr},
    {"random bytes, nothing to match", [] { return test::random_bytes(70000, 9); }, nullptr},
    {"one long run of zeros", [] { return Bytes(300000, 0); },
     [](const EncoderStatistics& s) { EXPECT_LT(s.literals, 3u); }},
    {"every kind of match", [] { return test::symbol_mix(200000, 11); }, some_of_every_match},
    {"text", [] { return test::word_text(100000, 12); }, nullptr},
    {"LZ and audio, switching both ways", text_wav_text_wav,
     [](const EncoderStatistics& s) {
         EXPECT_GE(s.audio_blocks, 2u);
         EXPECT_GE(s.lz_blocks, 3u);
     }},
    {"audio with 4 byte channels, longer than a stretch", [] { return test::wav_file(140000, 2, 13); },
     [](const EncoderStatistics& s) { EXPECT_GT(s.audio_bytes, 540000u); }},
    {"statistics that change, so tables switch", changing_statistics,
     [](const EncoderStatistics& s) {
         EXPECT_GE(s.lz_blocks, 4u);
         EXPECT_GT(s.kept_tables, 0u);
     }},
    {"window wrap with matches a window back", [] { return test::far_repeats(1500000, 14); },
     [](const EncoderStatistics& s) { EXPECT_GT(s.far_matches, 0u); }},
};

class RoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(RoundTrip, EveryImageAtEveryLevelDecodesToItself) {
    const int level = GetParam();
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const Bytes image = c.image();
        const EncoderStatistics stats = expect_round_trip(image, {level, AudioMode::automatic});
        if (c.check) c.check(stats);
    }
}

// The lazy parse at 1 and 6, the cost-driven parse at 9.
INSTANTIATE_TEST_SUITE_P(Levels, RoundTrip, ::testing::Values(1, 6, 9));

TEST(RoundTrip, AudioOffCodesSamplesAsLz) {
    const Bytes image = text_wav_text_wav();
    const EncoderStatistics stats = expect_round_trip(image, {6, AudioMode::off});
    EXPECT_EQ(stats.audio_blocks, 0u);
}

TEST(RoundTrip, AudioModeMakesSamplesSmaller) {
    const Bytes image = test::wav_file(50000, 2, 21);
    const size_t with_audio = pack_stream(image, {6, AudioMode::automatic}).size();
    const size_t without = pack_stream(image, {6, AudioMode::off}).size();
    EXPECT_LT(with_audio, without * 9 / 10);
}

TEST(RoundTrip, SameImageAndOptionsGiveTheSameBytes) {
    const Bytes image = text_wav_text_wav();
    for (int level : {1, 6, 9}) EXPECT_EQ(pack_stream(image, {level}), pack_stream(image, {level})) << level;
}

TEST(RoundTrip, HigherLevelsPackSmaller) {
    Bytes image = test::word_text(200000, 31);
    test::append(image, test::symbol_mix(200000, 32));
    const size_t fast = pack_stream(image, {1}).size();
    const size_t normal = pack_stream(image, {6}).size();
    const size_t best = pack_stream(image, {9}).size();
    EXPECT_LT(normal, fast);
    EXPECT_LT(best, normal);
}

}  // namespace
}  // namespace lumo
