#include "payload/unpack_stream.h"

#include "payload/stream_decoders.h"

namespace lumo {

int32_t unpack_stream(const uint8_t* packed_begin, const uint8_t* packed_end,
                      uint8_t* output_begin, uint8_t* output_end, ProgressSink& progress) {
    const auto window = allocate_window();
    return unpack_stream_fast(packed_begin, packed_end, output_begin, output_end, progress,
                              window.get());
}

}  // namespace lumo
