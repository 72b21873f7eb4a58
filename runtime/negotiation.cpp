// Loader negotiation and the function lookup.
#include "runtime/forward.h"
#include "runtime/runtime.h"

#include <cstring>
#include <iterator>

namespace qor::runtime {

namespace {
using forward::DebugUtilsNoOp;

struct TableEntry {
    const char* name;
    PFN_xrVoidFunction function;
};

template <typename Function>
constexpr PFN_xrVoidFunction Fn(Function function) {
    return reinterpret_cast<PFN_xrVoidFunction>(function);
}

// Names answered with or without an instance.
const TableEntry kGlobalFunctions[] = {
    {"xrGetInstanceProcAddr", Fn(GetInstanceProcAddr)},
    {"xrEnumerateInstanceExtensionProperties", Fn(forward::xrEnumerateInstanceExtensionProperties)},
    {"xrCreateInstance", Fn(forward::xrCreateInstance)},
    {"xrEnumerateApiLayerProperties", Fn(forward::xrEnumerateApiLayerProperties)},
};

// Names resolved once an instance is given, whatever extensions it enabled.
const TableEntry kInstanceFunctions[] = {
    {"xrDestroyInstance", Fn(forward::xrDestroyInstance)},
    {"xrGetInstanceProperties", Fn(forward::xrGetInstanceProperties)},
    {"xrPollEvent", Fn(forward::xrPollEvent)},
    {"xrResultToString", Fn(forward::xrResultToString)},
    {"xrStructureTypeToString", Fn(forward::xrStructureTypeToString)},
    {"xrGetSystem", Fn(forward::xrGetSystem)},
    {"xrGetSystemProperties", Fn(forward::xrGetSystemProperties)},
    {"xrEnumerateEnvironmentBlendModes", Fn(forward::xrEnumerateEnvironmentBlendModes)},
    {"xrEnumerateViewConfigurations", Fn(forward::xrEnumerateViewConfigurations)},
    {"xrGetViewConfigurationProperties", Fn(forward::xrGetViewConfigurationProperties)},
    {"xrEnumerateViewConfigurationViews", Fn(forward::xrEnumerateViewConfigurationViews)},
    {"xrCreateSession", Fn(forward::xrCreateSession)},
    {"xrDestroySession", Fn(forward::xrDestroySession)},
    {"xrBeginSession", Fn(forward::xrBeginSession)},
    {"xrEndSession", Fn(forward::xrEndSession)},
    {"xrRequestExitSession", Fn(forward::xrRequestExitSession)},
    {"xrEnumerateReferenceSpaces", Fn(forward::xrEnumerateReferenceSpaces)},
    {"xrCreateReferenceSpace", Fn(forward::xrCreateReferenceSpace)},
    {"xrGetReferenceSpaceBoundsRect", Fn(forward::xrGetReferenceSpaceBoundsRect)},
    {"xrCreateActionSpace", Fn(forward::xrCreateActionSpace)},
    {"xrLocateSpace", Fn(forward::xrLocateSpace)},
    {"xrDestroySpace", Fn(forward::xrDestroySpace)},
    {"xrLocateViews", Fn(forward::xrLocateViews)},
    {"xrEnumerateSwapchainFormats", Fn(forward::xrEnumerateSwapchainFormats)},
    {"xrCreateSwapchain", Fn(forward::xrCreateSwapchain)},
    {"xrDestroySwapchain", Fn(forward::xrDestroySwapchain)},
    {"xrEnumerateSwapchainImages", Fn(forward::xrEnumerateSwapchainImages)},
    {"xrAcquireSwapchainImage", Fn(forward::xrAcquireSwapchainImage)},
    {"xrWaitSwapchainImage", Fn(forward::xrWaitSwapchainImage)},
    {"xrReleaseSwapchainImage", Fn(forward::xrReleaseSwapchainImage)},
    {"xrWaitFrame", Fn(forward::xrWaitFrame)},
    {"xrBeginFrame", Fn(forward::xrBeginFrame)},
    {"xrEndFrame", Fn(forward::xrEndFrame)},
    {"xrStringToPath", Fn(forward::xrStringToPath)},
    {"xrPathToString", Fn(forward::xrPathToString)},
    {"xrCreateActionSet", Fn(forward::xrCreateActionSet)},
    {"xrDestroyActionSet", Fn(forward::xrDestroyActionSet)},
    {"xrCreateAction", Fn(forward::xrCreateAction)},
    {"xrDestroyAction", Fn(forward::xrDestroyAction)},
    {"xrSuggestInteractionProfileBindings", Fn(forward::xrSuggestInteractionProfileBindings)},
    {"xrAttachSessionActionSets", Fn(forward::xrAttachSessionActionSets)},
    {"xrGetCurrentInteractionProfile", Fn(forward::xrGetCurrentInteractionProfile)},
    {"xrGetActionStateBoolean", Fn(forward::xrGetActionStateBoolean)},
    {"xrGetActionStateFloat", Fn(forward::xrGetActionStateFloat)},
    {"xrGetActionStateVector2f", Fn(forward::xrGetActionStateVector2f)},
    {"xrGetActionStatePose", Fn(forward::xrGetActionStatePose)},
    {"xrSyncActions", Fn(forward::xrSyncActions)},
    {"xrEnumerateBoundSourcesForAction", Fn(forward::xrEnumerateBoundSourcesForAction)},
    {"xrGetInputSourceLocalizedName", Fn(forward::xrGetInputSourceLocalizedName)},
    {"xrApplyHapticFeedback", Fn(forward::xrApplyHapticFeedback)},
    {"xrStopHapticFeedback", Fn(forward::xrStopHapticFeedback)},
    {"xrGetD3D11GraphicsRequirementsKHR", Fn(forward::xrGetD3D11GraphicsRequirementsKHR)},
    {"xrGetD3D12GraphicsRequirementsKHR", Fn(forward::xrGetD3D12GraphicsRequirementsKHR)},
    // Debug utils: one function that accepts everything and does nothing.
    {"xrSetDebugUtilsObjectNameEXT", Fn(DebugUtilsNoOp)},
    {"xrCreateDebugUtilsMessengerEXT", Fn(DebugUtilsNoOp)},
    {"xrDestroyDebugUtilsMessengerEXT", Fn(DebugUtilsNoOp)},
    {"xrSubmitDebugUtilsMessageEXT", Fn(DebugUtilsNoOp)},
    {"xrSessionBeginDebugUtilsLabelRegionEXT", Fn(DebugUtilsNoOp)},
    {"xrSessionEndDebugUtilsLabelRegionEXT", Fn(DebugUtilsNoOp)},
    {"xrSessionInsertDebugUtilsLabelEXT", Fn(DebugUtilsNoOp)},
};

PFN_xrVoidFunction Find(const TableEntry* begin, const TableEntry* end, const char* name) {
    for (const TableEntry* entry = begin; entry != end; ++entry) {
        if (std::strcmp(entry->name, name) == 0) return entry->function;
    }
    return nullptr;
}

constexpr XrVersion kLowestLoaderApi = XR_MAKE_VERSION(0, 1, 0);
constexpr XrVersion kFirstUnsupportedApi = XR_MAKE_VERSION(1, 1, 0);
}  // namespace

XrResult XRAPI_CALL NegotiateLoaderRuntimeInterface(const XrNegotiateLoaderInfo* loaderInfo,
                                                    XrNegotiateRuntimeRequest* runtimeRequest) {
    if (loaderInfo == nullptr || runtimeRequest == nullptr) return XR_ERROR_INITIALIZATION_FAILED;
    if (loaderInfo->structType != XR_LOADER_INTERFACE_STRUCT_LOADER_INFO ||
        loaderInfo->structVersion != XR_LOADER_INFO_STRUCT_VERSION ||
        loaderInfo->structSize != sizeof(XrNegotiateLoaderInfo)) {
        return XR_ERROR_INITIALIZATION_FAILED;
    }
    if (runtimeRequest->structType != XR_LOADER_INTERFACE_STRUCT_RUNTIME_REQUEST ||
        runtimeRequest->structVersion != XR_RUNTIME_INFO_STRUCT_VERSION ||
        runtimeRequest->structSize != sizeof(XrNegotiateRuntimeRequest)) {
        return XR_ERROR_INITIALIZATION_FAILED;
    }
    if (loaderInfo->minInterfaceVersion > kRuntimeInterfaceVersion ||
        loaderInfo->maxInterfaceVersion != kRuntimeInterfaceVersion) {
        return XR_ERROR_INITIALIZATION_FAILED;
    }
    // The loader's maxApiVersion is not examined.
    if (loaderInfo->minApiVersion < kLowestLoaderApi || loaderInfo->minApiVersion >= kFirstUnsupportedApi) {
        return XR_ERROR_INITIALIZATION_FAILED;
    }
    runtimeRequest->runtimeInterfaceVersion = kRuntimeInterfaceVersion;
    runtimeRequest->runtimeApiVersion = kRuntimeApiVersion;
    runtimeRequest->getInstanceProcAddr = GetInstanceProcAddr;
    return XR_SUCCESS;
}

XrResult XRAPI_CALL GetInstanceProcAddr(XrInstance instance, const char* name, PFN_xrVoidFunction* function) {
    if (function == nullptr) return XR_ERROR_VALIDATION_FAILURE;
    *function = nullptr;
    if (name == nullptr) return XR_ERROR_FUNCTION_UNSUPPORTED;
    if ((*function = Find(std::begin(kGlobalFunctions), std::end(kGlobalFunctions), name)) != nullptr) {
        return XR_SUCCESS;
    }
    if (instance == XR_NULL_HANDLE) return XR_ERROR_HANDLE_INVALID;
    *function = Find(std::begin(kInstanceFunctions), std::end(kInstanceFunctions), name);
    return *function != nullptr ? XR_SUCCESS : XR_ERROR_FUNCTION_UNSUPPORTED;
}

}  // namespace qor::runtime
