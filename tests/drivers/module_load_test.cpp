// The staged driver module as the service loads it: by path, through its one export.
#include "driver_api/driver_interfaces.h"
#include "tests/drivers/fake_host.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <dlfcn.h>

#include <filesystem>

namespace qor {
namespace {

const char* const kModulePath = NORVIK_STAGE_DIR "/drivers/default/bin/linux64/defaultDriver.so";

class LoadedBasicDriver : public testing::Test {
protected:
    void SetUp() override {
        module_ = ::dlopen(kModulePath, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module_, nullptr) << ::dlerror();
        factory_ = reinterpret_cast<DeviceDriverFactoryFn>(::dlsym(module_, kDeviceDriverFactoryName));
        ASSERT_NE(factory_, nullptr);
    }
    void TearDown() override {
        if (module_ != nullptr) ::dlclose(module_);
    }

    void* module_ = nullptr;
    DeviceDriverFactoryFn factory_ = nullptr;
};

TEST_F(LoadedBasicDriver, ExportsOnlyTheFactory) {
    EXPECT_EQ(::dlsym(module_, "_ZN3qor5basic13DriverFactoryEPKcPi"), nullptr);
    EXPECT_EQ(::dlsym(module_, "_ZN3qor5basic8ProviderEv"), nullptr);
    int32_t code = -1;
    EXPECT_EQ(factory_("IServerDeviceProvider_999", &code), nullptr);
    EXPECT_EQ(code, 100);
}

TEST_F(LoadedBasicDriver, ProviderInitializesAgainstTheHost) {
    test::TempEnvironment env;
    int32_t code = -1;
    auto* provider = static_cast<IServerDeviceProvider*>(factory_("IServerDeviceProvider_000", &code));
    ASSERT_EQ(code, 0);
    ASSERT_NE(provider, nullptr);
    EXPECT_EQ(factory_("IServerDeviceProvider_000", &code), provider);

    test::FakeHost host;
    ASSERT_EQ(provider->Initialize(host.Context()), 0);
    ASSERT_EQ(host.devices.size(), 3u);
    EXPECT_EQ(host.devices[0].serial, "801000");
    ASSERT_NE(host.devices[0].display, nullptr);
    uint32_t count = 0;
    XrView views[2] = {{XR_TYPE_VIEW}, {XR_TYPE_VIEW}};
    EXPECT_EQ(host.devices[0].display->LocateViews(2, &count, views), 0);
    EXPECT_NEAR(views[1].pose.position.x, 0.032f, 1e-6f);
    EXPECT_EQ(host.binds.size(), 34u);
    EXPECT_TRUE(
        std::filesystem::exists(env.Path("local/Norvik/OpenXR/config/devices/basic_driver/driver_settings.json")));
    provider->Shutdown();
}

}  // namespace
}  // namespace qor
#endif
