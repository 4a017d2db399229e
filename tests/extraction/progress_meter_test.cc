// The progress meter's percentage rule.
#include "extraction/progress_meter.h"

#include <gtest/gtest.h>

#include "extraction/progress_drawing.h"
#include "platform/fake/fake_platform.h"

namespace lumo {
namespace {

// The rule as the 32-bit meter has always computed it: the oracle for every
// image small enough not to overflow it.
uint32_t percentage_in_32_bits(uint32_t done, uint32_t unpacked) {
    uint32_t expected = 2 * unpacked - 52;
    uint32_t one_percent = expected / 100;
    uint32_t half = expected <= 41942 ? done * 200 / expected : done * 2 / one_percent;
    return (half + 1) / 2;
}

int repaints(const FakePlatform& platform) {
    int n = 0;
    for (const auto& line : platform.log) n += line.rfind("progress ", 0) == 0;
    return n;
}

TEST(ProgressMeter, SwitchesFormulasAbove41942BytesExpected) {
    // 20951 of 41943: the exact quotient gives 99.9 half-percents, counting in
    // hundredths of the total (419 bytes) gives 100.
    EXPECT_EQ(progress_percentage(20951, 41942), (20951u * 200 / 41942 + 1) / 2);
    EXPECT_EQ(progress_percentage(20951, 41943), (20951u * 2 / 419 + 1) / 2);
    EXPECT_EQ(progress_percentage(20951, 41943), 50u);
    EXPECT_EQ(progress_percentage(20950, 41943), 50u);  // 99.9 half-percents round up... to 50
    // Both formulas agree up to rounding across the whole run.
    for (uint32_t done = 0; done <= 41942; done += 7) {
        int a = int(progress_percentage(done, 41942)), b = int(progress_percentage(done, 41943));
        ASSERT_LE(std::abs(a - b), 1) << done;
    }
}

TEST(ProgressMeter, UnchangedForImagesThe32BitMeterHandled) {
    for (uint32_t unpacked : {27u, 100u, 20997u, 20998u, 65536u, 1000000u, 200000000u}) {
        uint32_t expected = 2 * unpacked - 52;
        for (uint32_t step = 0; step <= 64; ++step) {
            uint32_t done = uint32_t(uint64_t(expected) * step / 64);
            ASSERT_EQ(progress_percentage(done, progress_bytes_expected(unpacked)),
                      percentage_in_32_bits(done, unpacked))
                << unpacked << " " << done;
        }
    }
}

TEST(ProgressMeter, RightForImagesNear4GiB) {
    // 2 x 0xFFFFFFFF overflows 32 bits; the meter must still count to 100.
    const uint32_t unpacked = 0xFFFFFFFF;
    const uint64_t expected = progress_bytes_expected(unpacked);
    EXPECT_EQ(expected, 2 * uint64_t(unpacked) - 52);
    for (uint32_t pct = 0; pct <= 100; ++pct) {
        uint64_t done = expected * pct / 100;
        EXPECT_EQ(progress_percentage(done, expected), pct) << pct;
    }
    FakePlatform platform;
    ProgressMeter meter(platform, unpacked);
    // The decoder's whole output, then the files, in 64 KiB blocks.
    uint64_t left = expected;
    uint32_t last = 0;
    while (left > 0) {
        uint32_t n = uint32_t(std::min<uint64_t>(left, 65536));
        meter.report_progress(n);
        left -= n;
        ASSERT_GE(meter.last_percentage_shown(), last);
        last = meter.last_percentage_shown();
    }
    EXPECT_EQ(meter.last_percentage_shown(), 100u);
    EXPECT_EQ(repaints(platform), 100);  // each whole percent once
}

TEST(ProgressMeter, RepaintsOnlyWhenThePercentageChanges) {
    FakePlatform platform;
    ProgressMeter meter(platform, 1026);  // 2000 bytes expected
    EXPECT_EQ(meter.last_percentage_shown(), 0u);
    EXPECT_EQ(repaints(platform), 0);
    meter.report_progress(1);  // 0.05 % rounds to 0: nothing to repaint
    EXPECT_EQ(repaints(platform), 0);
    meter.report_progress(9);  // 0.5 % rounds up to 1
    meter.report_progress(1);  // still 1
    EXPECT_EQ(platform.log, std::vector<std::string>{"progress 1"});
    meter.report_progress(1990);  // all of it
    meter.report_progress(5000);  // entries sharing data may report more than expected
    EXPECT_EQ(platform.log, (std::vector<std::string>{"progress 1", "progress 100"}));
    EXPECT_EQ(meter.last_percentage_shown(), 100u);
}

TEST(ProgressMeter, FilesFillingTheImageButTheHeaderReach100) {
    FakePlatform platform;
    const uint32_t unpacked = 300000;
    ProgressMeter meter(platform, unpacked);
    meter.report_progress(unpacked);       // decoded
    meter.report_progress(unpacked - 52);  // written
    EXPECT_EQ(meter.last_percentage_shown(), 100u);
}

TEST(ProgressDrawing, BarAndLabel) {
    struct Case {
        uint32_t left, right, percentage, bar_right;
        const char* label;
    } cases[] = {
        {0, 188, 0, 0, "0%"},       {0, 188, 100, 188, "100%"}, {0, 188, 7, 13, "7%"},
        {0, 188, 42, 78, "42%"},    {0, 40, 50, 20, "50%"},
        {10, 50, 100, 40, "100%"},  // measured from 0, as the painter always did
    };
    for (const auto& c : cases) {
        EXPECT_EQ(progress_bar_right(c.left, c.right, c.percentage), c.bar_right) << c.percentage;
        EXPECT_EQ(progress_label(c.percentage), c.label);
    }
}

}  // namespace
}  // namespace lumo
