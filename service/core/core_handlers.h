// Handlers of the instance-level operations: extensions, instances, events, systems,
// blend modes, graphics requirements and the two name functions.
#pragma once

#include "service/core/qor_server.h"

namespace qor {

XrResult HandleEnumerateInstanceExtensionProperties(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleCreateInstance(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleDestroyInstance(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleGetInstanceProperties(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleResultToString(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleStructureTypeToString(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandlePollEvent(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleGetSystem(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleGetSystemProperties(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleEnumerateEnvironmentBlendModes(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleGetD3D11GraphicsRequirements(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);
XrResult HandleGetD3D12GraphicsRequirements(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*);

// Advertised instance extensions, in order.
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
