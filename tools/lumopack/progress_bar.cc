#include "tools/lumopack/progress_bar.h"

#include <algorithm>

namespace lumo {

ProgressBar::ProgressBar(std::string label, uint64_t total, bool shown)
    : label_(std::move(label)), total_(total), shown_(shown) {}

ProgressBar::~ProgressBar() { finish(); }

void ProgressBar::report_progress(uint32_t bytes) { advance(bytes); }

void ProgressBar::advance(uint64_t bytes) {
    if (!shown_) return;
    done_ += bytes;
    const int percent = total_ == 0 ? 100 : int(std::min<uint64_t>(100, done_ * 100 / total_));
    // Redraw only when the figure changes: the decoder reports many blocks.
    if (percent != shown_percent_) draw(percent);
}

void ProgressBar::restart(std::string label, uint64_t total) {
    label_ = std::move(label);
    total_ = total;
    done_ = 0;
    if (shown_) draw(0);
}

void ProgressBar::draw(int percent) {
    constexpr int width = 30;
    const int filled = percent * width / 100;
    std::fprintf(stderr, "\r%-10s [%s%s] %3d%%", label_.c_str(), std::string(size_t(filled), '#').c_str(),
                 std::string(size_t(width - filled), ' ').c_str(), percent);
    std::fflush(stderr);
    shown_percent_ = percent;
}

void ProgressBar::finish() {
    if (!shown_ || shown_percent_ < 0) return;
    std::fprintf(stderr, "\r%*s\r", 60, "");
    std::fflush(stderr);
    shown_percent_ = -1;
}

}  // namespace lumo
