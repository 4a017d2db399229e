// How an image is divided for coding, decided from its bytes alone, so that
// the packed stream is the same however many threads code it:
//
// - stretches: runs of at most 512 KiB (and no more than a part) that are
//   coded in one mode; the sample
//   data of WAV files gets stretches of its own, of whole sample frames, and
//   each is given audio or LZ mode by a trial on its first 16 KiB;
// - parts: runs of whole stretches of about `part_size` bytes, the units of
//   work that threads take. A part can be coded without waiting for the
//   parts before it (part_encoder.h says what crosses from one to the next).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/encoder/image_source.h"
#include "tools/encoder/worker_pool.h"

namespace lumo {

struct Stretch {
    uint32_t begin;
    uint32_t end;
    int channels;  // of sample data: the byte channels of a frame, 1..4; 0 for other bytes
    bool audio;    // coded in audio mode
};

struct Part {
    size_t first_stretch;
    size_t end_stretch;  // one past the last
    uint32_t begin;
    uint32_t end;
};

struct StreamPlan {
    std::vector<Stretch> stretches;
    std::vector<Part> parts;
    double seconds = 0;  // processor time the plan took, over all threads
};

struct PlanOptions {
    int level;
    bool audio;        // look for sample data to code in audio mode
    uint32_t part_size;  // at least 1 KiB
};

inline constexpr uint32_t kDefaultPartSize = 4 << 20;

// The image must be smaller than 4 GiB. The searches and trials run on `pool`.
StreamPlan plan_stream(const ImageSource& image, const PlanOptions& options, WorkerPool& pool);

}  // namespace lumo
