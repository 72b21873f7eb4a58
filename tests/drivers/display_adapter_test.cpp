// The adapter the basic driver's window device goes on.
#include "drivers/basic/display_adapter.h"

#include "platform/registry.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

namespace qor::basic {
namespace {

constexpr uint32_t kOther = 0x1414;

TEST(BasicDisplayAdapter, AutomaticChoicePrefersNvidiaThenAmdIntelMicrosoftOther) {
    EXPECT_EQ(ChooseDisplayAdapter({kVendorIntel, kVendorNvidia}, 0), 1u);
    EXPECT_EQ(ChooseDisplayAdapter({kVendorIntel, kVendorAmd, kVendorMicrosoft}, 0), 1u);
    EXPECT_EQ(ChooseDisplayAdapter({kOther, kVendorMicrosoft, kVendorIntel}, 0), 2u);
    EXPECT_EQ(ChooseDisplayAdapter({kOther, kVendorMicrosoft}, 0), 1u);
    EXPECT_EQ(ChooseDisplayAdapter({kOther}, 0), 0u);
    EXPECT_EQ(ChooseDisplayAdapter({}, 0), std::nullopt);
    EXPECT_EQ(ChooseDisplayAdapter({}, 2), std::nullopt);
}

TEST(BasicDisplayAdapter, GpuStatusPicksItsVendorWhenPresent) {
    const std::vector<uint32_t> all {kVendorMicrosoft, kVendorAmd, kVendorIntel, kVendorNvidia};
    EXPECT_EQ(ChooseDisplayAdapter(all, 1), 2u);
    EXPECT_EQ(ChooseDisplayAdapter(all, 2), 3u);
    EXPECT_EQ(ChooseDisplayAdapter(all, 3), 0u);
    EXPECT_EQ(ChooseDisplayAdapter(all, 4), 1u);
    // Other values, and vendors that are absent, fall back to the automatic order.
    EXPECT_EQ(ChooseDisplayAdapter(all, 5), 3u);
    EXPECT_EQ(ChooseDisplayAdapter(all, 0xFFFFFFFF), 3u);
    EXPECT_EQ(ChooseDisplayAdapter({kVendorIntel, kVendorAmd}, 2), 1u);
    EXPECT_EQ(ChooseDisplayAdapter({kVendorNvidia, kVendorAmd}, 1), 0u);
}

TEST(BasicDisplayAdapter, LastOfEachVendorCountsAndNothingAfterTheFirstNvidia) {
    EXPECT_EQ(ChooseDisplayAdapter({kVendorIntel, kVendorAmd, kVendorIntel}, 1), 2u);
    EXPECT_EQ(ChooseDisplayAdapter({kVendorAmd, kVendorNvidia, kVendorNvidia}, 0), 1u);
    // The Intel adapter behind the first NVIDIA one is never seen.
    EXPECT_EQ(ChooseDisplayAdapter({kVendorAmd, kVendorNvidia, kVendorIntel}, 1), 1u);
    EXPECT_EQ(ChooseDisplayAdapter({kVendorNvidia, kVendorIntel, kVendorAmd}, 4), 0u);
}

TEST(BasicDisplayAdapter, GpuStatusIsReadFromTheMachineKeyAndIsZeroWhenMissing) {
    test::TempEnvironment env;
    const char* const key = "SOFTWARE\\Norvik\\Norvik Stereoscopic Vision";
    platform::RegistryDeleteValue(platform::RegistryRoot::LocalMachine, key, "GPUStatus");
    EXPECT_EQ(ReadGpuStatus(), 0u);
    ASSERT_TRUE(platform::RegistryWriteDword(platform::RegistryRoot::LocalMachine, key, "GPUStatus", 2));
    EXPECT_EQ(ReadGpuStatus(), 2u);
    // Only a DWORD counts.
    ASSERT_TRUE(platform::RegistryWriteString(platform::RegistryRoot::LocalMachine, key, "GPUStatus", "2"));
    EXPECT_EQ(ReadGpuStatus(), 0u);
    platform::RegistryDeleteValue(platform::RegistryRoot::LocalMachine, key, "GPUStatus");
}

}  // namespace
}  // namespace qor::basic
