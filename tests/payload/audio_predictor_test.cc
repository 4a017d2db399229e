#include "payload/audio_predictor.h"

#include <gtest/gtest.h>

namespace lumo {
namespace {

// Hand-computed predictions. The history shifts before the prediction:
// d1 = last delta, d2 = last delta - old d1, d3 = old d2, d4 = old d3.
struct PredictionCase {
    const char* what;
    AudioChannel channel;
    int32_t channel_delta;
    uint8_t prediction;
};

AudioChannel channel(std::array<int32_t, 5> w, std::array<int32_t, 4> d, int32_t last_delta,
                     int32_t last_byte) {
    AudioChannel v;
    v.w = w;
    v.d = d;
    v.last_delta = last_delta;
    v.last_byte = last_byte;
    return v;
}

TEST(AudioPrediction, WeighsTheShiftedDeltas) {
    const PredictionCase cases[] = {
        {"zero weights predict the last byte", channel({}, {9, 9, 9, 9}, 7, 100), 50, 100},
        // (800 + 2*5 - 1*3 + 3*7 + 0*(-3) + 1*(-4)) >> 3 = 824 >> 3 = 103
        {"every term", channel({2, -1, 3, 0, 1}, {2, 7, -3, 9}, 5, 100), -4, 103},
        // (0 - 16*100) >> 3 = -200, & 0xFF = 56
        {"negative sums keep their sign", channel({-16, 0, 0, 0, 0}, {}, 100, 0), 0, 56},
        // (8 - 1) >> 3 = 0 with rounding toward minus infinity: (8*1 - 9) >> 3 = -1 -> 255
        {"shift rounds down", channel({0, 0, 0, 0, 9}, {}, 0, 1), -1, 255},
    };
    for (const auto& c : cases) EXPECT_EQ(audio_prediction(c.channel, c.channel_delta), c.prediction) << c.what;
}

TEST(AudioUpdate, ShiftsHistoryAndSharesTheChannelDelta) {
    AudioChannel v = channel({}, {2, 7, -3, 9}, 5, 100);
    int32_t channel_delta = -4;
    // Byte 90 after 100: delta -10.
    audio_update(v, channel_delta, 10, 90);
    EXPECT_EQ(v.d, (std::array<int32_t, 4>{5, 3, 7, -3}));
    EXPECT_EQ(v.last_delta, -10);
    EXPECT_EQ(channel_delta, -10);
    EXPECT_EQ(v.last_byte, 90);
    EXPECT_EQ(v.byte_count, 1u);
    // e = 10 * 8 = 80 against d1..d4 = 5 3 7 -3 and the old channel delta -4.
    const std::array<uint32_t, 11> sums = {80, 75, 85, 77, 83, 73, 87, 83, 77, 84, 76};
    EXPECT_EQ(v.error_sums, sums);
}

TEST(AudioUpdate, DeltaWrapsAsASignedByte) {
    AudioChannel v = channel({}, {}, 0, 250);
    int32_t channel_delta = 0;
    audio_update(v, channel_delta, 0, 5);  // 5 - 250 = -245, as int8: 11
    EXPECT_EQ(v.last_delta, 11);
}

// At every 32nd byte of a channel the smallest error sum picks one weight
// change (ties to the lower index) and all sums restart from zero.
struct AdjustCase {
    const char* what;
    std::array<uint32_t, 11> sums;  // before the 32nd byte, which adds nothing (all zero)
    std::array<int32_t, 5> w_before;
    std::array<int32_t, 5> w_after;
};

TEST(AudioUpdate, AdjustsOneWeightEvery32Bytes) {
    const AdjustCase cases[] = {
        {"e0 smallest: no change", {1, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5}, {3, 0, 0, 0, 0}, {3, 0, 0, 0, 0}},
        {"e1: w1 down", {9, 1, 5, 5, 5, 5, 5, 5, 5, 5, 5}, {3, 0, 0, 0, 0}, {2, 0, 0, 0, 0}},
        {"e4: w2 up", {9, 5, 5, 5, 1, 5, 5, 5, 5, 5, 5}, {0, 0, 0, 0, 0}, {0, 1, 0, 0, 0}},
        {"e10: w5 up", {9, 5, 5, 5, 5, 5, 5, 5, 5, 5, 1}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 1}},
        {"tie: lowest index", {9, 5, 5, 2, 2, 5, 5, 5, 5, 5, 5}, {0, 0, 0, 0, 0}, {0, -1, 0, 0, 0}},
        {"down to -17 at most", {9, 5, 5, 5, 5, 1, 5, 5, 5, 5, 5}, {0, 0, -16, 0, 0}, {0, 0, -17, 0, 0}},
        {"not below -17", {9, 5, 5, 5, 5, 1, 5, 5, 5, 5, 5}, {0, 0, -17, 0, 0}, {0, 0, -17, 0, 0}},
        {"up to 16 at most", {9, 5, 5, 5, 5, 5, 5, 5, 1, 5, 5}, {0, 0, 0, 15, 0}, {0, 0, 0, 16, 0}},
        {"not above 16", {9, 5, 5, 5, 5, 5, 5, 5, 1, 5, 5}, {0, 0, 0, 16, 0}, {0, 0, 0, 16, 0}},
    };
    for (const auto& c : cases) {
        AudioChannel v;
        v.w = c.w_before;
        v.error_sums = c.sums;
        v.byte_count = 31;
        int32_t channel_delta = 0;
        audio_update(v, channel_delta, 0, 0);  // error 0 against all-zero deltas
        EXPECT_EQ(v.w, c.w_after) << c.what;
        EXPECT_EQ(v.error_sums, (std::array<uint32_t, 11>{})) << c.what;
    }
}

TEST(AudioUpdate, NoAdjustmentBeforeThe32ndByte) {
    AudioChannel v;
    v.error_sums = {9, 1, 5, 5, 5, 5, 5, 5, 5, 5, 5};
    v.byte_count = 30;
    int32_t channel_delta = 0;
    audio_update(v, channel_delta, 0, 0);
    EXPECT_EQ(v.w, (std::array<int32_t, 5>{}));
    EXPECT_EQ(v.error_sums[1], 1u);
}

TEST(PredictAudio, DecodesWhatTheEncoderCoded) {
    AudioChannel enc, dec;
    int32_t enc_delta = 0, dec_delta = 0;
    for (int i = 0; i < 500; ++i) {
        const uint8_t byte = uint8_t(128 + (i * 37) % 90 - (i % 13) * 3);
        const uint8_t s = uint8_t(audio_prediction(enc, enc_delta) - byte);
        audio_update(enc, enc_delta, s, byte);
        ASSERT_EQ(predict_audio(dec, dec_delta, s), byte) << i;
    }
    EXPECT_EQ(dec.w, enc.w);
}

}  // namespace
}  // namespace lumo
