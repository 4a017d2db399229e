// The current progress meter, as the decoder and the file writer see it.
#pragma once

#include <cstdint>

namespace lumo {

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    // Called once for every block the decoder emits (also an empty final one)
    // and once for every chunk the file writer has written.
    virtual void report_progress(uint32_t bytes) = 0;
};

// A sink for callers that do not show progress.
class NullProgressSink final : public ProgressSink {
public:
    void report_progress(uint32_t) override {}
};

}  // namespace lumo
