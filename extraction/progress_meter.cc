#include "extraction/progress_meter.h"

#include <algorithm>

namespace lumo {
namespace {

// Up to this total the exact quotient is used; the meter has always switched
// formulas here, and installers in the field show their progress by it.
constexpr uint64_t exact_formula_limit = 41942;

}  // namespace

uint64_t progress_bytes_expected(uint32_t unpacked_size) {
    uint64_t twice = uint64_t(unpacked_size) * 2;
    // An image shorter than its own header is corrupt; its progress is empty.
    return twice > 52 ? twice - 52 : 0;
}

uint32_t progress_percentage(uint64_t bytes_done, uint64_t bytes_expected) {
    if (bytes_expected == 0) return bytes_done > 0 ? 100 : 0;
    uint64_t half_percent = bytes_expected <= exact_formula_limit
                                ? bytes_done * 200 / bytes_expected
                                : bytes_done * 2 / (bytes_expected / 100);
    return uint32_t(std::min<uint64_t>((half_percent + 1) / 2, 100));
}

ProgressMeter::ProgressMeter(Platform& platform, uint32_t unpacked_size)
    : platform_(platform), bytes_expected_(progress_bytes_expected(unpacked_size)) {}

void ProgressMeter::report_progress(uint32_t bytes) {
    bytes_done_ += bytes;
    uint32_t percentage = progress_percentage(bytes_done_, bytes_expected_);
    if (percentage == last_percentage_shown_) return;
    platform_.set_progress(percentage);
    last_percentage_shown_ = percentage;
}

}  // namespace lumo
