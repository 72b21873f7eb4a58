// The ExtensionIndex table: create-instance requests carry enabled extensions as indices
// into this fixed list instead of their names.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace qor::protocol {

// All names in index order (index 0 is "XR_KHR_android_create_instance").
std::span<const std::string_view> ExtensionIndexTable();
// Exact, case-sensitive lookup; nothing for a name outside the table.
std::optional<uint32_t> ExtensionIndexOf(std::string_view name);
// The name of an index, or an empty view when the index is outside the table.
std::string_view ExtensionNameOf(uint32_t index);

}  // namespace qor::protocol
