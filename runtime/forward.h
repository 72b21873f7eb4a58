// The forwarding functions the function table hands out: each turns one OpenXR call into
// one exchange with the XR service.
#pragma once

#include <openxr/openxr.h>

namespace qor::runtime::forward {

#define NORVIK_FORWARD(name, ...) XrResult XRAPI_CALL name(__VA_ARGS__)

// Instance-less calls and the instance.
NORVIK_FORWARD(xrEnumerateApiLayerProperties, uint32_t capacity, uint32_t* count, XrApiLayerProperties* properties);
NORVIK_FORWARD(xrEnumerateInstanceExtensionProperties, const char* layerName, uint32_t capacity, uint32_t* count,
               XrExtensionProperties* properties);
NORVIK_FORWARD(xrCreateInstance, const XrInstanceCreateInfo* createInfo, XrInstance* instance);
NORVIK_FORWARD(xrDestroyInstance, XrInstance instance);
NORVIK_FORWARD(xrGetInstanceProperties, XrInstance instance, XrInstanceProperties* properties);
NORVIK_FORWARD(xrPollEvent, XrInstance instance, XrEventDataBuffer* eventData);
NORVIK_FORWARD(xrResultToString, XrInstance instance, XrResult value, char buffer[XR_MAX_RESULT_STRING_SIZE]);
NORVIK_FORWARD(xrStructureTypeToString, XrInstance instance, XrStructureType value,
               char buffer[XR_MAX_STRUCTURE_NAME_SIZE]);

// System and view configurations.
NORVIK_FORWARD(xrGetSystem, XrInstance instance, const XrSystemGetInfo* getInfo, XrSystemId* systemId);
NORVIK_FORWARD(xrGetSystemProperties, XrInstance instance, XrSystemId systemId, XrSystemProperties* properties);
NORVIK_FORWARD(xrEnumerateEnvironmentBlendModes, XrInstance instance, XrSystemId systemId,
               XrViewConfigurationType viewConfigurationType, uint32_t capacity, uint32_t* count,
               XrEnvironmentBlendMode* modes);
NORVIK_FORWARD(xrEnumerateViewConfigurations, XrInstance instance, XrSystemId systemId, uint32_t capacity,
               uint32_t* count, XrViewConfigurationType* types);
NORVIK_FORWARD(xrGetViewConfigurationProperties, XrInstance instance, XrSystemId systemId,
               XrViewConfigurationType viewConfigurationType, XrViewConfigurationProperties* properties);
NORVIK_FORWARD(xrEnumerateViewConfigurationViews, XrInstance instance, XrSystemId systemId,
               XrViewConfigurationType viewConfigurationType, uint32_t capacity, uint32_t* count,
               XrViewConfigurationView* views);

// Paths.
NORVIK_FORWARD(xrStringToPath, XrInstance instance, const char* pathString, XrPath* path);
NORVIK_FORWARD(xrPathToString, XrInstance instance, XrPath path, uint32_t capacity, uint32_t* count, char* buffer);

// Graphics requirements (the structures are those of XR_KHR_D3D11_enable / XR_KHR_D3D12_enable).
NORVIK_FORWARD(xrGetD3D11GraphicsRequirementsKHR, XrInstance instance, XrSystemId systemId, void* requirements);
NORVIK_FORWARD(xrGetD3D12GraphicsRequirementsKHR, XrInstance instance, XrSystemId systemId, void* requirements);

// The debug-utils functions: accepted and ignored.
XrResult XRAPI_CALL DebugUtilsNoOp();

// Sessions.
NORVIK_FORWARD(xrCreateSession, XrInstance instance, const XrSessionCreateInfo* createInfo, XrSession* session);
NORVIK_FORWARD(xrDestroySession, XrSession session);
NORVIK_FORWARD(xrBeginSession, XrSession session, const XrSessionBeginInfo* beginInfo);
NORVIK_FORWARD(xrEndSession, XrSession session);
NORVIK_FORWARD(xrRequestExitSession, XrSession session);

// Spaces and views.
NORVIK_FORWARD(xrEnumerateReferenceSpaces, XrSession session, uint32_t capacity, uint32_t* count,
               XrReferenceSpaceType* spaces);
NORVIK_FORWARD(xrCreateReferenceSpace, XrSession session, const XrReferenceSpaceCreateInfo* createInfo,
               XrSpace* space);
NORVIK_FORWARD(xrGetReferenceSpaceBoundsRect, XrSession session, XrReferenceSpaceType referenceSpaceType,
               XrExtent2Df* bounds);
NORVIK_FORWARD(xrCreateActionSpace, XrSession session, const XrActionSpaceCreateInfo* createInfo, XrSpace* space);
NORVIK_FORWARD(xrLocateSpace, XrSpace space, XrSpace baseSpace, XrTime time, XrSpaceLocation* location);
NORVIK_FORWARD(xrDestroySpace, XrSpace space);
NORVIK_FORWARD(xrLocateViews, XrSession session, const XrViewLocateInfo* viewLocateInfo, XrViewState* viewState,
               uint32_t capacity, uint32_t* count, XrView* views);

// Swapchains and frames.
NORVIK_FORWARD(xrEnumerateSwapchainFormats, XrSession session, uint32_t capacity, uint32_t* count, int64_t* formats);
NORVIK_FORWARD(xrCreateSwapchain, XrSession session, const XrSwapchainCreateInfo* createInfo, XrSwapchain* swapchain);
NORVIK_FORWARD(xrDestroySwapchain, XrSwapchain swapchain);
NORVIK_FORWARD(xrEnumerateSwapchainImages, XrSwapchain swapchain, uint32_t capacity, uint32_t* count,
               XrSwapchainImageBaseHeader* images);
NORVIK_FORWARD(xrAcquireSwapchainImage, XrSwapchain swapchain, const XrSwapchainImageAcquireInfo* acquireInfo,
               uint32_t* index);
NORVIK_FORWARD(xrWaitSwapchainImage, XrSwapchain swapchain, const XrSwapchainImageWaitInfo* waitInfo);
NORVIK_FORWARD(xrReleaseSwapchainImage, XrSwapchain swapchain, const XrSwapchainImageReleaseInfo* releaseInfo);
NORVIK_FORWARD(xrWaitFrame, XrSession session, const XrFrameWaitInfo* frameWaitInfo, XrFrameState* frameState);
NORVIK_FORWARD(xrBeginFrame, XrSession session, const XrFrameBeginInfo* frameBeginInfo);
NORVIK_FORWARD(xrEndFrame, XrSession session, const XrFrameEndInfo* frameEndInfo);

// Actions.
NORVIK_FORWARD(xrCreateActionSet, XrInstance instance, const XrActionSetCreateInfo* createInfo, XrActionSet* actionSet);
NORVIK_FORWARD(xrDestroyActionSet, XrActionSet actionSet);
NORVIK_FORWARD(xrCreateAction, XrActionSet actionSet, const XrActionCreateInfo* createInfo, XrAction* action);
NORVIK_FORWARD(xrDestroyAction, XrAction action);
NORVIK_FORWARD(xrSuggestInteractionProfileBindings, XrInstance instance,
               const XrInteractionProfileSuggestedBinding* suggestedBindings);
NORVIK_FORWARD(xrAttachSessionActionSets, XrSession session, const XrSessionActionSetsAttachInfo* attachInfo);
NORVIK_FORWARD(xrGetCurrentInteractionProfile, XrSession session, XrPath topLevelUserPath,
               XrInteractionProfileState* interactionProfile);
NORVIK_FORWARD(xrGetActionStateBoolean, XrSession session, const XrActionStateGetInfo* getInfo,
               XrActionStateBoolean* state);
NORVIK_FORWARD(xrGetActionStateFloat, XrSession session, const XrActionStateGetInfo* getInfo, XrActionStateFloat* state);
NORVIK_FORWARD(xrGetActionStateVector2f, XrSession session, const XrActionStateGetInfo* getInfo,
               XrActionStateVector2f* state);
NORVIK_FORWARD(xrGetActionStatePose, XrSession session, const XrActionStateGetInfo* getInfo, XrActionStatePose* state);
NORVIK_FORWARD(xrSyncActions, XrSession session, const XrActionsSyncInfo* syncInfo);
NORVIK_FORWARD(xrEnumerateBoundSourcesForAction, XrSession session,
               const XrBoundSourcesForActionEnumerateInfo* enumerateInfo, uint32_t capacity, uint32_t* count,
               XrPath* sources);
NORVIK_FORWARD(xrGetInputSourceLocalizedName, XrSession session, const XrInputSourceLocalizedNameGetInfo* getInfo,
               uint32_t capacity, uint32_t* count, char* buffer);
NORVIK_FORWARD(xrApplyHapticFeedback, XrSession session, const XrHapticActionInfo* hapticActionInfo,
               const XrHapticBaseHeader* hapticFeedback);
NORVIK_FORWARD(xrStopHapticFeedback, XrSession session, const XrHapticActionInfo* hapticActionInfo);

#undef NORVIK_FORWARD

}  // namespace qor::runtime::forward
