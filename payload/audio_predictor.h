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

// The prediction P for the channel's next byte. `channel_delta` is the last
// delta of the most recent audio byte of any channel (shared by all).
uint8_t audio_prediction(const AudioChannel& channel, int32_t channel_delta);

// Moves the channel on past one byte: `symbol` is the coded error, `byte` the
// real byte, (prediction - symbol) & 0xFF. Updates `channel_delta` too.
void audio_update(AudioChannel& channel, int32_t& channel_delta, uint8_t symbol, uint8_t byte);

// The decoder's step: the byte that `symbol` stands for, with the update.
inline uint8_t predict_audio(AudioChannel& channel, int32_t& channel_delta, uint8_t symbol) {
    const uint8_t byte = uint8_t(audio_prediction(channel, channel_delta) - symbol);
    audio_update(channel, channel_delta, symbol, byte);
    return byte;
}

}  // namespace lumo
