#include "extraction/installer_file.h"

#include <algorithm>

namespace lumo {

std::span<const uint8_t> InstallerFeed::next_piece() {
    if (piece_ == nullptr || next_ >= end_) return {};
    const size_t n = size_t(std::min<uint64_t>(piece_size, end_ - next_));
    if (!platform_.read_installer(next_, piece_, n)) {
        next_ = end_;
        return {};
    }
    next_ += n;
    return {piece_, n};
}

}  // namespace lumo
