// The instance extensions the runtime advertises.
#pragma once

#include <cstdint>

namespace qor {

struct AdvertisedExtension {
    const char* name;
    uint32_t version;
};
inline constexpr AdvertisedExtension kAdvertisedExtensions[] = {
    {"XR_KHR_D3D11_enable", 4},
    {"XR_KHR_D3D12_enable", 7},
    {"XR_EXT_win32_appcontainer_compatible", 1},
};

}  // namespace qor
