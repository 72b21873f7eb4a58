// Which part of the stage the window shows, and the frame-rate text.
#include "drivers/basic/frame_presentation.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace qor::basic {
namespace {

TEST(BasicFramePart, OnlyDisplayModeOneShowsTheLeftHalf) {
    EXPECT_TRUE(ShowsLeftHalfOnly(1));
    EXPECT_FALSE(ShowsLeftHalfOnly(0));
    EXPECT_FALSE(ShowsLeftHalfOnly(2));
}

TEST(BasicFrameRate, SixtyFramesASecondReadsSixtyTwoOnceTheSumPassesAThousand) {
    FrameRateCounter counter;
    EXPECT_EQ(counter.Text(), "0");
    EXPECT_FALSE(counter.OnFrame(5000));  // starts the clock
    // Each 16 ms frame adds 1000 / 16 = 62; sixteen of them make 992.
    for (uint64_t i = 1; i <= 16; ++i) EXPECT_FALSE(counter.OnFrame(5000 + 16 * i));
    EXPECT_EQ(counter.Text(), "0");
    EXPECT_TRUE(counter.OnFrame(5000 + 16 * 17));
    EXPECT_EQ(counter.Text(), "62");

    // The next round starts from nothing: 33 ms frames add 30 each, 34 of them pass 1000.
    uint64_t tick = 5000 + 16 * 17;
    for (int i = 0; i < 33; ++i) EXPECT_FALSE(counter.OnFrame(tick += 33));
    EXPECT_EQ(counter.Text(), "62");
    EXPECT_TRUE(counter.OnFrame(tick += 33));
    EXPECT_EQ(counter.Text(), "30");
}

TEST(BasicFrameRate, ExactlyAThousandIsNotEnoughAndSameMillisecondFramesCountAsOneApart) {
    FrameRateCounter counter;
    counter.OnFrame(100);
    EXPECT_FALSE(counter.OnFrame(101));  // sum 1000
    EXPECT_EQ(counter.Text(), "0");
    EXPECT_TRUE(counter.OnFrame(101));  // 1 ms again: 2000 over two frames
    EXPECT_EQ(counter.Text(), "1000");
    // The same value again is no change.
    counter.OnFrame(102);
    EXPECT_FALSE(counter.OnFrame(103));
    EXPECT_EQ(counter.Text(), "1000");
}

}  // namespace
}  // namespace qor::basic
