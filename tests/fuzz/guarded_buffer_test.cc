// The fuzz targets' buffers: whatever the input's size, its bytes end at an
// inaccessible page, so that a read one byte past them faults at once, and
// a write just before them shows in the slack.
#include "fuzz/guarded_buffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace lumo::fuzz {
namespace {

uint8_t read_at(const uint8_t* p) { return *static_cast<const volatile uint8_t*>(p); }

TEST(ReusedGuardedBuffer, EveryInputEndsAtTheGuardPageAlsoAfterGrowing) {
    ReusedGuardedBuffer buffer(100);
    for (size_t size : {size_t(100), size_t(7), size_t(0), size_t(5000), size_t(64), size_t(20000)}) {
        SCOPED_TRACE(size);
        const std::vector<uint8_t> bytes(size, 0x5C);
        buffer.place(bytes);
        ASSERT_EQ(buffer.size(), size);
        EXPECT_EQ(std::vector<uint8_t>(buffer.data(), buffer.end()), bytes);
        EXPECT_TRUE(buffer.slack_intact());
        EXPECT_DEATH(read_at(buffer.end()), "") << "a read one byte past the input";
        if (size > 0 && size < 4096) {
            buffer.data()[-1] = 0;
            EXPECT_FALSE(buffer.slack_intact()) << "a write just before the input";
        }
    }
}

}  // namespace
}  // namespace lumo::fuzz
