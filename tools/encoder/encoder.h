// The packer's encoder: turns a container image into the scrambled packed
// stream that the installer's decoder (payload/unpack_stream.h) reads back.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace lumo {

enum class AudioMode {
    automatic,  // code WAV sample data in audio mode where that comes out smaller
    off,        // LZ mode only
};

struct EncoderOptions {
    int level = 6;  // 1 fastest .. 9 best
    AudioMode audio = AudioMode::automatic;
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
};

inline constexpr int kFastestLevel = 1;
inline constexpr int kDefaultLevel = 6;
inline constexpr int kBestLevel = 9;

// The packed stream for `image`, scrambled: what follows the 8-byte header of
// a stored payload. The same image and options always give the same bytes.
std::vector<uint8_t> pack_stream(std::span<const uint8_t> image, const EncoderOptions& options,
                                 EncoderStatistics* statistics = nullptr);

// The same stream before scrambling, for tests that read its bit layout.
std::vector<uint8_t> pack_stream_plain(std::span<const uint8_t> image, const EncoderOptions& options,
                                       EncoderStatistics* statistics = nullptr);

// Scrambles a plain stream in place with the running key the decoder starts
// from: each little-endian word is XORed with the key, and the key for the next
// word is the stored (scrambled) word + 0x6B2D. A tail of 1 to 3 bytes is XORed
// with the low bytes of the key.
void scramble_stream(std::span<uint8_t> stream);

}  // namespace lumo
