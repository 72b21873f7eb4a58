#include "protocol/extension_index.h"
#include "protocol/op_codes.h"

#include <gtest/gtest.h>

#include <set>

namespace qor::protocol {
namespace {

TEST(OpCodesTest, EveryCodeSitsInItsGroupAndIsFoundByValue) {
    const auto all = AllOperations();
    EXPECT_EQ(all.size(), 57u);
    for (const auto& info : all) {
        const auto code = static_cast<uint32_t>(info.op);
        EXPECT_EQ(FindOperation(code), &info);
        EXPECT_LE(code % 10000, 36u) << info.function;
        EXPECT_FALSE(IsReservedExtensionCode(code)) << info.function;
    }
    EXPECT_EQ(FindOperation(12345), nullptr);
    EXPECT_EQ(FindOperation(100005), nullptr);
}

TEST(OpCodesTest, ReservedExtensionCodesAreTheRestOfTheRange) {
    int reserved = 0;
    for (uint32_t code = 99990; code < 100050; ++code) reserved += IsReservedExtensionCode(code) ? 1 : 0;
    EXPECT_EQ(reserved, 35);
    EXPECT_TRUE(IsReservedExtensionCode(100000));
    EXPECT_TRUE(IsReservedExtensionCode(100036));
    EXPECT_FALSE(IsReservedExtensionCode(100037));
    EXPECT_FALSE(IsReservedExtensionCode(100003));
    EXPECT_FALSE(IsReservedExtensionCode(100004));
}

TEST(ExtensionIndexTest, NamesMapToTheirFixedIndices) {
    const auto table = ExtensionIndexTable();
    ASSERT_EQ(table.size(), 38u);
    EXPECT_EQ(ExtensionIndexOf("XR_KHR_android_create_instance"), 0u);
    EXPECT_EQ(ExtensionIndexOf("XR_KHR_D3D11_enable"), 8u);
    EXPECT_EQ(ExtensionIndexOf("XR_KHR_D3D12_enable"), 9u);
    EXPECT_EQ(ExtensionIndexOf("XR_EXT_debug_utils"), 17u);
    EXPECT_EQ(ExtensionIndexOf("XR_EXT_win32_appcontainer_compatible"), 23u);
    EXPECT_EQ(ExtensionIndexOf("XR_MNDX_egl_enable"), 37u);
    std::set<std::string_view> unique(table.begin(), table.end());
    EXPECT_EQ(unique.size(), table.size());
    for (uint32_t i = 0; i < table.size(); ++i) EXPECT_EQ(ExtensionIndexOf(ExtensionNameOf(i)), i);
}

TEST(ExtensionIndexTest, LookupIsExactAndCaseSensitive) {
    EXPECT_FALSE(ExtensionIndexOf("xr_khr_d3d11_enable"));
    EXPECT_FALSE(ExtensionIndexOf("XR_KHR_D3D11_enable "));
    EXPECT_FALSE(ExtensionIndexOf("XR_KHR_D3D11"));
    EXPECT_FALSE(ExtensionIndexOf(""));
    EXPECT_EQ(ExtensionNameOf(38), "");
}

}  // namespace
}  // namespace qor::protocol
