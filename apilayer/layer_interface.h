// The OpenXR loader's API-layer interface (loader interface version 1), as the published
// loader documentation defines it; Debian's OpenXR headers do not carry it. The negotiation
// structures shared with runtimes come from the runtime's declaration of the same interface.
#pragma once

#include "runtime/loader_interface.h"

#include <openxr/openxr.h>

#include <cstddef>
#include <cstdint>

extern "C" {

#define XR_API_LAYER_INFO_STRUCT_VERSION 1
#define XR_API_LAYER_NEXT_INFO_STRUCT_VERSION 1
#define XR_API_LAYER_CREATE_INFO_STRUCT_VERSION 1
#define XR_CURRENT_LOADER_API_LAYER_VERSION 1
#define XR_API_LAYER_MAX_SETTINGS_PATH_SIZE 512

struct XrApiLayerCreateInfo;
typedef XrResult(XRAPI_PTR* PFN_xrCreateApiLayerInstance)(const XrInstanceCreateInfo* info,
                                                          const struct XrApiLayerCreateInfo* apiLayerInfo,
                                                          XrInstance* instance);

typedef struct XrNegotiateApiLayerRequest {
    XrLoaderInterfaceStructs structType;
    uint32_t structVersion;
    size_t structSize;
    uint32_t layerInterfaceVersion;
    XrVersion layerApiVersion;
    PFN_xrGetInstanceProcAddr getInstanceProcAddr;
    PFN_xrCreateApiLayerInstance createApiLayerInstance;
} XrNegotiateApiLayerRequest;

// One link of the layer chain, outermost first; the innermost layer's `next` is null and its
// functions are the loader's own terminator (which calls the runtime).
typedef struct XrApiLayerNextInfo {
    XrLoaderInterfaceStructs structType;
    uint32_t structVersion;
    size_t structSize;
    char layerName[XR_MAX_API_LAYER_NAME_SIZE];
    PFN_xrGetInstanceProcAddr nextGetInstanceProcAddr;
    PFN_xrCreateApiLayerInstance nextCreateApiLayerInstance;
    struct XrApiLayerNextInfo* next;
} XrApiLayerNextInfo;

typedef struct XrApiLayerCreateInfo {
    XrLoaderInterfaceStructs structType;
    uint32_t structVersion;
    size_t structSize;
    void* loaderInstance;  // deprecated, ignored
    char settings_file_location[XR_API_LAYER_MAX_SETTINGS_PATH_SIZE];
    XrApiLayerNextInfo* nextInfo;
} XrApiLayerCreateInfo;

typedef XrResult(XRAPI_PTR* PFN_xrNegotiateLoaderApiLayerInterface)(const XrNegotiateLoaderInfo* loaderInfo,
                                                                    const char* layerName,
                                                                    XrNegotiateApiLayerRequest* apiLayerRequest);
}

static_assert(sizeof(XrNegotiateApiLayerRequest) == 48 && sizeof(XrApiLayerNextInfo) == 296 &&
                  sizeof(XrApiLayerCreateInfo) == 544,
              "the loader's layout of the layer interface");
