// Where the streaming decoder hands the container image on: block after
// block, in order, each out of the decoder's own bounded buffer, so that
// memory stays the same whatever the size of the image.
#pragma once

#include <cstdint>

namespace lumo {

class ImageOutput {
public:
    virtual ~ImageOutput() = default;

    // The next n bytes of the image, one block as the decoder emits it (an
    // empty final block too). They stay where they are until the decoder
    // asks to reuse their place. False when no more of the image is wanted:
    // decoding then stops.
    virtual bool emit(const uint8_t* bytes, uint32_t n) = 0;

    // The decoder is about to write over the bytes it emitted for image
    // positions below `position` (or, at its end, to free them): returns
    // once nobody reads them any more. False when no more of the image is
    // wanted.
    virtual bool reuse(uint64_t position) = 0;
};

}  // namespace lumo
