// The packed stream decoder: turns a stored packed stream back into the
// container image, in one call. The decoder works in a buffer of its own of
// stream_buffer_size bytes, whatever the image's size: the 1 MiB window of
// history and room for a few blocks behind it. unpack_stream_to hands each
// block on as it is emitted; unpack_stream copies the blocks into an output
// area that holds the whole image.
#pragma once

#include <cstdint>

#include "payload/bit_input.h"
#include "payload/image_output.h"
#include "payload/progress_sink.h"

namespace lumo {

// What a streamed decoding came to.
struct StreamedImage {
    // The stored stream itself produced the whole image: decoding never read
    // past its last stored byte to get there.
    bool filled = false;
    // Image bytes handed on, from the start. The image's other bytes are
    // zeros: a last block that would run past the image's end is dropped
    // whole, and decoding gives up on a stream long used up.
    uint64_t emitted = 0;
    // Decoding gave up on a used-up stream (or had no memory for its buffer).
    bool gave_up = false;
};

// Decodes the packed stream that `feed` hands over into an image of
// `image_size` bytes, handing every block to `output` (which may stop it).
// Each call starts from fresh decoder state and the initial descrambling
// key. Reads stay inside what the feed hands over, whatever it holds. When
// memory for the buffer is short nothing is emitted.
StreamedImage unpack_stream_to(PackedFeed& feed, uint64_t image_size, ImageOutput& output);

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

// As unpack_stream, and says whether the stored stream itself produced the
// whole output: false when decoding had to read on past the stream's last
// stored byte to fill the output area (over the zeros or stale input the
// format falls back on), or memory was short. The installer never asks;
// lumopack's readers do, to tell a stored unpacked size that was raised.
bool unpack_stream_filled(const uint8_t* packed_begin, const uint8_t* packed_end,
                          uint8_t* output_begin, uint8_t* output_end, ProgressSink& progress);

// The most a packed stream of `packed_size` bytes unpacks to without reading
// past its end. Every step of the decoding loop reads at least one bit (a
// code is 1 to 15 bits long) and writes at most one longest match, and a
// repeat of the last match can be coded in one bit: at most 260 bytes a bit.
inline constexpr uint64_t max_unpacked_bytes_per_packed_bit = 260;
constexpr uint64_t max_unpacked_size(uint64_t packed_size) {
    return packed_size * 8 * max_unpacked_bytes_per_packed_bit;
}

}  // namespace lumo
