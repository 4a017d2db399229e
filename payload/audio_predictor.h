// The audio mode's adaptive predictor. Each byte of an audio block is coded
// as the error s of a linear prediction P over the channel's recent deltas:
// the decoder outputs (P - s) & 0xFF, an encoder codes s = (P - byte) & 0xFF.
// Both then update the channel identically, so one implementation serves both
// sides:
//
//     uint8_t p = audio_prediction(channel, channel_delta);
//     uint8_t byte = uint8_t(p - s);                 // decoder
//     uint8_t s = uint8_t(p - byte);                 // encoder
//     audio_update(channel, channel_delta, s, byte);
#pragma once

#include <array>
#include <cstdint>

namespace lumo {

// The predictor state of one interleaved channel; all zero at the start of a
// stream and kept across table switches in both directions.
struct AudioChannel {
    std::array<int32_t, 5> w{};            // weights w1..w5, each within -17..16
    std::array<int32_t, 4> d{};            // recent deltas d1..d4, d1 newest
    int32_t last_delta = 0;                // last byte minus the one before, as int8
    std::array<uint32_t, 11> error_sums{};  // e0 for the weights as they are,
                                           // e1..e10 for the ten single-step changes
    uint32_t byte_count = 0;               // bytes decoded on this channel
    int32_t last_byte = 0;                 // the channel's previous output byte
};

inline constexpr int max_audio_channels = 4;

namespace audio_detail {

// The deltas as they stand once the byte about to be coded has shifted the
// history by one: d1 becomes the last delta, d2 the change of the delta.
struct ShiftedDeltas {
    int32_t d1, d2, d3, d4;
};

inline ShiftedDeltas shifted(const AudioChannel& v) {
    return {v.last_delta, v.last_delta - v.d[0], v.d[1], v.d[2]};
}

inline int32_t as_int8(int32_t value) { return int32_t(int8_t(uint8_t(value & 0xFF))); }

inline uint32_t absolute(int32_t value) { return uint32_t(value < 0 ? -value : value); }

// Every 32nd byte of a channel: the smallest error sum (ties to the lower
// index) picks no change (e0) or one weight step, and the sums restart.
inline void adjust_weights(AudioChannel& v) {
    int best = 0;
    for (int k = 1; k < 11; ++k)
        if (v.error_sums[k] < v.error_sums[best]) best = k;
    v.error_sums.fill(0);
    if (best == 0) return;
    int32_t& w = v.w[(best - 1) / 2];
    if (best % 2 == 1) {
        if (w >= -16) w -= 1;
    } else {
        if (w < 16) w += 1;
    }
}

}  // namespace audio_detail

// The prediction P for the channel's next byte. `channel_delta` is the last
// delta of the most recent audio byte of any channel (shared by all).
inline uint8_t audio_prediction(const AudioChannel& v, int32_t channel_delta) {
    const audio_detail::ShiftedDeltas d = audio_detail::shifted(v);
    const int32_t sum = 8 * v.last_byte + v.w[0] * d.d1 + v.w[1] * d.d2 + v.w[2] * d.d3 +
                        v.w[3] * d.d4 + v.w[4] * channel_delta;
    return uint8_t((sum >> 3) & 0xFF);  // arithmetic shift: the sign is kept
}

// Moves the channel on past one byte: `symbol` is the coded error, `byte` the
// real byte, (prediction - symbol) & 0xFF. Updates `channel_delta` too.
inline void audio_update(AudioChannel& v, int32_t& channel_delta, uint8_t symbol, uint8_t byte) {
    using audio_detail::absolute;
    v.byte_count += 1;
    const audio_detail::ShiftedDeltas d = audio_detail::shifted(v);
    v.d = {d.d1, d.d2, d.d3, d.d4};

    // Format note: the error is scaled by 8 but the deltas it is compared with
    // are not; the sums only rank the candidate weight changes.
    const int32_t e = audio_detail::as_int8(symbol) * 8;
    const int32_t cd = channel_delta;  // of the byte before this one
    v.error_sums[0] += absolute(e);
    v.error_sums[1] += absolute(e - d.d1);
    v.error_sums[2] += absolute(e + d.d1);
    v.error_sums[3] += absolute(e - d.d2);
    v.error_sums[4] += absolute(e + d.d2);
    v.error_sums[5] += absolute(e - d.d3);
    v.error_sums[6] += absolute(e + d.d3);
    v.error_sums[7] += absolute(e - d.d4);
    v.error_sums[8] += absolute(e + d.d4);
    v.error_sums[9] += absolute(e - cd);
    v.error_sums[10] += absolute(e + cd);

    v.last_delta = channel_delta = audio_detail::as_int8(int32_t(byte) - v.last_byte);
    v.last_byte = byte;
    if (v.byte_count % 32 == 0) audio_detail::adjust_weights(v);
}

// The decoder's step: the byte that `symbol` stands for, with the update.
inline uint8_t predict_audio(AudioChannel& channel, int32_t& channel_delta, uint8_t symbol) {
    const uint8_t byte = uint8_t(audio_prediction(channel, channel_delta) - symbol);
    audio_update(channel, channel_delta, symbol, byte);
    return byte;
}

}  // namespace lumo
