// The display window through the display device: shown and hidden by the display state,
// steered from the keyboard on the window's thread, made by the provider.
#include "drivers/basic/display_device.h"
#include "drivers/basic/server_driver.h"
#include "tests/drivers/fake_host.h"
#include "tests/drivers/window_keys.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace qor {
namespace {

using basic::ArrowKey;

constexpr float kTolerance = 1e-5f;

basic::BasicDriverSettings SmallWindow() {
    basic::BasicDriverSettings settings;
    settings.windowWidth = 320;
    settings.windowHeight = 180;
    return settings;
}

bool Near(const XrQuaternionf& a, const XrQuaternionf& b) {
    return std::fabs(a.x - b.x) < kTolerance && std::fabs(a.y - b.y) < kTolerance && std::fabs(a.z - b.z) < kTolerance &&
           std::fabs(a.w - b.w) < kTolerance;
}

bool Near(const XrVector3f& a, const XrVector3f& b) {
    return std::fabs(a.x - b.x) < kTolerance && std::fabs(a.y - b.y) < kTolerance && std::fabs(a.z - b.z) < kTolerance;
}

class BasicDisplayWindow : public testing::Test {
protected:
    XrPosef Pose() {
        XrPosef pose {};
        device_->GetPose(&pose, 0);
        return pose;
    }
    bool WaitForOrientation(float yawDegrees, float pitchDegrees) {
        const XrQuaternionf expected = basic::OrientationFromAngles(yawDegrees, pitchDegrees);
        return test::WaitUntil([&] { return Near(Pose().orientation, expected); });
    }
    bool WaitForPosition(float x, float y, float z) {
        return test::WaitUntil([&] { return Near(Pose().position, XrVector3f {x, y, z}); });
    }
    basic::DisplayWindow& Window() { return *device_->Window(); }

    test::TempEnvironment env_;
    std::unique_ptr<CSampleDeviceDriver> device_ = CSampleDeviceDriver::CreateWithWindow(SmallWindow());
};

TEST_F(BasicDisplayWindow, HiddenUntilANonZeroStateAndHiddenAgainByZeroOrDeactivate) {
    ASSERT_NE(device_->Window(), nullptr);
    ASSERT_NE(Window().NativeWindow(), 0u);
    EXPECT_FALSE(Window().IsVisible());

    device_->SetDisplayState(1);
    EXPECT_TRUE(test::WaitUntil([&] { return Window().IsVisible(); }));
    device_->SetDisplayState(0);
    EXPECT_TRUE(test::WaitUntil([&] { return !Window().IsVisible(); }));
    device_->SetDisplayState(999);
    EXPECT_TRUE(test::WaitUntil([&] { return Window().IsVisible(); }));
    device_->Deactivate();
    EXPECT_TRUE(test::WaitUntil([&] { return !Window().IsVisible(); }));
}

TEST_F(BasicDisplayWindow, ArrowKeysTurnTheHeadOneDegreePerPress) {
    for (int i = 0; i < 3; ++i) test::PressArrowKey(Window(), ArrowKey::Left);
    EXPECT_TRUE(WaitForOrientation(3.0f, 0.0f));
    test::PressArrowKey(Window(), ArrowKey::Up);
    EXPECT_TRUE(WaitForOrientation(3.0f, 1.0f));
    for (int i = 0; i < 4; ++i) test::PressArrowKey(Window(), ArrowKey::Right);
    test::PressArrowKey(Window(), ArrowKey::Down);
    test::PressArrowKey(Window(), ArrowKey::Down);
    EXPECT_TRUE(WaitForOrientation(-1.0f, -1.0f));
}

TEST_F(BasicDisplayWindow, CharactersMoveTheHeadAndOResetsIt) {
    test::TypeCharacter(Window(), 'd');
    test::TypeCharacter(Window(), 'D');
    test::TypeCharacter(Window(), 'W');
    EXPECT_TRUE(WaitForPosition(0.2f, 0.0f, 0.9f));
    // Other characters do nothing: only the 'a' after them moves the head.
    test::TypeCharacter(Window(), 'x');
    test::TypeCharacter(Window(), '4');
    test::TypeCharacter(Window(), 'a');
    test::TypeCharacter(Window(), 's');
    test::TypeCharacter(Window(), 'S');
    EXPECT_TRUE(WaitForPosition(0.1f, 0.0f, 1.1f));

    test::PressArrowKey(Window(), ArrowKey::Left);
    EXPECT_TRUE(WaitForOrientation(1.0f, 0.0f));
    test::TypeCharacter(Window(), 'O');
    EXPECT_TRUE(WaitForPosition(0.0f, 0.0f, 1.0f));
    EXPECT_TRUE(WaitForOrientation(0.0f, 0.0f));
    // Yaw was reset with the orientation: one more press gives 1 degree, not 2.
    test::PressArrowKey(Window(), ArrowKey::Left);
    EXPECT_TRUE(WaitForOrientation(1.0f, 0.0f));
}

TEST_F(BasicDisplayWindow, KeyReleasesAreIgnored) {
    // Handled in order: had the release turned the head, the press would bring it back to 0.
    test::ReleaseArrowKey(Window(), ArrowKey::Left);
    test::PressArrowKey(Window(), ArrowKey::Right);
    EXPECT_TRUE(WaitForOrientation(-1.0f, 0.0f));
}

TEST_F(BasicDisplayWindow, HandlesThatOpenNoTexturePresentNothing) {
    device_->PresentFrame(0x7654321);
    device_->PresentFrame(0);
    device_->PresentFrame(0xFFFFFFFFFFull);
    Window().IsVisible();  // a round trip through the window's thread
    EXPECT_EQ(Window().PresentedFrames(), 0u);
    EXPECT_EQ(device_->LastFrameHandle(), 0xFFFFFFFFFFull);
}

TEST(BasicDisplayWindowProvider, InitializeMakesTheWindowHiddenAndTheServiceShowsIt) {
    test::TempEnvironment env;
    test::FakeHost host;
    CServerDriver_Sample provider;
    ASSERT_EQ(provider.Initialize(host.Context()), 0);
    ASSERT_NE(provider.DisplayDevice(), nullptr);
    basic::DisplayWindow* window = provider.DisplayDevice()->Window();
    ASSERT_NE(window, nullptr);
    EXPECT_NE(window->NativeWindow(), 0u);
    EXPECT_FALSE(window->IsVisible());

    ASSERT_NE(host.devices.at(0).display, nullptr);
    host.devices[0].display->SetDisplayState(1);
    EXPECT_TRUE(test::WaitUntil([&] { return window->IsVisible(); }));
    host.devices[0].display->SetDisplayState(0);
    EXPECT_TRUE(test::WaitUntil([&] { return !window->IsVisible(); }));
}

}  // namespace
}  // namespace qor
