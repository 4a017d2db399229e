// Audio mode on the encoder's side: the prediction errors the decoder turns
// back into its bytes.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "payload/fast_audio_predictor.h"
#include "tools/encoder/stream_symbols.h"

namespace lumo {

// The decoder's audio state, carried across blocks and LZ stretches.
struct AudioState {
    FastAudioPredictor predictor;
    int32_t channel_delta = 0;
    int current = 0;  // channel of the next audio byte

    // What a new audio block with `count` channels does to the current channel.
    void start_block(int count) {
        if (current >= count) current = 0;
    }
};

// Codes data[begin, end) with `count` channels from `state`, appending one
// symbol per byte to `out` and moving `state` on.
void code_audio(std::span<const uint8_t> data, uint32_t begin, uint32_t end, int count, AudioState& state,
                std::vector<uint8_t>& out);

}  // namespace lumo
