// The basic driver's export and provider against a fake service host.
#include "drivers/basic/driver_factory.h"
#include "drivers/basic/server_driver.h"
#include "tests/drivers/fake_host.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace qor {
namespace {

using test::FakeHost;

const char* const kSettingsRelative = "local/Norvik/OpenXR/config/devices/basic_driver/driver_settings.json";

TEST(BasicDriverFactory, ExactNameGivesTheOneProviderAndPrintsBothLines) {
    int32_t code = -1;
    testing::internal::CaptureStdout();
    void* first = basic::DriverFactory("IServerDeviceProvider_000", &code);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(code, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, static_cast<void*>(&basic::Provider()));
    EXPECT_EQ(printed, "Called DeviceDriverFactory\nFound Provider : IServerDeviceProvider_000\n");

    code = -1;
    EXPECT_EQ(basic::DriverFactory("IServerDeviceProvider_000", &code), first);
    EXPECT_EQ(code, 0);
}

TEST(BasicDriverFactory, OtherNamesGiveNullAndCode100) {
    for (const char* name : {"IServerDeviceProvider_001", "iserverdeviceprovider_000", "IServerDeviceProvider_000 ",
                             "", "IQorDisplayComponent_001"}) {
        int32_t code = -1;
        testing::internal::CaptureStdout();
        EXPECT_EQ(basic::DriverFactory(name, &code), nullptr) << name;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Called DeviceDriverFactory\n") << name;
        EXPECT_EQ(code, 100) << name;
    }
    int32_t code = -1;
    EXPECT_EQ(basic::DriverFactory(nullptr, &code), nullptr);
    EXPECT_EQ(code, 100);
}

TEST(BasicDriverFactory, NullCodePointerIsNotWritten) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(basic::DriverFactory("IServerDeviceProvider_002", nullptr), nullptr);
    EXPECT_NE(basic::DriverFactory("IServerDeviceProvider_000", nullptr), nullptr);
    testing::internal::GetCapturedStdout();
}

TEST(BasicDriverProvider, InitializeRegistersDisplayControllersAndGamepadInOrder) {
    test::TempEnvironment env;
    FakeHost host;
    CServerDriver_Sample provider;
    ASSERT_EQ(provider.Initialize(host.Context()), 0);

    EXPECT_EQ(host.lookups, (std::vector<std::string> {"IQorServerDriverHost_001", "IQorDriverManager_000",
                                                        "IQorInputDevice_000"}));
    ASSERT_EQ(host.devices.size(), 3u);
    const struct {
        const char* serial;
        const char* name;
        DeviceClass deviceClass;
        IQorDeviceServerDriver* driver;
    } expected[] = {
        {"801000", "norvik_default_display", 1, provider.DisplayDevice()},
        {"801001", "nolo_controller", 2, provider.ControllerDevice()},
        {"801002", "GamePad", 3, provider.GamePadDevice()},
    };
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(expected[i].serial);
        EXPECT_EQ(host.devices[i].serial, expected[i].serial);
        EXPECT_EQ(host.devices[i].systemName, expected[i].name);
        EXPECT_EQ(host.devices[i].vendorId, 0x502u);
        EXPECT_EQ(host.devices[i].deviceClass, expected[i].deviceClass);
        EXPECT_NE(host.devices[i].driver, nullptr);
        EXPECT_EQ(host.devices[i].driver, expected[i].driver);
    }
    // The display answered with its component, a different pointer from the device.
    EXPECT_EQ(host.devices[0].display, static_cast<IQorDisplayComponent*>(provider.DisplayDevice()));
    EXPECT_NE(static_cast<void*>(host.devices[0].display), static_cast<void*>(host.devices[0].driver));
    // Every device was activated with its index; the input devices bound 10 + 24 components.
    EXPECT_EQ(provider.DisplayDevice()->DeviceIndex(), host.devices[0].deviceIndex);
    EXPECT_EQ(provider.ControllerDevice()->DeviceIndex(), host.devices[1].deviceIndex);
    EXPECT_EQ(provider.GamePadDevice()->DeviceIndex(), host.devices[2].deviceIndex);
    EXPECT_EQ(host.binds.size(), 34u);
    // The display device read (and, being the first start, wrote) its settings file.
    EXPECT_TRUE(std::filesystem::exists(env.Path(kSettingsRelative)));
    EXPECT_EQ(provider.DisplayDevice()->Settings().windowWidth, 1280u);
}

class BasicDriverRefusedInterface : public testing::TestWithParam<const char*> {};

TEST_P(BasicDriverRefusedInterface, InitializeReturns100AndCreatesNothing) {
    test::TempEnvironment env;
    FakeHost host;
    host.refusedInterfaces.insert(GetParam());
    CServerDriver_Sample provider;
    EXPECT_EQ(provider.Initialize(host.Context()), 100);
    EXPECT_TRUE(host.devices.empty());
    EXPECT_TRUE(host.binds.empty());
    EXPECT_EQ(provider.DisplayDevice(), nullptr);
    EXPECT_EQ(provider.ControllerDevice(), nullptr);
    EXPECT_EQ(provider.GamePadDevice(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(env.Path(kSettingsRelative)));
    provider.PollFrame();
    EXPECT_TRUE(host.updates.empty());
}

INSTANTIATE_TEST_SUITE_P(EachHostInterface, BasicDriverRefusedInterface,
                         testing::Values("IQorServerDriverHost_001", "IQorDriverManager_000", "IQorInputDevice_000"));

TEST(BasicDriverProvider, PollFrameReportsPlaceholderLeftHandOnly) {
    test::TempEnvironment env;
    FakeHost host;
    CServerDriver_Sample provider;
    ASSERT_EQ(provider.Initialize(host.Context()), 0);
    host.updates.clear();

    provider.PollFrame();
    ASSERT_EQ(host.updates.size(), 4u);
    using test::PathHash;
    using test::UpdateKind;
    EXPECT_EQ(host.updates[0].kind, UpdateKind::Boolean);
    EXPECT_EQ(host.updates[0].handle, PathHash("/user/hand/left/input/select/click"));
    EXPECT_EQ(host.updates[0].boolean, XR_FALSE);
    EXPECT_EQ(host.updates[1].kind, UpdateKind::Boolean);
    EXPECT_EQ(host.updates[1].handle, PathHash("/user/hand/left/input/menu/click"));
    EXPECT_EQ(host.updates[1].boolean, XR_FALSE);
    // Identity poses: a zero quaternion would be no valid orientation.
    XrPosef identity {};
    identity.orientation.w = 1.0f;
    for (size_t i : {2u, 3u}) {
        EXPECT_EQ(host.updates[i].kind, UpdateKind::Pose);
        EXPECT_EQ(std::memcmp(&host.updates[i].pose, &identity, sizeof identity), 0);
    }
    EXPECT_EQ(host.updates[2].handle, PathHash("/user/hand/left/input/grip/pose"));
    EXPECT_EQ(host.updates[3].handle, PathHash("/user/hand/left/input/aim/pose"));
}

TEST(BasicDriverProvider, ShutdownStopsPollingButKeepsRegisteredDevicesUsable) {
    test::TempEnvironment env;
    FakeHost host;
    CServerDriver_Sample provider;
    ASSERT_EQ(provider.Initialize(host.Context()), 0);
    IQorDisplayComponent* display = host.devices[0].display;

    provider.Shutdown();
    EXPECT_EQ(provider.DisplayDevice(), nullptr);
    host.updates.clear();
    provider.PollFrame();
    EXPECT_TRUE(host.updates.empty());
    // The service may still hold the component; it must stay callable.
    uint32_t count = 0;
    EXPECT_EQ(display->LocateViews(0, &count, nullptr), 0);
    EXPECT_EQ(count, 2u);
}

}  // namespace
}  // namespace qor
