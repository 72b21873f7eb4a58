// A system as a display driver's device registered it: what xrGetSystem and
// xrGetSystemProperties answer and what sessions and views are built on.
#pragma once

#include <openxr/openxr.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qor {

class IQorDisplayComponent;
struct DeviceRecord;

struct ViewConfigurationViewEntry {
    uint32_t recommendedImageRectWidth = 0;
    uint32_t maxImageRectWidth = 0;
    uint32_t recommendedImageRectHeight = 0;
    uint32_t maxImageRectHeight = 0;
    uint32_t recommendedSwapchainSampleCount = 1;
    uint32_t maxSwapchainSampleCount = 1;
};

struct ViewConfigurationEntry {
    XrViewConfigurationType type = XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO;
    XrBool32 fovMutable = XR_FALSE;
    std::vector<ViewConfigurationViewEntry> views;
};

struct SystemEntry {
    uint64_t systemId = 0;
    int32_t formFactor = 0;  // 0 when the driver reported neither 1 nor 2
    uint32_t vendorId = 0;
    std::string systemName;
    uint32_t maxSwapchainImageHeight = 0;
    uint32_t maxSwapchainImageWidth = 0;
    uint32_t maxLayerCount = 0;
    XrBool32 orientationTracking = XR_FALSE;
    XrBool32 positionTracking = XR_FALSE;
    std::vector<ViewConfigurationEntry> viewConfigurations;
    DeviceRecord* device = nullptr;
    IQorDisplayComponent* display = nullptr;
};

}  // namespace qor
