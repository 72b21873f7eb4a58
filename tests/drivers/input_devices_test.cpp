// The hand controllers' and the gamepad's component bindings in Activate.
#include "drivers/basic/input_devices.h"
#include "tests/drivers/fake_host.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qor {
namespace {

using test::FakeHost;
using test::PathHash;

basic::HostInterfaces ConnectedTo(FakeHost& host) {
    basic::HostInterfaces interfaces;
    interfaces.context = host.Context();
    interfaces.input = &host;
    return interfaces;
}

TEST(BasicDriverControllers, ActivateBindsBothHandsInOrderWithTheIndexAsContainer) {
    FakeHost host;
    basic::HostInterfaces interfaces = ConnectedTo(host);
    CSampleControllerDriver controllers(interfaces);
    ASSERT_EQ(controllers.Activate(0x1234abcd, 0), 0);
    EXPECT_EQ(controllers.DeviceIndex(), 0x1234abcdu);

    const std::vector<std::pair<std::string, int32_t>> expected = {
        {"/user/hand/left/input/select/click", 0},  {"/user/hand/left/input/menu/click", 0},
        {"/user/hand/left/input/grip/pose", 3},     {"/user/hand/left/input/aim/pose", 3},
        {"/user/hand/left/output/haptic", 4},       {"/user/hand/right/input/select/click", 0},
        {"/user/hand/right/input/menu/click", 0},   {"/user/hand/right/input/grip/pose", 3},
        {"/user/hand/right/input/aim/pose", 3},     {"/user/hand/right/output/haptic", 4},
    };
    ASSERT_EQ(host.binds.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(host.binds[i].path, expected[i].first);
        EXPECT_EQ(host.binds[i].kindHint, expected[i].second) << expected[i].first;
        EXPECT_EQ(host.binds[i].container, 0x1234abcdu);
        EXPECT_EQ(controllers.Handle(static_cast<CSampleControllerDriver::Component>(i)), PathHash(expected[i].first));
    }
}

TEST(BasicDriverControllers, ActivateStopsAtTheFirstRefusedBinding) {
    FakeHost host;
    host.bindResults[3] = 207;
    basic::HostInterfaces interfaces = ConnectedTo(host);
    CSampleControllerDriver controllers(interfaces);
    EXPECT_EQ(controllers.Activate(7, 0), 207);
    EXPECT_EQ(host.binds.size(), 4u);
}

TEST(BasicDriverControllers, ActivateFetchesTheInputDeviceWhenTheProviderHasNone) {
    FakeHost host;
    basic::HostInterfaces interfaces;
    interfaces.context = host.Context();
    CSampleControllerDriver controllers(interfaces);
    EXPECT_EQ(controllers.Activate(1, 0), 0);
    EXPECT_EQ(host.lookups, std::vector<std::string> {"IQorInputDevice_000"});
    EXPECT_EQ(host.binds.size(), 10u);

    FakeHost refusing;
    refusing.refusedInterfaces.insert("IQorInputDevice_000");
    basic::HostInterfaces without;
    without.context = refusing.Context();
    CSampleControllerDriver unbound(without);
    EXPECT_EQ(unbound.Activate(1, 0), 100);
    EXPECT_TRUE(refusing.binds.empty());
}

TEST(BasicDriverGamePad, ActivateBindsTheTwentyFourGamepadComponentsInOrder) {
    FakeHost host;
    basic::HostInterfaces interfaces = ConnectedTo(host);
    CSampleGamePadDriver gamepad(interfaces, nullptr);
    ASSERT_EQ(gamepad.Activate(42, 0), 0);
    EXPECT_EQ(gamepad.DeviceIndex(), 42u);

    const std::vector<std::string> expected = {
        "menu/click", "view/click", "a/click", "b/click", "x/click", "y/click", "dpad_down/click",
        "dpad_right/click", "dpad_up/click", "dpad_left/click", "shoulder_left/click", "shoulder_right/click",
        "thumbstick_left/click", "thumbstick_right/click", "trigger_left/value", "trigger_right/value",
        "thumbstick_left/x", "thumbstick_left/y", "thumbstick_right/x", "thumbstick_right/y",
    };
    const std::vector<std::string> outputs = {"haptic_left", "haptic_right", "haptic_left_trigger",
                                              "haptic_right_trigger"};
    ASSERT_EQ(host.binds.size(), 24u);
    for (size_t i = 0; i < 24; ++i) {
        const std::string path =
            i < 20 ? "/user/gamepad/input/" + expected[i] : "/user/gamepad/output/" + outputs[i - 20];
        EXPECT_EQ(host.binds[i].path, path);
        EXPECT_EQ(host.binds[i].container, 42u);
        EXPECT_EQ(gamepad.Handle(i), PathHash(path));
    }
    EXPECT_EQ(host.binds[0].kindHint, 0);
    EXPECT_EQ(host.binds[23].kindHint, 4);
}

}  // namespace
}  // namespace qor
