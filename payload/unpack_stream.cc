#include "payload/unpack_stream.h"

#include <cstdlib>

#include "payload/match_tables.h"
#include "payload/stream_decoders.h"

namespace lumo {

// The longest match: the last length slot with all its extra bits, and the
// units that far distances add (3 + 2 for a long match, 2 + 3 for one with an
// old distance).
static_assert(length_slots.back().base + (1u << length_slots.back().extra_bits) - 1 + 5 ==
              max_unpacked_bytes_per_packed_bit);

// Here rather than beside either decoder, so that a program that links one
// of them does not link the other for the window.
Window allocate_window() { return Window(static_cast<uint8_t*>(std::calloc(window_size, 1))); }

int32_t unpack_stream(const uint8_t* packed_begin, const uint8_t* packed_end,
                      uint8_t* output_begin, uint8_t* output_end, ProgressSink& progress) {
    const auto window = allocate_window();
    unpack_stream_fast(packed_begin, packed_end, output_begin, output_end, progress, window.get());
    return 1;
}

bool unpack_stream_filled(const uint8_t* packed_begin, const uint8_t* packed_end,
                          uint8_t* output_begin, uint8_t* output_end, ProgressSink& progress) {
    const auto window = allocate_window();
    return unpack_stream_fast(packed_begin, packed_end, output_begin, output_end, progress,
                              window.get()) == 1;
}

}  // namespace lumo
