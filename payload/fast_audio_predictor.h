// The audio predictor of payload/audio_predictor.h, built for speed, for
// the fast decoder and the encoder. It gives the same bytes and symbols and
// leaves the same weights; what differs is the bookkeeping:
//
// - the error sums serve only to pick a weight change at every 32nd byte of
//   a channel, so instead of eleven running sums updated at every byte, each
//   channel keeps the bytes of its current run of 32 and the sums are taken
//   when the pick is due, on vectors (payload/audio_weight_pick.h);
// - the four weighted deltas of the channel's own take one multiplication
//   of two words that hold them as 16-bit digits;
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
        // The weighted deltas of the prediction, w1 a + w2 (a - b) +
        // w3 (b - c) + w4 (c - d) + w5 cd over the run's last four deltas
        // a, b, c, d (newest first) and the shared delta cd, gathered per
        // delta: m0 a + m1 b + m2 c + m3 d + m4 cd. The first four come
        // from one multiplication: `history` holds a, b, c, d as signed
        // 16-bit digits (a lowest) and `weights` m3, m2, m1, m0 (m3
        // lowest), so that digit 3 of their product is m0 a + m1 b + m2 c
        // + m3 d (see rise).
        uint64_t history = 0;
        uint64_t weights = 0;
        int32_t twice_shared_weight = 0;  // 2 m4 = 2 w5
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
        const int32_t own = int8_t(uint8_t(rise(v, channel_delta) - symbol));
        const uint8_t byte = uint8_t(v.last_byte + own);
        update(v, k, channel_delta, symbol, own, byte);
        return byte;
    }
    // Bytes that channel `v` takes before the one that ends its run of 32,
    // which the weight pick follows.
    static uint32_t bytes_before_pick(const Channel& v) { return 31 - v.slot; }

    // Rounds of bytes of C channels, one byte of each channel in their
    // order, none of which ends a channel's run: no pick and no call, so
    // that a loop of them can keep its state in registers. The channels'
    // state is taken into locals for the stretch, and each run's place
    // moves on once a round, for all channels at once.
    template <int C>
    class Rounds {
    public:
        Rounds(FastAudioPredictor& p, const std::array<Channel, C>& channels) {
            for (int k = 0; k < C; ++k) {
                const Channel& v = channels[k];
                history_[k] = v.history;
                weights_[k] = v.weights;
                shared_weight_at_20_[k] = uint32_t(v.twice_shared_weight) << 20;
                slot_[k] = v.slot;
                AudioRun& r = p.runs_[k];
                delta_[k] = &r.delta[v.slot + 4];
                symbol_[k] = &r.symbol[v.slot];
                shared_delta_[k] = &r.shared_delta[v.slot];
            }
        }

        // Channel k's byte of the current round, after `last_byte`, the
        // channel's byte a round before.
        [[gnu::always_inline]] uint8_t decode(int k, int32_t& channel_delta, uint8_t symbol, uint8_t last_byte) {
            // The byte's own delta is bits 4..11 of x = 2 D + 1 + 2 m4 cd -
            // 16 symbol as a signed byte (see rise_of), and those depend on
            // x's low 12 bits only: worked out at the top of a word, where
            // the sign comes with the shift that takes them down. The step
            // from one byte's delta to the next is then a multiplication,
            // an addition and a shift. 2 D's low 12 bits are bits 47..58 of
            // the product, taken to the top with bits below them that no
            // other term reaches.
            const uint32_t base = uint32_t((history_[k] * weights_[k]) >> 27) + (1u << 20) -
                                  (uint32_t(symbol) << 24);
            const int32_t own = int32_t(base + shared_weight_at_20_[k] * uint32_t(channel_delta)) >> 24;
            const uint8_t byte = uint8_t(last_byte + own);
            delta_[k][round_] = int16_t(own);
            symbol_[k][round_] = int8_t(symbol);
            shared_delta_[k][round_] = int16_t(channel_delta);
            history_[k] = (history_[k] << 16) + uint64_t(own);
            channel_delta = own;
            return byte;
        }
        void next_round() { ++round_; }

        // Back into `channels`, after the rounds made and, in the round
        // under way, the bytes of channels 0 .. done - 1; `last_bytes` are
        // the channels' last bytes.
        void finish(std::array<Channel, C>& channels, int done, const uint8_t* last_bytes) const {
            for (int k = 0; k < C; ++k) {
                Channel& v = channels[k];
                v.history = history_[k];
                v.last_byte = last_bytes[k];
                v.slot = slot_[k] + round_ + (k < done ? 1 : 0);
            }
        }

    private:
        uint64_t history_[C];
        uint64_t weights_[C];
        uint32_t shared_weight_at_20_[C];  // 2 m4, shifted up by 20
        uint32_t slot_[C];
        // Where each channel's run takes the bytes of the first round: one
        // round count places them all.
        int16_t* delta_[C];
        int16_t* symbol_[C];
        int16_t* shared_delta_[C];
        size_t round_ = 0;
    };

    // The encoder's step: the symbol that codes `byte`.
    [[gnu::always_inline]] uint8_t code_step(Channel& v, int k, int32_t& channel_delta,
                                             uint8_t byte) {
        const int32_t own = int8_t(uint8_t(byte - v.last_byte));
        const uint8_t symbol = uint8_t(rise(v, channel_delta) - own);
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
    static int32_t rise(const Channel& v, int32_t delta) {
        return rise_of(v.history, v.weights, v.twice_shared_weight, delta);
    }

    // (m0 a + m1 b + m2 c + m3 d + m4 cd) >> 3. The first four terms are
    // digit 3 (bits 48..63) of history x weights, the sum of the products of
    // the digits i of one and 3 - i of the other, D = m0 a + m1 b + m2 c +
    // m3 d, within +-4 x 128 x 34. The digits below add up to less than 2^47
    // in size (three terms of at most 128 x 34 each in digit 2), so the
    // product shifted right by 47 is 2 D or 2 D - 1, and with 2 m4 cd + 1
    // added, a shift by 4 more gives (D + m4 cd) >> 3 either way.
    static int32_t rise_of(uint64_t history, uint64_t weights, int32_t twice_shared_weight, int32_t delta) {
        const int32_t twice_weighted = int32_t(int64_t(history * weights) >> 47);
        return (twice_weighted + twice_shared_weight * delta + 1) >> 4;
    }
    static uint64_t pack_weights(int32_t m0, int32_t m1, int32_t m2, int32_t m3) {
        return uint64_t(int64_t(m3)) + (uint64_t(int64_t(m2)) << 16) + (uint64_t(int64_t(m1)) << 32) +
               (uint64_t(int64_t(m0)) << 48);
    }

    void update(Channel& v, int k, int32_t& delta, uint8_t symbol, int32_t own, uint8_t byte) {
        if (v.slot == 31) {
            runs_[k].delta[35] = int16_t(own);
            v.history = (v.history << 16) + uint64_t(int64_t(own));
            v.last_byte = byte;
            adjust(v, k, int8_t(symbol), int16_t(delta));
            v.slot = 0;
        } else {
            record(v, runs_[k], delta, symbol, own, byte);
        }
        delta = own;
    }
    // A byte within the run (slot below 31) into it.
    static void record(Channel& v, Run& r, int32_t delta, uint8_t symbol, int32_t own, uint8_t byte) {
        const uint32_t slot = v.slot;
        r.delta[slot + 4] = int16_t(own);
        r.symbol[slot] = int8_t(symbol);
        r.shared_delta[slot] = int16_t(delta);
        v.history = (v.history << 16) + uint64_t(int64_t(own));
        v.last_byte = byte;
        v.slot = slot + 1;
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
        v.weights = pack_weights(w[0] + w[1], w[2] - w[1], w[3] - w[2], -w[3]);
        v.twice_shared_weight = 2 * w[4];
    }
};

}  // namespace lumo
