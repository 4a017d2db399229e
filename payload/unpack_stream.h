// The packed stream decoder: turns a stored packed stream back into the
// container image, in one call.
#pragma once

#include <cstdint>

#include "payload/progress_sink.h"

namespace lumo {

// Decodes the packed stream [packed_begin, packed_end) until
// output_end - output_begin bytes have been produced, writing them to the
// output area and reporting every block emitted to `progress`. Always 1: a
// damaged stream decodes to bytes that fail the container checks, and reads
// stay inside the packed stream whatever it holds. When memory for the 1 MiB
// window or the decoder state is short the output area is filled with zeros
// (which no image check passes) and nothing is reported. Reversed ranges
// count as empty.
//
// Each call starts from fresh decoder state and the initial descrambling key.
int32_t unpack_stream(const uint8_t* packed_begin, const uint8_t* packed_end,
                      uint8_t* output_begin, uint8_t* output_end, ProgressSink& progress);

}  // namespace lumo
