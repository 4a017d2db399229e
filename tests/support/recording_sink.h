// A progress sink that keeps every report, for tests that compare decoders.
#pragma once

#include <cstdint>
#include <vector>

#include "payload/progress_sink.h"

namespace lumo::test {

struct RecordingSink final : ProgressSink {
    std::vector<uint32_t> reports;
    void report_progress(uint32_t bytes) override { reports.push_back(bytes); }
};

}  // namespace lumo::test
