#include "service/core/service_clock.h"
#include "service/driverhost/input_device.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qor {
namespace {

class InputDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto add = [&](const char* user, const char* path, ComponentKind kind) {
            const bool output = std::strncmp(path, "/output/", 8) == 0;
            return device.AddComponent(user, path, output ? ComponentDirection::Output : ComponentDirection::Input,
                                       kind);
        };
        click = add("/user/hand/left", "/input/select/click", ComponentKind::Boolean);
        trigger = add("/user/hand/left", "/input/trigger/value", ComponentKind::Float);
        stick = add("/user/gamepad", "/input/thumbstick_left", ComponentKind::Vector2);
        grip = add("/user/hand/left", "/input/grip/pose", ComponentKind::Pose);
        haptic = add("/user/hand/left", "/output/haptic", ComponentKind::Haptic);
    }
    const InputComponent& At(uint64_t handle) { return *device.FindComponent(handle); }

    ServiceClock clock;
    ImplQorInputDevice device {clock};
    IQorInputDevice& driverSide = device;
    uint64_t click = 0, trigger = 0, stick = 0, grip = 0, haptic = 0;
};

TEST(PathHashTest, IsFnv1a64) {
    EXPECT_EQ(PathHash(""), 0xcbf29ce484222325ULL);
    EXPECT_EQ(PathHash("a"), 0xaf63dc4c8601ec8cULL);
    EXPECT_EQ(PathHash("foobar"), 0x85944171f73967e8ULL);
}

TEST_F(InputDeviceTest, ComponentsAreKeyedByTheirFullPathHashAndNeverReplaced) {
    EXPECT_EQ(click, PathHash("/user/hand/left/input/select/click"));
    EXPECT_EQ(At(grip).userPathValue, PathHash("/user/hand/left"));
    EXPECT_EQ(At(grip).fullPath, "/user/hand/left/input/grip/pose");
    EXPECT_EQ(std::memcmp(&At(grip).livePose, &kIdentityPose, sizeof(XrPosef)), 0);
    EXPECT_EQ(device.AddComponent("/user/hand/left", "/input/select/click", ComponentDirection::Input,
                                  ComponentKind::Float),
              0u);
    EXPECT_EQ(At(click).kind, ComponentKind::Boolean);
    EXPECT_EQ(device.ComponentCount(), 5u);
}

TEST_F(InputDeviceTest, BindComponentMarksKnownPathsAndIgnoresOthers) {
    uint64_t handle = 1234;
    EXPECT_EQ(driverSide.BindComponent(7, "/user/hand/left/input/trigger/value", &handle, 3), kDriverOk);
    EXPECT_EQ(handle, trigger);
    EXPECT_EQ(At(trigger).driverBound, 1);
    EXPECT_EQ(At(click).driverBound, 0);

    handle = 1234;
    EXPECT_EQ(driverSide.BindComponent(7, "/user/hand/right/input/trigger/value", &handle, 0), kDriverOk);
    EXPECT_EQ(handle, 1234u);
    ImplQorInputDevice empty {clock};
    EXPECT_EQ(empty.BindComponent(0, "/user/hand/left/input/trigger/value", &handle, 0), kDriverOk);
    EXPECT_EQ(handle, 1234u);
}

TEST_F(InputDeviceTest, UnknownHandlesGive207AndOtherKindsGive208WithoutChange) {
    const XrPosef pose {{0, 0, 0, 1}, {1, 2, 3}};
    const uint64_t unknown = PathHash("/user/head/input/nothing");
    EXPECT_EQ(driverSide.UpdateBooleanComponent(unknown, XR_TRUE), kDriverUnknownComponent);
    EXPECT_EQ(driverSide.UpdateScalarComponent(unknown, 1.0f), kDriverUnknownComponent);
    EXPECT_EQ(driverSide.UpdateVector2Component(unknown, {1.0f, 1.0f}), kDriverUnknownComponent);
    EXPECT_EQ(driverSide.UpdatePoseComponent(unknown, &pose), kDriverUnknownComponent);

    EXPECT_EQ(driverSide.UpdateScalarComponent(click, 0.5f), kDriverWrongComponentKind);
    EXPECT_EQ(driverSide.UpdateBooleanComponent(trigger, XR_TRUE), kDriverWrongComponentKind);
    EXPECT_EQ(driverSide.UpdatePoseComponent(stick, &pose), kDriverWrongComponentKind);
    EXPECT_EQ(driverSide.UpdateVector2Component(grip, {1, 1}), kDriverWrongComponentKind);
    EXPECT_EQ(driverSide.UpdateScalarComponent(haptic, 1.0f), kDriverWrongComponentKind);
    for (uint64_t handle : {click, trigger, stick, grip, haptic}) {
        EXPECT_EQ(At(handle).liveBoolean, XR_FALSE);
        EXPECT_EQ(At(handle).liveFloat, 0.0f);
        EXPECT_EQ(At(handle).updateTime, 0);
    }
}

TEST_F(InputDeviceTest, UpdatesStoreTheValueAndTheServiceTimeWithoutBinding) {
    const XrPosef pose {{0.0f, 0.7071f, 0.0f, 0.7071f}, {0.1f, 1.6f, -0.3f}};
    const int64_t before = clock.NowMicroseconds();
    EXPECT_EQ(driverSide.UpdateBooleanComponent(click, XR_TRUE), kDriverOk);
    EXPECT_EQ(driverSide.UpdateScalarComponent(trigger, 0.25f), kDriverOk);
    EXPECT_EQ(driverSide.UpdateVector2Component(stick, {-0.5f, 0.75f}), kDriverOk);
    EXPECT_EQ(driverSide.UpdatePoseComponent(grip, &pose), kDriverOk);
    const int64_t after = clock.NowMicroseconds();

    EXPECT_EQ(At(click).liveBoolean, XR_TRUE);
    EXPECT_EQ(At(trigger).liveFloat, 0.25f);
    EXPECT_EQ(At(stick).liveVector.y, 0.75f);
    EXPECT_EQ(std::memcmp(&At(grip).livePose, &pose, sizeof pose), 0);
    for (uint64_t handle : {click, trigger, stick, grip}) {
        EXPECT_GE(At(handle).updateTime, before);
        EXPECT_LE(At(handle).updateTime, after);
        EXPECT_EQ(At(handle).driverBound, 0);
    }
    EXPECT_EQ(driverSide.UpdatePoseComponent(grip, nullptr), kDriverOk);
    EXPECT_EQ(std::memcmp(&At(grip).livePose, &pose, sizeof pose), 0);
}

}  // namespace
}  // namespace qor
