// The two implementations behind unpack_stream. The reference decoder follows
// the format step by step and is the oracle of the fast one, which must
// produce the same bytes and the same progress reports for every input.
// Both take the window from the caller; nullptr stands for a window that
// could not be allocated.
#pragma once

#include <cstdint>
#include <memory>

#include "payload/progress_sink.h"

namespace lumo {

// Never more than 260 bytes are written by one pass of the decoding loop, so
// a flush when fewer than this many positions separate the write position
// from the bytes not yet emitted keeps those bytes from being overwritten.
inline constexpr uint32_t flush_margin = 270;

// Passes that produce no byte (table switches, a repeat before any match)
// in a row after which decoding gives up. Past the end of the stream the
// decoder reads a buffer that no longer changes, and a damaged stream can
// decode to such passes forever; no packer writes more than a handful in a
// row. Giving up leaves an image that fails its checks, as a damaged stream
// does anyway.
inline constexpr uint32_t max_idle_passes = 1u << 22;

// The 1 MiB window, zeroed; nullptr when memory is short.
std::unique_ptr<uint8_t[]> allocate_window();

int32_t unpack_stream_reference(const uint8_t* packed_begin, const uint8_t* packed_end,
                                uint8_t* output_begin, uint8_t* output_end,
                                ProgressSink& progress, uint8_t* window);

int32_t unpack_stream_fast(const uint8_t* packed_begin, const uint8_t* packed_end,
                           uint8_t* output_begin, uint8_t* output_end, ProgressSink& progress,
                           uint8_t* window);

}  // namespace lumo
