#include "tools/lumopack/work_report.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace lumo {

namespace {

// Tasks taken in order, each by the processor that is free first.
double scheduled_seconds(const std::vector<double>& tasks, int processors) {
    std::vector<double> free_at(size_t(std::max(1, processors)), 0.0);
    for (double task : tasks) *std::min_element(free_at.begin(), free_at.end()) += task;
    return *std::max_element(free_at.begin(), free_at.end());
}

std::vector<double> part_seconds(const EncoderWork& work) {
    std::vector<double> seconds;
    for (const PartWork& part : work.parts) seconds.push_back(part.seconds);
    return seconds;
}

}  // namespace

double projected_seconds(const PackSummary& summary, int processors) {
    const EncoderWork& work = summary.work;
    return scheduled_seconds(summary.reading_seconds, processors) + work.plan_seconds / processors +
           std::max(scheduled_seconds(part_seconds(work), processors), work.sequential_seconds) +
           summary.verifying_seconds;
}

void print_work_report(std::FILE* out, const PackSummary& summary) {
    const EncoderWork& work = summary.work;
    std::fprintf(out, "%6s %14s %12s %12s %10s\n", "part", "image from", "bytes", "packed", "seconds");
    for (size_t i = 0; i < work.parts.size(); ++i) {
        const PartWork& p = work.parts[i];
        std::fprintf(out, "%6zu %14llu %12llu %12llu %10.3f\n", i, (unsigned long long)p.image_begin,
                     (unsigned long long)(p.image_end - p.image_begin), (unsigned long long)((p.packed_bits + 7) / 8),
                     p.seconds);
    }
    const std::vector<double> parts = part_seconds(work);
    const double parts_total = std::accumulate(parts.begin(), parts.end(), 0.0);
    const double reading = std::accumulate(summary.reading_seconds.begin(), summary.reading_seconds.end(), 0.0);
    std::fprintf(out, "parts, side by side:                   %8.3f s over %zu parts\n", parts_total, parts.size());
    std::fprintf(out, "first pass (checksums), file by file:  %8.3f s over %zu files\n", reading,
                 summary.reading_seconds.size());
    std::fprintf(out, "plan (audio search, mode trials):      %8.3f s\n", work.plan_seconds);
    std::fprintf(out, "sequential beside the parts:           %8.3f s (audio prediction, joining, scrambling)\n",
                 work.sequential_seconds);
    std::fprintf(out, "verifying, alone:                      %8.3f s\n", summary.verifying_seconds);
    const double one = projected_seconds(summary, 1);
    std::fprintf(out, "worked out for N processors (threads %d this run):", work.threads);
    for (int n : {1, 2, 4, 8, 16, 32, 64}) {
        const double t = projected_seconds(summary, n);
        std::fprintf(out, " %d: %.2f s (%.2fx)%s", n, t, t > 0 ? one / t : 1.0, n == 64 ? "\n" : ";");
    }
}

}  // namespace lumo
