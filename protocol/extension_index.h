// The ExtensionIndex table: create-instance requests carry enabled extensions as indices
// into this fixed list instead of their names.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace qor::protocol {

// The indices the service decides on one by one.
namespace extension {
constexpr uint32_t kKhrAndroidCreateInstance = 0;
constexpr uint32_t kKhrAndroidSurfaceSwapchain = 1;
constexpr uint32_t kKhrAndroidThreadSettings = 2;
constexpr uint32_t kKhrD3D11Enable = 8;
constexpr uint32_t kKhrD3D12Enable = 9;
constexpr uint32_t kKhrOpenGlEsEnable = 11;
constexpr uint32_t kExtWin32AppContainerCompatible = 23;
constexpr uint32_t kOculusAndroidSessionStateEnable = 34;
constexpr uint32_t kVarjoQuadViews = 35;
}  // namespace extension

// All names in index order (index 0 is "XR_KHR_android_create_instance").
std::span<const std::string_view> ExtensionIndexTable();
// Exact, case-sensitive lookup; nothing for a name outside the table.
std::optional<uint32_t> ExtensionIndexOf(std::string_view name);
// The name of an index, or an empty view when the index is outside the table.
std::string_view ExtensionNameOf(uint32_t index);

}  // namespace qor::protocol
