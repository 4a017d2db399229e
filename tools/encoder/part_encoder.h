// Codes one part of the plan (stream_plan.h) into its piece of the packed
// stream, without waiting for the parts before it. What the decoder carries
// into the part, and how the part gets by without the work of the others:
//
// - the window: the image's bytes before the part, which the part reads for
//   itself; its match finder first takes in the last 1 MiB of them as the
//   decoder will hold it (samples coded in audio mode left out, as in any
//   stretch);
// - old distances, last length and distance: the part starts as if there
//   were none, so it uses only those its own matches have set;
// - code lengths: its first code-length block does not keep old lengths;
// - the audio predictor and the current channel: the driver runs the
//   predictor over the samples in order, ahead of the parts (it is cheap
//   beside the parse), and hands each part its audio symbols;
// - symbol prices learnt from earlier stretches: the part starts from the
//   parser's estimates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/encoder/audio_coder.h"
#include "tools/encoder/encoder.h"
#include "tools/encoder/image_source.h"
#include "tools/encoder/stream_plan.h"

namespace lumo {

// The audio symbols of a part's audio stretches, in order, and the channel
// of the first byte of each.
struct PartAudio {
    std::vector<uint8_t> symbols;
    std::vector<int> first_channel;
};

// Codes the audio stretches of `part`, moving `state` on past them.
PartAudio code_part_audio(const ImageSource& image, const StreamPlan& plan, size_t part, AudioState& state);

struct CodedPart {
    std::vector<uint8_t> bytes;  // the bits, most significant first, the last byte filled up with zeros
    uint64_t bits = 0;
    EncoderStatistics statistics;
    double seconds = 0;  // processor time it took
};

CodedPart encode_part(const ImageSource& image, const StreamPlan& plan, size_t part, const PartAudio& audio,
                      int level);

}  // namespace lumo
