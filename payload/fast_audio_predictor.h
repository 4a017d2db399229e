// The audio predictor of payload/audio_predictor.h, built for speed, for
// the fast decoder and the encoder. It gives the same bytes and symbols and
// leaves the same weights; what differs is the bookkeeping:
//
// - the error sums serve only to pick a weight change at every 32nd byte of
//   a channel, so instead of eleven running sums updated at every byte, each
//   channel keeps the bytes of its current run of 32 and the sums are taken
//   when the pick is due, on vectors (payload/audio_weight_pick.h);
// - the caller works on a local copy of the channels' state, so that its
//   byte stores cannot force the state through memory, and passes the
//   channel number, at compile time where it can.
#pragma once

#include <array>
#include <cstdint>

#include "payload/audio_predictor.h"
#include "payload/audio_weight_pick.h"
#include "payload/match_tables.h"

namespace lumo {

class FastAudioPredictor {
public:
    using Weights = std::array<int32_t, 5>;

    // What a byte's prediction needs from the channel's earlier bytes.
    struct Channel {
        Weights w{};
        int32_t last_byte = 0;
        uint32_t slot = 0;  // the next byte's place in the current run of 32
    };

    // A caller runs a stretch of bytes on a local copy of the first C
    // channels, so that its byte stores into the window cannot force the
    // state through memory, and puts it back after.
    template <int C>
    std::array<Channel, C> load() const {
        std::array<Channel, C> c;
        for (int k = 0; k < C; ++k) c[k] = channels_[k];
        return c;
    }
    template <int C>
    void store(const std::array<Channel, C>& c) {
        for (int k = 0; k < C; ++k) channels_[k] = c[k];
    }

    // The byte that `symbol` stands for on channel k (whose state is `v`);
    // `channel_delta` is the delta shared by all channels.
    [[gnu::always_inline]] uint8_t decode_step(Channel& v, int k, int32_t& channel_delta,
                                               uint8_t symbol) {
        const uint8_t byte = uint8_t(prediction(v, runs_[k], channel_delta) - symbol);
        update(v, runs_[k], channel_delta, symbol, byte);
        return byte;
    }
    // The encoder's step: the symbol that codes `byte`.
    [[gnu::always_inline]] uint8_t code_step(Channel& v, int k, int32_t& channel_delta,
                                             uint8_t byte) {
        const uint8_t symbol = uint8_t(prediction(v, runs_[k], channel_delta) - byte);
        update(v, runs_[k], channel_delta, symbol, byte);
        return symbol;
    }

private:
    // The predictor's terms d1..d4 are differences of the run's deltas, so
    // they need not be kept apart.
    using Run = AudioRun;

    std::array<Channel, max_audio_channels> channels_{};
    std::array<Run, max_audio_channels> runs_{};
    WeightPick pick_ = weight_pick();

    static uint8_t prediction(const Channel& v, const Run& r, int32_t delta) {
        const uint32_t slot = v.slot;
        const int32_t a = r.delta[slot + 3], b = r.delta[slot + 2], c = r.delta[slot + 1],
                      d = r.delta[slot];
        const int32_t sum = 8 * v.last_byte + v.w[0] * a + v.w[1] * (a - b) + v.w[2] * (b - c) +
                            v.w[3] * (c - d) + v.w[4] * delta;
        return uint8_t((sum >> 3) & 0xFF);
    }

    void update(Channel& v, Run& r, int32_t& delta, uint8_t symbol, uint8_t byte) const {
        const uint32_t slot = v.slot;
        r.symbol[slot] = int8_t(symbol);
        r.shared_delta[slot] = int16_t(delta);
        delta = int32_t(int8_t(uint8_t(byte - v.last_byte)));
        r.delta[slot + 4] = int16_t(delta);
        v.last_byte = byte;
        if (slot == 31) {
            v.w = adjusted(r, v.w);
            v.slot = 0;
        } else {
            v.slot = slot + 1;
        }
    }

    // At the end of a run: the pick's step, if any, within -17..16. The
    // run's last four deltas move to the front.
    Weights adjusted(Run& r, Weights w) const {
        const int best = pick_(r);
        for (int i = 0; i < 4; ++i) r.delta[i] = r.delta[32 + i];
        if (best == 0) return w;
        int32_t& weight = w[(best - 1) / 2];
        if (best % 2 == 1) {
            if (weight >= -16) weight -= 1;
        } else {
            if (weight < 16) weight += 1;
        }
        return w;
    }
};

}  // namespace lumo
