// The implicit API layer "XR_APILAYER_NORVIK_stereoview": it passes every call through and,
// in the lenticular driver's fixed-field-of-view mode, gives each located view the frustum
// from the eye to the edges of the stereoscopic panel.
#pragma once

#include "apilayer/layer_interface.h"

namespace qor::apilayer {

inline constexpr const char* kLayerName = "XR_APILAYER_NORVIK_stereoview";
inline constexpr uint32_t kLayerInterfaceVersion = XR_CURRENT_LOADER_API_LAYER_VERSION;
inline constexpr XrVersion kLayerApiVersion = XR_MAKE_VERSION(1, 0, 17);

// The loader's entry: checks what the loader offers, hands it the layer's
// xrGetInstanceProcAddr and create-instance function, and reads the settings file.
XrResult XRAPI_CALL NegotiateLoaderApiLayerInterface(const XrNegotiateLoaderInfo* loaderInfo, const char* layerName,
                                                     XrNegotiateApiLayerRequest* apiLayerRequest);

}  // namespace qor::apilayer
