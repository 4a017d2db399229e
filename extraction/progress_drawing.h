// What the progress control shows for a percentage: the width of the filled
// bar and the label drawn over it. Pure, so that every rendition of the
// dialog draws the same and tests can pin the arithmetic.
#pragma once

#include <cstdint>
#include <string>

namespace lumo {

// Right edge of the filled part: the control's width scaled by the
// percentage, in unsigned arithmetic. The left edge stays where it is.
inline uint32_t progress_bar_right(int32_t left, int32_t right, uint32_t percentage) {
    return static_cast<uint32_t>(right - left) * percentage / 100;
}

// "0%" to "100%": the percentage in decimal without leading zeros.
inline std::string progress_label(uint32_t percentage) { return std::to_string(percentage) + "%"; }

}  // namespace lumo
