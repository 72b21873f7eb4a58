// Scaling the stage texture to the window, and the frame-rate text.
#include "drivers/basic/frame_presentation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace qor::basic {
namespace {

constexpr uint32_t kSrgb = 29;
constexpr uint32_t kUnorm = 28;
constexpr uint32_t kBgraUnorm = 87;

// A source whose pixel (x, y) has red x, green y, blue 7, alpha 255.
std::vector<uint8_t> Numbered(uint32_t width, uint32_t height) {
    std::vector<uint8_t> pixels;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            pixels.insert(pixels.end(), {static_cast<uint8_t>(x), static_cast<uint8_t>(y), 7, 255});
        }
    }
    return pixels;
}

uint32_t Argb(uint32_t r, uint32_t g, uint32_t b) { return 0xFF000000u | (r << 16) | (g << 8) | b; }

TEST(BasicFrameScaling, DownscalingSamplesTheSourcePixelUnderEachTargetCentre) {
    const auto source = Numbered(8, 4);
    std::vector<uint32_t> target(4 * 2);
    ScaleFrame(source.data(), 8, 4, *LayoutOfFormat(kUnorm), false, target.data(), 4, 2);
    // Target centres 0.5, 1.5, ... of 4 fall on source columns 1, 3, 5, 7 and rows 1, 3.
    EXPECT_EQ(target, (std::vector<uint32_t> {Argb(1, 1, 7), Argb(3, 1, 7), Argb(5, 1, 7), Argb(7, 1, 7),
                                              Argb(1, 3, 7), Argb(3, 3, 7), Argb(5, 3, 7), Argb(7, 3, 7)}));
}

TEST(BasicFrameScaling, LeftHalfIsStretchedOverTheWholeTarget) {
    const auto source = Numbered(8, 1);
    std::vector<uint32_t> target(8);
    ScaleFrame(source.data(), 8, 1, *LayoutOfFormat(kUnorm), true, target.data(), 8, 1);
    EXPECT_EQ(target, (std::vector<uint32_t> {Argb(0, 0, 7), Argb(0, 0, 7), Argb(1, 0, 7), Argb(1, 0, 7),
                                              Argb(2, 0, 7), Argb(2, 0, 7), Argb(3, 0, 7), Argb(3, 0, 7)}));
    ASSERT_TRUE(ShowsLeftHalfOnly(1));
    EXPECT_FALSE(ShowsLeftHalfOnly(0));
    EXPECT_FALSE(ShowsLeftHalfOnly(2));
}

TEST(BasicFrameScaling, BgraSourcesSwapRedAndBlue) {
    const std::vector<uint8_t> source {10, 20, 30, 255};  // blue, green, red, alpha
    uint32_t target = 0;
    ScaleFrame(source.data(), 1, 1, *LayoutOfFormat(kBgraUnorm), false, &target, 1, 1);
    EXPECT_EQ(target, Argb(30, 20, 10));
}

TEST(BasicFrameScaling, SrgbFormatsAreDecodedAsASamplingViewDoes) {
    const std::vector<uint8_t> source {0, 188, 255, 255, 10, 128, 54, 0};
    std::vector<uint32_t> target(2);
    ScaleFrame(source.data(), 2, 1, *LayoutOfFormat(kSrgb), false, target.data(), 2, 1);
    // 188 -> 0.503, 10 -> 0.0030 (the linear segment), 128 -> 0.216, 54 -> 0.0368.
    EXPECT_EQ(target[0], Argb(0, 128, 255));
    EXPECT_EQ(target[1], Argb(1, 55, 9));
    ScaleFrame(source.data(), 2, 1, *LayoutOfFormat(kUnorm), false, target.data(), 2, 1);
    EXPECT_EQ(target[0], Argb(0, 188, 255));
}

TEST(BasicFrameScaling, OnlyFourByteColourFormatsCanBeShown) {
    for (uint32_t format : {27u, 28u, 29u, 87u, 88u, 90u, 91u, 92u, 93u}) EXPECT_TRUE(LayoutOfFormat(format)) << format;
    for (uint32_t format : {0u, 10u, 24u, 30u, 31u, 32u, 89u}) EXPECT_FALSE(LayoutOfFormat(format)) << format;
    EXPECT_TRUE(LayoutOfFormat(91)->srgb);
    EXPECT_FALSE(LayoutOfFormat(88)->srgb);
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
