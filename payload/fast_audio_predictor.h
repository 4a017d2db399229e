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
        // The channel's weights w1..w5 as they apply to the run's last four
        // deltas a, b, c, d (newest first) and the shared delta cd:
        // w1 a + w2 (a - b) + w3 (b - c) + w4 (c - d) + w5 cd, gathered
        // per delta.
        Weights m{};
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
        const int32_t own = int8_t(uint8_t(rise(v, runs_[k], channel_delta) - symbol));
        const uint8_t byte = uint8_t(v.last_byte + own);
        update(v, k, channel_delta, symbol, own, byte);
        return byte;
    }
    // The encoder's step: the symbol that codes `byte`.
    [[gnu::always_inline]] uint8_t code_step(Channel& v, int k, int32_t& channel_delta,
                                             uint8_t byte) {
        const int32_t own = int8_t(uint8_t(byte - v.last_byte));
        const uint8_t symbol = uint8_t(rise(v, runs_[k], channel_delta) - own);
        update(v, k, channel_delta, symbol, own, byte);
        return symbol;
    }

private:
    // The predictor's terms d1..d4 are differences of the run's deltas, so
    // they need not be kept apart.
    using Run = AudioRun;

    std::array<Channel, max_audio_channels> channels_{};
    std::array<Run, max_audio_channels> runs_{};
    // Each channel's weights w1..w5 themselves, which only the pick changes.
    std::array<Weights, max_audio_channels> weights_{};
    WeightPick pick_ = weight_pick();

    // The prediction is (8 * last byte + the weighted deltas) >> 3, that is
    // the last byte plus this rise, as the first term is a multiple of 8.
    // So the byte's own delta is the rise less the symbol, as a signed byte,
    // without the last byte on the way from one byte to the next.
    static int32_t rise(const Channel& v, const Run& r, int32_t delta) {
        const uint32_t slot = v.slot;
        const int32_t a = r.delta[slot + 3], b = r.delta[slot + 2], c = r.delta[slot + 1],
                      d = r.delta[slot];
        return (v.m[0] * a + v.m[1] * b + v.m[2] * c + v.m[3] * d + v.m[4] * delta) >> 3;
    }

    void update(Channel& v, int k, int32_t& delta, uint8_t symbol, int32_t own, uint8_t byte) {
        Run& r = runs_[k];
        const uint32_t slot = v.slot;
        r.delta[slot + 4] = int16_t(own);
        v.last_byte = byte;
        if (slot == 31) {
            adjust(v, k, int8_t(symbol), int16_t(delta));
            v.slot = 0;
        } else {
            r.symbol[slot] = int8_t(symbol);
            r.shared_delta[slot] = int16_t(delta);
            v.slot = slot + 1;
        }
        delta = own;
    }

    // At the end of a run: the pick's step, if any, within -17..16. The
    // run's last four deltas move to the front. Kept out of line: inlined
    // into a stretch of bytes, it costs the stretch a third of its speed in
    // registers spilled around every byte.
    [[gnu::noinline]] void adjust(Channel& v, int k, int16_t symbol_31, int16_t shared_delta_31) {
        Run& r = runs_[k];
        const int best = pick_(r, symbol_31, shared_delta_31);
        for (int i = 0; i < 4; ++i) r.delta[i] = r.delta[32 + i];
        if (best == 0) return;
        Weights& w = weights_[k];
        int32_t& weight = w[(best - 1) / 2];
        if (best % 2 == 1) {
            if (weight >= -16) weight -= 1;
        } else {
            if (weight < 16) weight += 1;
        }
        v.m = {w[0] + w[1], w[2] - w[1], w[3] - w[2], -w[3], w[4]};
    }
};

}  // namespace lumo
