// Where WAV sample data lies in an image, found without holding the image:
// pieces of it are searched for RIFF/WAVE headers side by side, and the
// headers are then taken in order of position, each search going on where
// the sample data of the last header taken ends.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tools/encoder/image_source.h"
#include "tools/encoder/worker_pool.h"

namespace lumo {

// Sample bytes of a WAV file found in the image, with the byte-interleaved
// channel count the audio mode should use (the block alignment, 1..4).
struct AudioRange {
    uint32_t begin;
    uint32_t end;
    int channels;
};

// The "data" chunks of the RIFF/WAVE files inside the image, in order, not
// overlapping. Malformed or truncated headers are passed over. The processor
// seconds the search took are added to `seconds`.
std::vector<AudioRange> find_wav_data(const ImageSource& image, WorkerPool& pool, double& seconds);
std::vector<AudioRange> find_wav_data(std::span<const uint8_t> image);

}  // namespace lumo
