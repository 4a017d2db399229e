// The two implementations behind unpack_stream. The reference decoder follows
// the format step by step and is the oracle of the fast one, which must
// produce the same bytes, the same progress reports and the same answer for
// every input. Both take the window from the caller; nullptr stands for a
// window that could not be allocated. The fast decoder reads the window only
// for what stands before the image's first byte (a damaged stream reaches
// back there); the installer streams with it (unpack_stream_to).
//
// Both answer 1 when the stored stream itself produced the whole output, and
// 0 when decoding had to read past the stream's last stored byte to get
// there (the output is then made of what the format reads on over: zeros or
// stale input), gave up, or had no window.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "payload/bit_input.h"
#include "payload/image_output.h"
#include "payload/progress_sink.h"
#include "payload/unpack_stream.h"

namespace lumo {

// Never more than 260 bytes are written by one pass of the decoding loop, so
// a flush when fewer than this many positions separate the write position
// from the bytes not yet emitted keeps those bytes from being overwritten.
inline constexpr uint32_t flush_margin = 270;

// Refills that find the stored stream used up, after which decoding gives
// up. Past the end of the stream the decoder reads on over a buffer that no
// longer changes; a damaged stream can decode there very slowly or forever
// (passes that produce nothing, or one byte in tens of thousands). A stream
// written by a packer ends within a few bits of its last byte, so it needs
// at most one such refill: a refill moves at most 30 unread bytes to the
// front, and the stream's last bits lie among them. Giving up after two
// bounds the work after the end to 2 x 8160 bytes of input (a
// damaged stream of a few hundred bytes costs what a sound one does); the
// bytes decoded are emitted as at the end, and the rest of the output area
// is filled with zeros, an image that fails its checks, as a damaged stream
// leaves anyway.
inline constexpr uint32_t max_stale_refills = 2;

// The 1 MiB window, zeroed; nullptr when memory is short. Fresh zero pages
// from calloc rather than a zero-filled block: the fast decoder writes the
// window only for the last block and reads it only where a damaged stream
// reaches back before the first byte, and pages it never touches cost
// neither time nor memory.
struct FreeWindow {
    void operator()(uint8_t* window) const { std::free(window); }
};
using Window = std::unique_ptr<uint8_t[], FreeWindow>;
Window allocate_window();

int32_t unpack_stream_reference(const uint8_t* packed_begin, const uint8_t* packed_end,
                                uint8_t* output_begin, uint8_t* output_end,
                                ProgressSink& progress, uint8_t* window);

int32_t unpack_stream_fast(const uint8_t* packed_begin, const uint8_t* packed_end,
                           uint8_t* output_begin, uint8_t* output_end, ProgressSink& progress,
                           uint8_t* window);

// The fast decoder, streaming. `history` holds the window_size bytes that
// stand before the image's first byte, or is null for zeros, as a fresh
// window holds.
StreamedImage unpack_stream_fast_to(PackedFeed& feed, uint64_t image_size, ImageOutput& output,
                                    const uint8_t* history);

// The same in a buffer of the caller's, of stream_buffer_size(image_size)
// bytes: the window_size bytes of history, then zeros. Only bytes behind
// the history are written, and for an image that fits the buffer whole
// (image_size + block_reach past the history) no more than the image, one
// pass and a word copy's overrun. For the fuzzer, whose inputs decode to a
// few hundred bytes: a fresh buffer of megabytes filled for each would
// cost it far more than the decoding.
StreamedImage unpack_stream_fast_in(PackedFeed& feed, uint64_t image_size, ImageOutput& output, uint8_t* buffer);
uint64_t stream_buffer_size(uint64_t image_size);
// unpack_stream_fast in such a buffer, for output_end - output_begin bytes.
int32_t unpack_stream_fast_in(const uint8_t* packed_begin, const uint8_t* packed_end, uint8_t* output_begin,
                              uint8_t* output_end, ProgressSink& progress, uint8_t* buffer);

// The decoder's buffer: the window of history, room for this many bytes of
// blocks, and a pass's reach behind the last. Compacted when full: the
// window's bytes move to the front, so that every match reads its source in
// one piece.
inline constexpr uint64_t stream_block_room = 4u << 20;

}  // namespace lumo
