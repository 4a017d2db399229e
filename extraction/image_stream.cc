#include "extraction/image_stream.h"

#include <algorithm>
#include <cstring>

namespace lumo {
namespace {

// What the image holds where the decoder emitted nothing.
uint8_t zeros[4096];

}  // namespace

std::span<const uint8_t> ImageStream::next(uint64_t most) {
    most = std::min(most, size_ - position_);
    if (most == 0) return {};
    // What was handed out before is read by now.
    pipe_.release(position_);
    while (!decoder_ended_ && position_ >= block_start_ + block_.size) {
        block_start_ += block_.size;
        if (!pipe_.take(block_)) {
            decoder_ended_ = true;
            block_ = {};
            break;
        }
        meter_.report_progress(block_.size);
    }
    std::span<const uint8_t> piece;
    if (decoder_ended_)
        piece = {zeros, size_t(std::min<uint64_t>(most, sizeof zeros))};
    else
        piece = {block_.bytes + (position_ - block_start_),
                 size_t(std::min<uint64_t>(most, block_start_ + block_.size - position_))};
    position_ += piece.size();
    return piece;
}

bool ImageStream::skip_to(uint64_t position) {
    if (position < position_ || position > size_) return false;
    while (position_ < position) {
        if (decoder_ended_) {
            position_ = position;  // nothing but zeros lies between
            break;
        }
        next(position - position_);
    }
    return true;
}

bool ImageStream::read(uint8_t* destination, uint64_t n) {
    if (n > size_ - position_) return false;
    while (n > 0) {
        const auto piece = next(n);
        std::memcpy(destination, piece.data(), piece.size());
        destination += piece.size();
        n -= piece.size();
    }
    return true;
}

}  // namespace lumo
