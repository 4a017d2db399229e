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

// The 1 MiB window, zeroed; nullptr when memory is short.
std::unique_ptr<uint8_t[]> allocate_window();

int32_t unpack_stream_reference(const uint8_t* packed_begin, const uint8_t* packed_end,
                                uint8_t* output_begin, uint8_t* output_end,
                                ProgressSink& progress, uint8_t* window);

int32_t unpack_stream_fast(const uint8_t* packed_begin, const uint8_t* packed_end,
                           uint8_t* output_begin, uint8_t* output_end, ProgressSink& progress,
                           uint8_t* window);

}  // namespace lumo
