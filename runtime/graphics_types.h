// The Direct3D structures of the OpenXR graphics extensions, in their Windows memory layout.
// Windows builds use the real ones from openxr_platform.h; other builds, where no Direct3D
// headers exist, use these layout-identical forms (the runtime only passes the pointers on).
#pragma once

#include <openxr/openxr.h>

#include <cstdint>

namespace qor::runtime {

struct GraphicsBindingD3D11 {
    XrStructureType type;
    const void* next;
    void* device;  // ID3D11Device*
};

struct GraphicsBindingD3D12 {
    XrStructureType type;
    const void* next;
    void* device;  // ID3D12Device*
    void* queue;   // ID3D12CommandQueue*
};

struct GraphicsBindingOpenGLWin32 {
    XrStructureType type;
    const void* next;
    void* hDC;
    void* hGLRC;
};

struct SwapchainImageD3D11 {
    XrStructureType type;
    void* next;
    void* texture;  // ID3D11Texture2D*
};

struct SwapchainImageD3D12 {
    XrStructureType type;
    void* next;
    void* texture;  // ID3D12Resource*
};

struct AdapterLuid {
    uint32_t lowPart;
    int32_t highPart;
};

struct GraphicsRequirementsD3D {  // D3D11 and D3D12 have the same shape
    XrStructureType type;
    void* next;
    AdapterLuid adapterLuid;
    int32_t minFeatureLevel;  // D3D_FEATURE_LEVEL
};

// The prototypes of xrGetD3D11/12GraphicsRequirementsKHR with the structure above, in the
// place of openxr_platform.h's, so these two are declared like every other OpenXR function.
using PFN_xrGetD3D11GraphicsRequirementsKHR = XrResult(XRAPI_PTR*)(XrInstance, XrSystemId, GraphicsRequirementsD3D*);
using PFN_xrGetD3D12GraphicsRequirementsKHR = XrResult(XRAPI_PTR*)(XrInstance, XrSystemId, GraphicsRequirementsD3D*);

}  // namespace qor::runtime
