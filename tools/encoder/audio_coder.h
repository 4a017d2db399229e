// Audio mode on the encoder's side: where sample data lies in the image, and
// the prediction errors the decoder turns back into its bytes.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "payload/fast_audio_predictor.h"
#include "tools/encoder/stream_symbols.h"

namespace lumo {

// Sample bytes of a WAV file found in the image, with the byte-interleaved
// channel count the audio mode should use (the block alignment, 1..4).
struct AudioRange {
    uint32_t begin;
    uint32_t end;
    int channels;
};

// The "data" chunks of the RIFF/WAVE files inside `image`, in order, not
// overlapping. Malformed or truncated headers are passed over.
std::vector<AudioRange> find_wav_data(std::span<const uint8_t> image);

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
