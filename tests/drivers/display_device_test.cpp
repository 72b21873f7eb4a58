// The display device's answers to the service: components, views and view configurations.
#include "drivers/basic/display_device.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

namespace qor {
namespace {

constexpr float kTolerance = 1e-6f;

// Elements as a caller prepares them: its own type and next, the rest a recognisable filler.
std::array<XrView, 4> CallerViews(void* next) {
    std::array<XrView, 4> views {};
    for (auto& view : views) {
        view.type = XR_TYPE_VIEW;
        view.next = next;
        view.pose.position = {9.0f, 9.0f, 9.0f};
        view.fov.angleLeft = 9.0f;
    }
    return views;
}

void ExpectFov(const XrFovf& fov) {
    EXPECT_NEAR(fov.angleLeft, -0.5235988f, kTolerance);
    EXPECT_NEAR(fov.angleRight, 0.5235988f, kTolerance);
    EXPECT_NEAR(fov.angleUp, 0.2945243f, kTolerance);
    EXPECT_NEAR(fov.angleDown, -0.2945243f, kTolerance);
}

void ExpectPosition(const XrVector3f& position, float x, float y, float z) {
    EXPECT_NEAR(position.x, x, kTolerance);
    EXPECT_NEAR(position.y, y, kTolerance);
    EXPECT_NEAR(position.z, z, kTolerance);
}

void ExpectIdentity(const XrQuaternionf& q) {
    EXPECT_NEAR(q.x, 0.0f, kTolerance);
    EXPECT_NEAR(q.y, 0.0f, kTolerance);
    EXPECT_NEAR(q.z, 0.0f, kTolerance);
    EXPECT_NEAR(q.w, 1.0f, kTolerance);
}

TEST(BasicDisplayViews, InitialPoseGivesEyesBesideTheHeadWithIdentityOrientation) {
    CSampleDeviceDriver display(basic::BasicDriverSettings {});
    int marker = 0;
    auto views = CallerViews(&marker);
    uint32_t count = 0;
    ASSERT_EQ(display.LocateViews(4, &count, views.data()), 0);
    EXPECT_EQ(count, 2u);
    ExpectPosition(views[0].pose.position, -0.032f, 0.0f, 1.0f);
    ExpectPosition(views[1].pose.position, 0.032f, 0.0f, 1.0f);
    for (int i = 0; i < 2; ++i) {
        ExpectIdentity(views[i].pose.orientation);
        ExpectFov(views[i].fov);
    }
    for (const auto& view : views) {
        EXPECT_EQ(view.type, XR_TYPE_VIEW);
        EXPECT_EQ(view.next, &marker);
    }
    // Only two views are filled.
    EXPECT_EQ(views[2].pose.position.x, 9.0f);
    EXPECT_EQ(views[3].fov.angleLeft, 9.0f);
}

TEST(BasicDisplayViews, CapacityZeroAndOneReportTheCountWithoutFilling) {
    CSampleDeviceDriver display(basic::BasicDriverSettings {});
    auto views = CallerViews(nullptr);
    uint32_t count = 0;
    EXPECT_EQ(display.LocateViews(0, &count, nullptr), 0);
    EXPECT_EQ(count, 2u);
    count = 0;
    EXPECT_EQ(display.LocateViews(1, &count, views.data()), 201);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(views[0].pose.position.x, 9.0f);

    count = 0;
    XrView two[2] = {{XR_TYPE_VIEW}, {XR_TYPE_VIEW}};
    EXPECT_EQ(display.LocateViews(2, &count, two), 0);
    EXPECT_EQ(count, 2u);
    ExpectPosition(two[1].pose.position, 0.032f, 0.0f, 1.0f);
}

TEST(BasicDisplayViews, WholeEyeVectorIsRotatedByTheSteeredHead) {
    CSampleDeviceDriver display(basic::BasicDriverSettings {});
    for (int i = 0; i < 90; ++i) display.SteerByArrow(basic::ArrowKey::Left);
    XrView views[2] = {{XR_TYPE_VIEW}, {XR_TYPE_VIEW}};
    uint32_t count = 0;
    ASSERT_EQ(display.LocateViews(2, &count, views), 0);
    // 90 degrees about +y takes (x, y, z) to (z, y, -x): the head position turns with it.
    ExpectPosition(views[0].pose.position, 1.0f, 0.0f, 0.032f);
    ExpectPosition(views[1].pose.position, 1.0f, 0.0f, -0.032f);
    const float half = std::sqrt(0.5f);
    EXPECT_NEAR(views[0].pose.orientation.y, half, kTolerance);
    EXPECT_NEAR(views[0].pose.orientation.w, half, kTolerance);

    EXPECT_TRUE(display.SteerByCharacter('o'));
    ASSERT_EQ(display.LocateViews(2, &count, views), 0);
    ExpectPosition(views[0].pose.position, -0.032f, 0.0f, 1.0f);
    XrPosef pose {};
    ASSERT_TRUE(display.GetPose(&pose, 0));
    ExpectIdentity(pose.orientation);
    ExpectPosition(pose.position, 0.0f, 0.0f, 1.0f);
}

TEST(BasicDisplayViews, EnumerateViewConfigurationsByCapacity) {
    CSampleDeviceDriver display(basic::BasicDriverSettings {});
    uint32_t count = 0;
    int32_t types[2] = {-1, -1};
    EXPECT_EQ(display.EnumerateViewConfigurations(0, &count, types), 0);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(types[0], -1);
    count = 0;
    EXPECT_EQ(display.EnumerateViewConfigurations(1, &count, types), 0);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(types[0], XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO);
    types[0] = -1;
    count = 0;
    EXPECT_EQ(display.EnumerateViewConfigurations(2, &count, types), 200);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(types[0], -1);
}

TEST(BasicDisplayComponent, GetComponentIgnoresCaseOfTheVersionOnly) {
    CSampleDeviceDriver display(basic::BasicDriverSettings {});
    void* expected = static_cast<IQorDisplayComponent*>(&display);
    EXPECT_NE(expected, static_cast<void*>(static_cast<IQorDeviceServerDriver*>(&display)));
    EXPECT_EQ(display.GetComponent("IQorDisplayComponent_001"), expected);
    EXPECT_EQ(display.GetComponent("iqordisplaycomponent_001"), expected);
    EXPECT_EQ(display.GetComponent("IQORDISPLAYCOMPONENT_001"), expected);
    EXPECT_EQ(display.GetComponent("IQorDisplayComponent_002"), nullptr);
    EXPECT_EQ(display.GetComponent("IQorDisplayComponent_00"), nullptr);
    EXPECT_EQ(display.GetComponent("IQorDisplayComponent_0011"), nullptr);
    EXPECT_EQ(display.GetComponent("IDeviceServerDriver_001"), nullptr);
    EXPECT_EQ(display.GetComponent(""), nullptr);
    EXPECT_EQ(display.GetComponent(nullptr), nullptr);
}

TEST(BasicDisplayComponent, EyeFovAndRecordedStates) {
    CSampleDeviceDriver display(basic::BasicDriverSettings {});
    float left = 5, right = 5, up = 5, down = 5;
    display.GetEyeFov(2, &left, &right, &up, &down);
    EXPECT_EQ(left, 5.0f);
    EXPECT_EQ(down, 5.0f);
    display.GetEyeFov(1, &left, &right, &up, &down);
    EXPECT_EQ(left, -right);
    EXPECT_EQ(up, right);
    EXPECT_EQ(down, -up);
    EXPECT_GT(std::fabs(right), 1e6f);  // the tangent of a hair past a right angle

    EXPECT_EQ(display.DeviceIndex(), 0xFFFFFFFFu);
    display.Activate(77, 0);
    EXPECT_EQ(display.DeviceIndex(), 77u);
    EXPECT_FALSE(display.WindowShown());
    display.SetDisplayState(999);
    EXPECT_EQ(display.DisplayState(), 999);
    EXPECT_TRUE(display.WindowShown());
    display.SetDisplayState(0);
    EXPECT_FALSE(display.WindowShown());
    display.SetDisplayState(1);
    display.Deactivate();
    EXPECT_FALSE(display.WindowShown());
    EXPECT_EQ(display.DeviceIndex(), 0xFFFFFFFFu);

    display.PresentFrame(0x40000042u);
    EXPECT_EQ(display.LastFrameHandle(), 0x40000042u);
}

}  // namespace
}  // namespace qor
