// The container image as the worker reads it while it is decoded: from the
// start onwards, a piece at a time, each block reported to the progress
// meter as it is taken. Bytes past the last the decoder emitted are zeros,
// as in an image that was decoded whole.
#pragma once

#include <cstdint>
#include <span>

#include "extraction/image_pipe.h"
#include "payload/progress_sink.h"

namespace lumo {

class ImageStream {
public:
    ImageStream(ImagePipe& pipe, uint64_t image_size, ProgressSink& meter)
        : pipe_(pipe), size_(image_size), meter_(meter) {}

    uint64_t position() const { return position_; }

    // The bytes from the position on, at least one and at most `most`, and
    // the position moves past them; waits for the decoder. Empty at the
    // image's end. They stay valid until the next call.
    std::span<const uint8_t> next(uint64_t most);

    // Moves on to `position`, passing over the bytes before it; false when
    // it lies behind the position or past the image's end.
    bool skip_to(uint64_t position);

    // The next n bytes copied to `destination`; false past the image's end.
    bool read(uint8_t* destination, uint64_t n);

    // The decoder has ended and the position lies past the last byte it
    // emitted: from here on the image holds nothing but zeros.
    bool only_zeros_left() const { return decoder_ended_; }

private:
    ImagePipe& pipe_;
    const uint64_t size_;
    ProgressSink& meter_;
    uint64_t position_ = 0;
    // The block being read: image positions from block_start_ on.
    ImagePipe::Block block_;
    uint64_t block_start_ = 0;
    bool decoder_ended_ = false;
};

}  // namespace lumo
