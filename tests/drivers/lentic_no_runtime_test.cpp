// The lenticular driver in a process whose library search path holds no lens runtime.
#include "tests/drivers/fake_host.h"
#include "tests/drivers/lentic_driver_test.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace qor {
namespace {

TEST(LenticDriverWithoutLensRuntime, InitializeGives101AndTouchesNothing) {
    test::TempEnvironment env;
    IServerDeviceProvider* provider = test::LenticProvider();
    ASSERT_NE(provider, nullptr);
    test::FakeHost host;
    EXPECT_EQ(provider->Initialize(host.Context()), 101);
    EXPECT_TRUE(host.lookups.empty());
    EXPECT_TRUE(host.devices.empty());
    EXPECT_FALSE(std::filesystem::exists(env.Path("local/Norvik")));
}

}  // namespace
}  // namespace qor
