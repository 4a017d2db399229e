// The progress meter: turns the bytes decoded and written into the
// percentage of the dialog's progress control.
#pragma once

#include <cstdint>

#include "payload/progress_sink.h"
#include "platform/platform.h"

namespace lumo {

// The unpacked image counts twice, once decoded and once written, less the
// 52 header bytes that are never written.
uint64_t progress_bytes_expected(uint32_t unpacked_size);

// The whole-number percentage, halves rounded up. Up to 41942 bytes expected
// the exact quotient is taken; above, the progress is measured in hundredths
// of the total, as the meter always has. The sums are 64-bit, so images up to
// the format's 4 GiB come out right, and the result never exceeds 100 even
// when entries share their data.
uint32_t progress_percentage(uint64_t bytes_done, uint64_t bytes_expected);

class ProgressMeter final : public ProgressSink {
public:
    ProgressMeter(Platform& platform, uint32_t unpacked_size);

    // Adds the bytes; when the percentage changes it is stored with the
    // progress control, which is repainted.
    void report_progress(uint32_t bytes) override;

    uint32_t last_percentage_shown() const { return last_percentage_shown_; }

private:
    Platform& platform_;
    uint64_t bytes_done_ = 0;
    uint64_t bytes_expected_;
    uint32_t last_percentage_shown_ = 0;
};

}  // namespace lumo
