#include "service/core/handle_counter.h"
#include "service/driverhost/driver_context.h"
#include "service/driverhost/driver_registry.h"
#include "tests/driverhost/fake_display.h"
#include "tests/support/host_services.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <list>
#include <set>

namespace qor {
namespace {

using test::FakeDisplay;

uint32_t Le32(const platform::Md5Digest& d, size_t at) {
    return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | uint32_t(d[at + 3]) << 24;
}

class HostManagerTest : public ::testing::Test {
protected:
    void SetUp() override { registry.SetLogSink([](bool, const std::string&) {}); }
    QorHostDriverManager& Manager() { return registry.Context().Manager(); }
    IQorServerDriverHost& Host() { return Manager(); }
    // Devices outlive the registry, which switches displays off when it goes.
    FakeDisplay& NewDevice() { return devices.emplace_back(); }
    const SystemEntry& OnlySystem() {
        EXPECT_EQ(registry.Systems().size(), 1u);
        return *registry.Systems().begin()->second;
    }

    test::TempEnvironment env;
    std::list<FakeDisplay> devices;
    test::TestHostServices host;
    DriverRegistry registry {host.Services()};
};

TEST(DeviceIndexTest, TakesCandidateAThenBThenCountsUpFromB) {
    platform::Md5Digest digest {};
    for (size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<uint8_t>(0x10 + i);
    const uint32_t a = 0x13121110, b = 0x1b1a1918;
    std::set<uint32_t> taken;
    const auto isTaken = [&](uint32_t index) { return taken.count(index) != 0; };
    EXPECT_EQ(ChooseDeviceIndex(digest, isTaken), a);
    taken = {a};
    EXPECT_EQ(ChooseDeviceIndex(digest, isTaken), b);
    taken = {a, b, b + 1, b + 2};
    EXPECT_EQ(ChooseDeviceIndex(digest, isTaken), b + 3);
    taken = {b};
    EXPECT_EQ(ChooseDeviceIndex(digest, isTaken), a);
    for (size_t i = 8; i < 12; ++i) digest[i] = 0xFF;  // counting up from B wraps in 32 bits
    taken = {a, 0xFFFFFFFFu};
    EXPECT_EQ(ChooseDeviceIndex(digest, isTaken), 0u);
}

TEST(DeviceIndexTest, SerialDigestCoversAtMost512Bytes) {
    EXPECT_EQ(Le32(SerialDigest("abc"), 0), 0x98500190u);    // MD5 "abc" = 90 01 50 98 ...
    EXPECT_EQ(Le32(SerialDigest(nullptr), 0), 0xd98c1dd4u);  // MD5 of nothing = d4 1d 8c d9 ...
    std::string longA(600, 'x'), longB(600, 'x');
    longB[550] = 'y';
    EXPECT_EQ(SerialDigest(longA.c_str()), SerialDigest(longB.c_str()));
    longB[500] = 'y';
    EXPECT_NE(SerialDigest(longA.c_str()), SerialDigest(longB.c_str()));
}

TEST_F(HostManagerTest, IdenticalSerialsGetCandidateAThenBThenTheNextFreeValue) {
    std::vector<FakeDisplay*> pads;
    for (int i = 0; i < 3; ++i) {
        pads.push_back(&NewDevice());
        ASSERT_TRUE(Host().AddDevice("SER-1", 0, "pad", kDeviceGamepad, pads.back()));
    }
    const platform::Md5Digest digest = SerialDigest("SER-1");
    EXPECT_EQ(pads[0]->activations, std::vector<uint32_t> {Le32(digest, 0)});
    EXPECT_EQ(pads[1]->activations, std::vector<uint32_t> {Le32(digest, 8)});
    EXPECT_EQ(pads[2]->activations, std::vector<uint32_t> {Le32(digest, 8) + 1});
    EXPECT_EQ(Manager().GetDeviceCount(), 3u);
    const DeviceRecord* record = Manager().FindDevice(Le32(digest, 8));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->driver, pads[1]);
    EXPECT_EQ(record->serialDigestHigh & 0xFFFFFFFFu, Le32(digest, 8));
    EXPECT_EQ(pads[0]->componentRequests, 0);  // controllers and gamepads get no system
    EXPECT_TRUE(registry.Systems().empty());
}

TEST_F(HostManagerTest, RefusesUnknownClassesAndDisplaysWithoutComponent) {
    FakeDisplay& device = NewDevice();
    FakeDisplay& noComponent = NewDevice();
    noComponent.hasComponent = false;
    EXPECT_FALSE(Host().AddDevice("s", 0, "n", 5, &device));
    EXPECT_FALSE(Host().AddDevice("s", 0, "n", 0, &device));
    EXPECT_FALSE(Host().AddDevice("s", 0, "n", kDeviceStereoDisplay, &noComponent));
    EXPECT_FALSE(Host().AddDevice("s", 0, "n", kDeviceStereoDisplay, nullptr));
    EXPECT_EQ(Manager().GetDeviceCount(), 0u);
    EXPECT_TRUE(device.activations.empty() && noComponent.activations.empty());
    EXPECT_TRUE(registry.Systems().empty());
}

TEST_F(HostManagerTest, StereoDisplayWithoutSizeTakesTheSettingsSize) {
    FakeDisplay& display = NewDevice();
    ASSERT_TRUE(Host().AddDevice("disp", 77, "My Display", kDeviceStereoDisplay, &display));
    const SystemEntry& system = OnlySystem();
    EXPECT_EQ(registry.FindSystem(system.systemId), &system);
    EXPECT_EQ(system.vendorId, 0x502u);
    EXPECT_EQ(system.systemName, "My Display");
    EXPECT_EQ(system.formFactor, XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY);
    EXPECT_EQ(system.maxSwapchainImageWidth, 1920u);
    EXPECT_EQ(system.maxSwapchainImageHeight, 1080u);
    EXPECT_EQ(system.maxLayerCount, 16u);
    EXPECT_EQ(system.orientationTracking, XR_TRUE);
    EXPECT_EQ(system.positionTracking, XR_FALSE);
    ASSERT_EQ(system.viewConfigurations.size(), 1u);
    EXPECT_EQ(system.viewConfigurations[0].type, XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO);
    ASSERT_EQ(system.viewConfigurations[0].views.size(), 2u);
    for (const auto& view : system.viewConfigurations[0].views) {
        EXPECT_EQ(view.recommendedImageRectWidth, 1920u);
        EXPECT_EQ(view.maxImageRectWidth, 3840u);
        EXPECT_EQ(view.recommendedImageRectHeight, 1080u);
        EXPECT_EQ(view.maxImageRectHeight, 2160u);
        EXPECT_EQ(view.maxSwapchainSampleCount, 1u);
    }
    ASSERT_EQ(display.activations.size(), 1u);
    EXPECT_EQ(system.display, display.Component());
    EXPECT_EQ(system.device->displayKind, 1u);
    EXPECT_EQ(Manager().FindDisplayComponent(display.activations[0]), display.Component());
}

TEST_F(HostManagerTest, MonoDisplayKeepsItsSizeAndDropsOddValues) {
    FakeDisplay& display = NewDevice();
    display.width = 1280;
    display.height = 720;
    display.formFactor = 7;
    ASSERT_TRUE(Host().AddDevice("mono", 0, std::string(256, 'n').c_str(), kDeviceMonoDisplay, &display));
    const SystemEntry& system = OnlySystem();
    EXPECT_EQ(system.formFactor, 0);
    EXPECT_EQ(system.systemName, "");
    EXPECT_EQ(system.device->displayKind, 2u);
    EXPECT_EQ(system.viewConfigurations[0].type, XR_VIEW_CONFIGURATION_TYPE_PRIMARY_MONO);
    ASSERT_EQ(system.viewConfigurations[0].views.size(), 1u);
    EXPECT_EQ(system.viewConfigurations[0].views[0].maxImageRectWidth, 2560u);
    EXPECT_EQ(system.viewConfigurations[0].views[0].recommendedImageRectHeight, 720u);
}

TEST(HostManagerSettingsTest, OneZeroSideMakesBothSidesComeFromTheSettings) {
    std::vector<std::unique_ptr<SystemEntry>> systems;
    test::TestHostServices host;
    ImplQorDriverContext context(
        [&](std::unique_ptr<SystemEntry> system) {
            systems.push_back(std::move(system));
            return true;
        },
        host.Services([] { return ServiceSettings {1600, 900}; }));
    FakeDisplay display;
    display.height = 500;
    const std::string name(255, 'n');
    ASSERT_TRUE(context.Manager().AddDevice("x", 0, name.c_str(), kDeviceStereoDisplay, &display));
    ASSERT_EQ(systems.size(), 1u);
    EXPECT_EQ(systems[0]->systemName, name);
    EXPECT_EQ(systems[0]->viewConfigurations[0].views[0].recommendedImageRectWidth, 1600u);
    EXPECT_EQ(systems[0]->viewConfigurations[0].views[0].recommendedImageRectHeight, 900u);
}

TEST_F(HostManagerTest, SystemIdsAdvanceWithEveryHandleTakenInBetween) {
    ASSERT_TRUE(Host().AddDevice("one", 0, "1", kDeviceStereoDisplay, &NewDevice()));
    for (uint64_t base : {kSessionHandleBase, kSpaceHandleBase, kInstanceHandleBase}) host.handles.New(base);
    ASSERT_TRUE(Host().AddDevice("two", 0, "2", kDeviceStereoDisplay, &NewDevice()));
    ASSERT_EQ(registry.Systems().size(), 2u);
    EXPECT_GE(registry.Systems().begin()->first, kSystemIdBase);
    EXPECT_EQ(registry.Systems().rbegin()->first - registry.Systems().begin()->first, 4u);
}

TEST_F(HostManagerTest, ActivateMayCallBackIntoTheManager) {
    FakeDisplay& display = NewDevice();
    uint32_t countSeen = 99;
    display.onActivate = [&] { countSeen = Manager().GetDeviceCount(); };
    ASSERT_TRUE(Host().AddDevice("re", 0, "r", kDeviceStereoDisplay, &display));
    EXPECT_EQ(countSeen, 0u);  // the device enters the map after its Activate
    EXPECT_EQ(Manager().GetDeviceCount(), 1u);
}

TEST_F(HostManagerTest, AddDeviceBasicRules) {
    FakeDisplay& display = NewDevice();
    FakeDisplay& pad = NewDevice();
    pad.hasComponent = false;
    EXPECT_FALSE(Host().AddDeviceBasic(nullptr, kDeviceStereoDisplay, &display));
    EXPECT_FALSE(Host().AddDeviceBasic("", kDeviceStereoDisplay, &display));
    EXPECT_FALSE(Host().AddDeviceBasic("s", 0, &display));
    EXPECT_FALSE(Host().AddDeviceBasic("s", 5, &display));
    EXPECT_EQ(Manager().GetDeviceCount(), 0u);
    // Without a display component: refused, yet the device stays registered.
    EXPECT_FALSE(Host().AddDeviceBasic("pad", kDeviceGamepad, &pad));
    EXPECT_EQ(Manager().GetDeviceCount(), 1u);

    display.width = 1000;
    display.height = 500;
    display.tracking = {XR_FALSE, XR_FALSE};
    ASSERT_TRUE(Host().AddDeviceBasic("mono", kDeviceMonoDisplay, &display));
    EXPECT_EQ(Manager().GetDeviceCount(), 2u);
    const SystemEntry& system = OnlySystem();
    EXPECT_EQ(system.systemName, "Norvik Sample Display");
    EXPECT_EQ(system.orientationTracking + system.positionTracking, 2u);
    EXPECT_EQ(system.viewConfigurations[0].type, XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO);
    ASSERT_EQ(system.viewConfigurations[0].views.size(), 2u);
    EXPECT_EQ(system.viewConfigurations[0].views[1].recommendedImageRectWidth, 1920u);
    EXPECT_EQ(display.sizeRequests, 0);
    EXPECT_TRUE(display.activations.empty());
}

}  // namespace
}  // namespace qor
