// The packer's encoder: turns a container image into the scrambled packed
// stream that the installer's decoder (payload/unpack_stream.h) reads back.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tools/encoder/image_source.h"

namespace lumo {

enum class AudioMode {
    automatic,  // code WAV sample data in audio mode where that comes out smaller
    off,        // LZ mode only
};

struct EncoderOptions {
    int level = 6;  // 1 fastest .. 9 best
    AudioMode audio = AudioMode::automatic;
    int threads = 0;  // 0: one per processor. The stream does not depend on it.
    // Bytes of image per unit of work (0: the default, 4 MiB; at least 1 KiB).
    // Smaller parts spread the work over more threads and pack a little
    // larger. The stream depends on it; tests set it to split small images
    // many times.
    uint32_t part_size = 0;
};

// What an encoding consists of, for tests and the packer's report.
struct EncoderStatistics {
    uint64_t literals = 0;
    uint64_t repeats = 0;          // symbol 256: last length and distance again
    uint64_t old_distances = 0;    // symbols 257..260
    uint64_t short_matches = 0;    // symbols 261..268
    uint64_t long_matches = 0;     // symbols 270..297
    uint64_t far_matches = 0;      // long matches reaching beyond 262144
    uint64_t lz_blocks = 0;
    uint64_t audio_blocks = 0;
    uint64_t audio_bytes = 0;
    uint64_t kept_tables = 0;      // blocks whose lengths are deltas to the block before

    EncoderStatistics& operator+=(const EncoderStatistics& other);
};

// How the work was divided, so that the time on any number of processors
// can be worked out from one run.
struct PartWork {
    uint64_t image_begin = 0;
    uint64_t image_end = 0;
    uint64_t packed_bits = 0;
    double seconds = 0;  // processor time
};
struct EncoderWork {
    std::vector<PartWork> parts;     // coded side by side, any number at a time
    double plan_seconds = 0;         // finding sample data and choosing modes, also side by side
    double sequential_seconds = 0;   // audio prediction, joining and scrambling: one thread, beside the parts
    int threads = 0;
};

inline constexpr int kFastestLevel = 1;
inline constexpr int kDefaultLevel = 6;
inline constexpr int kBestLevel = 9;

// Writes the packed stream for `image`, scrambled, to `sink`: what follows the
// 8-byte header of a stored payload. Returns its size in bytes. The same
// image and options (threads aside) always give the same bytes. The image
// must be smaller than 4 GiB.
uint64_t pack_stream(const ImageSource& image, const EncoderOptions& options, StreamSink& sink,
                     EncoderStatistics* statistics = nullptr, EncoderWork* work = nullptr);

// The same for an image in memory.
std::vector<uint8_t> pack_stream(std::span<const uint8_t> image, const EncoderOptions& options,
                                 EncoderStatistics* statistics = nullptr);

// Scrambles a plain stream in place with the running key the decoder starts
// from: each little-endian word is XORed with the key, and the key for the next
// word is the stored (scrambled) word + 0x6B2D. A tail of 1 to 3 bytes is XORed
// with the low bytes of the key.
void scramble_stream(std::span<uint8_t> stream);

}  // namespace lumo
