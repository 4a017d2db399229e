// A progress bar on standard error, drawn only when that is a terminal.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "payload/progress_sink.h"

namespace lumo {

class ProgressBar final : public ProgressSink {
public:
    // `total` bytes make 100 percent. A bar that is not shown costs nothing.
    ProgressBar(std::string label, uint64_t total, bool shown);
    ~ProgressBar() override;

    void report_progress(uint32_t bytes) override;
    void advance(uint64_t bytes);
    // Shows a new stage under the same bar, starting again from zero.
    void restart(std::string label, uint64_t total);
    // Clears the bar's line, so that what follows starts on a clean line.
    void finish();

private:
    void draw(int percent);

    std::string label_;
    uint64_t total_;
    uint64_t done_ = 0;
    int shown_percent_ = -1;
    bool shown_;
};

}  // namespace lumo
