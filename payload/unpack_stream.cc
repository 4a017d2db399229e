#include "payload/unpack_stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "payload/match_tables.h"
#include "payload/stream_decoders.h"

namespace lumo {

// The longest match: the last length slot with all its extra bits, and the
// units that far distances add (3 + 2 for a long match, 2 + 3 for one with an
// old distance).
static_assert(length_slots.back().base + (1u << length_slots.back().extra_bits) - 1 + 5 ==
              max_unpacked_bytes_per_packed_bit);

namespace {

// A packed stream that lies whole in memory: one piece.
class WholeStream final : public PackedFeed {
public:
    WholeStream(const uint8_t* begin, const uint8_t* end) : begin_(begin), end_(std::max(begin, end)) {}
    std::span<const uint8_t> next_piece() override {
        std::span<const uint8_t> piece(begin_, end_);
        begin_ = end_;
        return piece;
    }

private:
    const uint8_t* begin_;
    const uint8_t* end_;
};

// The blocks copied into an output area that holds the whole image, each
// reported as it comes.
class CopyToOutput final : public ImageOutput {
public:
    CopyToOutput(uint8_t* begin, ProgressSink& progress) : next_(begin), progress_(progress) {}
    bool emit(const uint8_t* bytes, uint32_t n) override {
        if (n != 0) std::memcpy(next_, bytes, n);
        next_ += n;
        progress_.report_progress(n);
        return true;
    }
    bool reuse(uint64_t) override { return true; }

private:
    uint8_t* next_;
    ProgressSink& progress_;
};

// Decodes into the output area. A refused last block leaves the output as
// the caller gave it; a stream given up on leaves zeros behind what was
// decoded.
// The decoder's buffer is made for the call, with `history` (zeros when
// null), or is the caller's `buffer`.
bool unpack_into(const uint8_t* packed_begin, const uint8_t* packed_end, uint8_t* output_begin, uint8_t* output_end,
                 ProgressSink& progress, const uint8_t* history, uint8_t* buffer = nullptr) {
    if (output_end < output_begin) output_end = output_begin;
    WholeStream feed(packed_begin, packed_end);
    CopyToOutput output(output_begin, progress);
    const uint64_t size = uint64_t(output_end - output_begin);
    const StreamedImage image = buffer != nullptr ? unpack_stream_fast_in(feed, size, output, buffer)
                                                  : unpack_stream_fast_to(feed, size, output, history);
    if (image.gave_up) std::fill(output_begin + image.emitted, output_end, uint8_t(0));
    return image.filled;
}

}  // namespace

// Here rather than beside either decoder, so that a program that links one
// of them does not link the other for the window.
Window allocate_window() { return Window(static_cast<uint8_t*>(std::calloc(window_size, 1))); }

StreamedImage unpack_stream_to(PackedFeed& feed, uint64_t image_size, ImageOutput& output) {
    return unpack_stream_fast_to(feed, image_size, output, nullptr);
}

int32_t unpack_stream(const uint8_t* packed_begin, const uint8_t* packed_end,
                      uint8_t* output_begin, uint8_t* output_end, ProgressSink& progress) {
    unpack_into(packed_begin, packed_end, output_begin, output_end, progress, nullptr);
    return 1;
}

bool unpack_stream_filled(const uint8_t* packed_begin, const uint8_t* packed_end,
                          uint8_t* output_begin, uint8_t* output_end, ProgressSink& progress) {
    return unpack_into(packed_begin, packed_end, output_begin, output_end, progress, nullptr);
}

int32_t unpack_stream_fast(const uint8_t* packed_begin, const uint8_t* packed_end,
                           uint8_t* output_begin, uint8_t* output_end, ProgressSink& progress,
                           uint8_t* window) {
    if (window == nullptr) {
        // Out of memory: no image, and one that fails every check.
        if (output_end > output_begin) std::fill(output_begin, output_end, uint8_t(0));
        return 0;
    }
    return unpack_into(packed_begin, packed_end, output_begin, output_end, progress, window) ? 1 : 0;
}

int32_t unpack_stream_fast_in(const uint8_t* packed_begin, const uint8_t* packed_end, uint8_t* output_begin,
                              uint8_t* output_end, ProgressSink& progress, uint8_t* buffer) {
    return unpack_into(packed_begin, packed_end, output_begin, output_end, progress, nullptr, buffer) ? 1 : 0;
}

}  // namespace lumo
