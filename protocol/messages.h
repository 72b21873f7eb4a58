// The request and reply body of every operation of the service pipe. Field order is wire
// order; the runtime library encodes requests and decodes replies with these definitions,
// and the service does the opposite. Layouts that vary by content (frame end, create
// session, system properties, events, swapchain images) have helpers of their own in
// layouts.h.
#pragma once

#include "protocol/fields.h"

namespace qor::protocol {

// ---- Records of OpenXR output structures, as they travel ----

struct ApiLayerPropertiesRecord {  // 536 bytes
    StructHeader header;
    Chars<XR_MAX_API_LAYER_NAME_SIZE> layerName;
    uint64_t specVersion = 0;
    uint32_t layerVersion = 0;
    Chars<XR_MAX_API_LAYER_DESCRIPTION_SIZE> description;
    template <class F> void Fields(F& f) { f(header); f(layerName); f(specVersion); f(layerVersion); f(description); }
};

struct ExtensionPropertiesRecord {  // 144 bytes
    StructHeader header;
    Chars<XR_MAX_EXTENSION_NAME_SIZE> extensionName;
    uint32_t extensionVersion = 0;
    template <class F> void Fields(F& f) { f(header); f(extensionName); f(extensionVersion); }
};

struct InstancePropertiesRecord {  // 148 bytes
    StructHeader header;
    uint64_t runtimeVersion = 0;
    Chars<XR_MAX_RUNTIME_NAME_SIZE> runtimeName;
    template <class F> void Fields(F& f) { f(header); f(runtimeVersion); f(runtimeName); }
};

struct SystemPropertiesRecord {  // 300 bytes; chained records follow it
    StructHeader header;
    uint64_t systemId = 0;
    uint32_t vendorId = 0;
    Chars<XR_MAX_SYSTEM_NAME_SIZE> systemName;
    uint32_t maxSwapchainImageHeight = 0;
    uint32_t maxSwapchainImageWidth = 0;
    uint32_t maxLayerCount = 0;
    uint32_t orientationTracking = 0;
    uint32_t positionTracking = 0;
    template <class F> void Fields(F& f) {
        f(header); f(systemId); f(vendorId); f(systemName); f(maxSwapchainImageHeight);
        f(maxSwapchainImageWidth); f(maxLayerCount); f(orientationTracking); f(positionTracking);
    }
};

struct SpaceLocationRecord {  // 48 bytes
    StructHeader header;
    uint64_t locationFlags = 0;
    XrPosef pose {};
    template <class F> void Fields(F& f) { f(header); f(locationFlags); f(pose); }
};

struct ViewConfigurationPropertiesRecord {  // 20 bytes
    StructHeader header;
    uint32_t viewConfigurationType = 0;
    uint32_t fovMutable = 0;
    template <class F> void Fields(F& f) { f(header); f(viewConfigurationType); f(fovMutable); }
};

struct ViewConfigurationViewRecord {  // 36 bytes
    StructHeader header;
    uint32_t recommendedImageRectWidth = 0;
    uint32_t maxImageRectWidth = 0;
    uint32_t recommendedImageRectHeight = 0;
    uint32_t maxImageRectHeight = 0;
    uint32_t recommendedSwapchainSampleCount = 0;
    uint32_t maxSwapchainSampleCount = 0;
    template <class F> void Fields(F& f) {
        f(header); f(recommendedImageRectWidth); f(maxImageRectWidth); f(recommendedImageRectHeight);
        f(maxImageRectHeight); f(recommendedSwapchainSampleCount); f(maxSwapchainSampleCount);
    }
};

struct ViewStateRecord {  // 20 bytes
    StructHeader header;
    uint64_t viewStateFlags = 0;
    template <class F> void Fields(F& f) { f(header); f(viewStateFlags); }
};

struct ViewRecord {  // 56 bytes
    StructHeader header;
    XrPosef pose {};
    XrFovf fov {};
    template <class F> void Fields(F& f) { f(header); f(pose); f(fov); }
};

struct FrameStateRecord {  // 32 bytes
    StructHeader header;
    int64_t predictedDisplayTime = 0;
    int64_t predictedDisplayPeriod = 0;
    uint32_t shouldRender = 0;
    template <class F> void Fields(F& f) { f(header); f(predictedDisplayTime); f(predictedDisplayPeriod); f(shouldRender); }
};

struct InteractionProfileStateRecord {  // 20 bytes
    StructHeader header;
    uint64_t interactionProfile = 0;
    template <class F> void Fields(F& f) { f(header); f(interactionProfile); }
};

struct ActionStateBooleanRecord {  // 32 bytes
    StructHeader header;
    uint32_t currentState = 0;
    uint32_t changedSinceLastSync = 0;
    int64_t lastChangeTime = 0;
    uint32_t isActive = 0;
    template <class F> void Fields(F& f) { f(header); f(currentState); f(changedSinceLastSync); f(lastChangeTime); f(isActive); }
};

struct ActionStateFloatRecord {  // 32 bytes
    StructHeader header;
    float currentState = 0;
    uint32_t changedSinceLastSync = 0;
    int64_t lastChangeTime = 0;
    uint32_t isActive = 0;
    template <class F> void Fields(F& f) { f(header); f(currentState); f(changedSinceLastSync); f(lastChangeTime); f(isActive); }
};

struct ActionStateVector2fRecord {  // 36 bytes
    StructHeader header;
    XrVector2f currentState {};
    uint32_t changedSinceLastSync = 0;
    int64_t lastChangeTime = 0;
    uint32_t isActive = 0;
    template <class F> void Fields(F& f) { f(header); f(currentState); f(changedSinceLastSync); f(lastChangeTime); f(isActive); }
};

struct ActionStatePoseRecord {  // 16 bytes
    StructHeader header;
    uint32_t isActive = 0;
    template <class F> void Fields(F& f) { f(header); f(isActive); }
};

struct GraphicsRequirementsRecord {  // 28 bytes; readers use the first 24
    StructHeader header;
    uint64_t adapterLuid = 0;
    uint32_t minFeatureLevel = 0;
    Padding<4> padding;
    template <class F> void Fields(F& f) { f(header); f(adapterLuid); f(minFeatureLevel); f(padding); }
};

// ---- Shared pieces ----

struct HandleOnly {
    uint64_t handle = 0;
    template <class F> void Fields(F& f) { f(handle); }
};

struct HandleReply {
    uint64_t handle = 0;
    template <class F> void Fields(F& f) { f(handle); }
};

struct ActionSubactionPair {  // (h action or action set, u64 path)
    uint64_t handle = 0;
    uint64_t path = 0;
    template <class F> void Fields(F& f) { f(handle); f(path); }
};

template <typename T>
struct EnumerationReply {
    uint32_t count = 0;
    Elements<T> items;
    template <class F> void Fields(F& f) { CountField(f, count); f(items); }
};

// A string result with an 8-byte length (the two name functions).
struct NameReply {
    String64 name;
    template <class F> void Fields(F& f) { f(name); }
};

// ---- Requests and replies, in code order (operations.h names each one's operation) ----

struct EnumerateApiLayerPropertiesRequest {
    uint32_t capacity = 0;
    template <class F> void Fields(F& f) { f(capacity); }
};
using EnumerateApiLayerPropertiesReply = EnumerationReply<ApiLayerPropertiesRecord>;

struct EnumerateInstanceExtensionPropertiesRequest {
    String64 layerName {false, {}, {}};
    uint32_t capacity = 0;
    template <class F> void Fields(F& f) { f(layerName); f(capacity); }
};
using EnumerateInstanceExtensionPropertiesReply = EnumerationReply<ExtensionPropertiesRecord>;

constexpr size_t kExecutablePathUnits = 512;
constexpr uint32_t kProcessRecordMarker = 1;

struct CreateInstanceRequest {
    StructHeader info;
    uint64_t createFlags = 0;
    Chars<XR_MAX_APPLICATION_NAME_SIZE> applicationName;
    uint32_t applicationVersion = 0;
    Chars<XR_MAX_ENGINE_NAME_SIZE> engineName;
    uint32_t engineVersion = 0;
    uint64_t apiVersion = 0;
    uint32_t enabledApiLayerCount = 0;  // the layer names are not sent
    List<uint32_t> extensionIndices;
    uint32_t processRecordMarker = kProcessRecordMarker;
    uint64_t reserved = 0;
    Chars16<kExecutablePathUnits> executablePath;
    template <class F> void Fields(F& f) {
        f(info); f(createFlags); f(applicationName); f(applicationVersion); f(engineName); f(engineVersion);
        f(apiVersion); f(enabledApiLayerCount); f(extensionIndices); f(processRecordMarker); f(reserved);
        f(executablePath);
    }
};
using CreateInstanceReply = HandleReply;

struct DestroyInstanceRequest : HandleOnly {};
struct GetInstancePropertiesRequest : HandleOnly {};
using GetInstancePropertiesReply = InstancePropertiesRecord;

struct ResultToStringRequest {
    uint64_t instance = 0;
    int32_t value = 0;
    template <class F> void Fields(F& f) { f(instance); f(value); }
};
struct StructureTypeToStringRequest {
    uint64_t instance = 0;
    uint32_t value = 0;
    template <class F> void Fields(F& f) { f(instance); f(value); }
};

struct PollEventRequest : HandleOnly {};
// The event as it lies in memory (natural alignment), as many bytes as the event's length.
struct PollEventReply {
    Rest event;
    template <class F> void Fields(F& f) { f(event); }
};

struct GetSystemRequest {
    uint64_t instance = 0;
    StructHeader info;
    uint32_t formFactor = 0;
    template <class F> void Fields(F& f) { f(instance); f(info); f(formFactor); }
};
using GetSystemReply = HandleReply;

struct GetSystemPropertiesRequest {
    uint64_t instance = 0;
    uint64_t systemId = 0;
    template <class F> void Fields(F& f) { f(instance); f(systemId); }
};
struct GetSystemPropertiesReply {
    SystemPropertiesRecord properties;
    Rest chained;  // one record per structure of the application's chain (layouts.h)
    template <class F> void Fields(F& f) { f(properties); f(chained); }
};

struct StringToPathRequest {
    uint64_t instance = 0;
    String64 path;
    template <class F> void Fields(F& f) { f(instance); f(path); }
};
using StringToPathReply = HandleReply;

struct PathToStringRequest {
    uint64_t instance = 0;
    uint64_t path = 0;
    uint32_t capacity = 0;
    template <class F> void Fields(F& f) { f(instance); f(path); f(capacity); }
};
struct CountedStringReply {
    CountedString32 text;
    template <class F> void Fields(F& f) { f(text); }
};
using PathToStringReply = CountedStringReply;

struct GetReferenceSpaceBoundsRectRequest {
    uint64_t session = 0;
    uint32_t referenceSpaceType = 0;
    template <class F> void Fields(F& f) { f(session); f(referenceSpaceType); }
};
struct GetReferenceSpaceBoundsRectReply {
    XrExtent2Df bounds {};
    template <class F> void Fields(F& f) { f(bounds); }
};

struct EnumerateReferenceSpacesRequest {
    uint64_t session = 0;
    uint32_t capacity = 0;
    template <class F> void Fields(F& f) { f(session); f(capacity); }
};
using EnumerateReferenceSpacesReply = EnumerationReply<uint32_t>;

struct CreateReferenceSpaceRequest {
    uint64_t session = 0;
    StructHeader info;
    uint32_t referenceSpaceType = 0;
    XrPosef poseInReferenceSpace {};
    template <class F> void Fields(F& f) { f(session); f(info); f(referenceSpaceType); f(poseInReferenceSpace); }
};
using CreateReferenceSpaceReply = HandleReply;

struct CreateActionSpaceRequest {
    uint64_t session = 0;
    StructHeader info;
    uint64_t action = 0;
    uint64_t subactionPath = 0;
    XrPosef poseInActionSpace {};
    template <class F> void Fields(F& f) { f(session); f(info); f(action); f(subactionPath); f(poseInActionSpace); }
};
using CreateActionSpaceReply = HandleReply;

struct DestroySpaceRequest : HandleOnly {};

struct LocateSpaceRequest {
    uint64_t space = 0;
    uint64_t baseSpace = 0;
    int64_t time = 0;
    uint32_t locationType = 0;
    uint64_t locationNext = 0;
    template <class F> void Fields(F& f) { f(space); f(baseSpace); f(time); f(locationType); f(locationNext); }
};
using LocateSpaceReply = SpaceLocationRecord;

struct EnumerateViewConfigurationsRequest {
    uint64_t instance = 0;
    uint64_t systemId = 0;
    uint32_t capacity = 0;
    template <class F> void Fields(F& f) { f(instance); f(systemId); f(capacity); }
};
using EnumerateViewConfigurationsReply = EnumerationReply<uint32_t>;

struct GetViewConfigurationPropertiesRequest {
    uint64_t instance = 0;
    uint64_t systemId = 0;
    uint32_t viewConfigurationType = 0;
    template <class F> void Fields(F& f) { f(instance); f(systemId); f(viewConfigurationType); }
};
using GetViewConfigurationPropertiesReply = ViewConfigurationPropertiesRecord;

struct EnumerateViewConfigurationViewsRequest {
    uint64_t instance = 0;
    uint64_t systemId = 0;
    uint32_t viewConfigurationType = 0;
    uint32_t capacity = 0;
    template <class F> void Fields(F& f) { f(instance); f(systemId); f(viewConfigurationType); f(capacity); }
};
using EnumerateViewConfigurationViewsReply = EnumerationReply<ViewConfigurationViewRecord>;

// The graphics binding of xrCreateSession: D3D11 (type, next, device), D3D12 (type, next,
// device, queue) or OpenGL (type, next, hDC, hGLRC). The pointer values only identify it.
struct GraphicsBindingRecord {
    StructHeader header;
    uint64_t device = 0;
    Trailing<uint64_t> second;  // the D3D12 queue or the OpenGL context
    template <class F> void Fields(F& f) { f(header); f(device); f(second); }
};

// xrCreateSession: the create info, then the binding record when the application gave one.
struct CreateSessionRequest {
    uint64_t instance = 0;
    StructHeader info;
    uint64_t createFlags = 0;
    uint64_t systemId = 0;
    Trailing<GraphicsBindingRecord> binding;
    template <class F> void Fields(F& f) { f(instance); f(info); f(createFlags); f(systemId); f(binding); }
};
using CreateSessionReply = HandleReply;

struct DestroySessionRequest : HandleOnly {};

struct BeginSessionRequest {
    uint64_t session = 0;
    StructHeader info;
    uint32_t primaryViewConfigurationType = 0;
    template <class F> void Fields(F& f) { f(session); f(info); f(primaryViewConfigurationType); }
};

struct EndSessionRequest : HandleOnly {};
struct RequestExitSessionRequest : HandleOnly {};

struct EnumerateSwapchainFormatsRequest {
    uint64_t session = 0;
    uint32_t capacity = 0;
    template <class F> void Fields(F& f) { f(session); f(capacity); }
};
using EnumerateSwapchainFormatsReply = EnumerationReply<int64_t>;

struct CreateSwapchainRequest {
    uint64_t session = 0;
    StructHeader info;
    uint64_t createFlags = 0;
    uint64_t usageFlags = 0;
    int64_t format = 0;
    uint32_t sampleCount = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t faceCount = 0;
    uint32_t arraySize = 0;
    uint32_t mipCount = 0;
    template <class F> void Fields(F& f) {
        f(session); f(info); f(createFlags); f(usageFlags); f(format); f(sampleCount); f(width); f(height);
        f(faceCount); f(arraySize); f(mipCount);
    }
};
using CreateSwapchainReply = HandleReply;

struct DestroySwapchainRequest : HandleOnly {};

struct EnumerateSwapchainImagesRequest {
    uint64_t swapchain = 0;
    uint32_t capacity = 0;
    template <class F> void Fields(F& f) { f(swapchain); f(capacity); }
};
// The count, then one image record per image in the session's graphics API (layouts.h).
struct EnumerateSwapchainImagesReply {
    uint32_t count = 0;
    Rest images;
    template <class F> void Fields(F& f) { f(count); f(images); }
};

struct AcquireSwapchainImageRequest {
    uint64_t swapchain = 0;
    OptionalInfo info;
    template <class F> void Fields(F& f) { f(swapchain); f(info); }
};
struct IndexReply {
    uint32_t index = 0;
    template <class F> void Fields(F& f) { f(index); }
};
using AcquireSwapchainImageReply = IndexReply;

struct WaitSwapchainImageRequest {
    uint64_t swapchain = 0;
    StructHeader info;
    int64_t timeout = 0;
    template <class F> void Fields(F& f) { f(swapchain); f(info); f(timeout); }
};

struct ReleaseSwapchainImageRequest {
    uint64_t swapchain = 0;
    Padding<16> ignored;
    template <class F> void Fields(F& f) { f(swapchain); f(ignored); }
};

struct LocateViewsRequest {
    uint64_t session = 0;
    StructHeader info;
    uint32_t viewConfigurationType = 0;
    int64_t displayTime = 0;
    uint64_t space = 0;
    uint32_t viewCapacity = 0;
    template <class F> void Fields(F& f) { f(session); f(info); f(viewConfigurationType); f(displayTime); f(space); f(viewCapacity); }
};
struct LocateViewsReply {
    ViewStateRecord viewState;
    uint32_t count = 0;
    Elements<ViewRecord> views;
    template <class F> void Fields(F& f) { f(viewState); CountField(f, count); f(views); }
};

struct WaitFrameRequest {
    uint64_t session = 0;
    OptionalInfo info;
    template <class F> void Fields(F& f) { f(session); f(info); }
};
using WaitFrameReply = FrameStateRecord;

struct BeginFrameRequest {
    uint64_t session = 0;
    OptionalInfo info;
    template <class F> void Fields(F& f) { f(session); f(info); }
};

// xrEndFrame: this header, then the layer records (layouts.h).
struct EndFrameRequest {
    uint64_t session = 0;
    StructHeader info;
    int64_t displayTime = 0;
    uint32_t environmentBlendMode = 0;
    uint32_t layerCount = 0;
    Rest layers;
    template <class F> void Fields(F& f) { f(session); f(info); f(displayTime); f(environmentBlendMode); f(layerCount); f(layers); }
};

struct EnumerateEnvironmentBlendModesRequest {
    uint64_t instance = 0;
    uint64_t systemId = 0;
    uint32_t viewConfigurationType = 0;
    uint32_t capacity = 0;
    template <class F> void Fields(F& f) { f(instance); f(systemId); f(viewConfigurationType); f(capacity); }
};
using EnumerateEnvironmentBlendModesReply = EnumerationReply<uint32_t>;

struct CreateActionSetRequest {
    uint64_t instance = 0;
    StructHeader info;
    Chars<XR_MAX_ACTION_SET_NAME_SIZE> actionSetName;
    Chars<XR_MAX_LOCALIZED_ACTION_SET_NAME_SIZE> localizedActionSetName;
    uint32_t priority = 0;
    template <class F> void Fields(F& f) { f(instance); f(info); f(actionSetName); f(localizedActionSetName); f(priority); }
};
using CreateActionSetReply = HandleReply;

struct DestroyActionSetRequest : HandleOnly {};

struct CreateActionRequest {
    uint64_t actionSet = 0;
    StructHeader info;
    Chars<XR_MAX_ACTION_NAME_SIZE> actionName;
    uint32_t actionType = 0;
    List<uint64_t> subactionPaths;
    Chars<XR_MAX_LOCALIZED_ACTION_NAME_SIZE> localizedActionName;
    template <class F> void Fields(F& f) { f(actionSet); f(info); f(actionName); f(actionType); f(subactionPaths); f(localizedActionName); }
};
using CreateActionReply = HandleReply;

struct DestroyActionRequest : HandleOnly {};

struct SuggestInteractionProfileBindingsRequest {
    uint64_t instance = 0;
    StructHeader info;
    uint64_t interactionProfile = 0;
    List<ActionSubactionPair> suggestedBindings;  // (action, binding path)
    template <class F> void Fields(F& f) { f(instance); f(info); f(interactionProfile); f(suggestedBindings); }
};

struct AttachSessionActionSetsRequest {
    uint64_t session = 0;
    StructHeader info;
    List<uint64_t> actionSets;
    template <class F> void Fields(F& f) { f(session); f(info); f(actionSets); }
};

struct GetCurrentInteractionProfileRequest {
    uint64_t session = 0;
    uint64_t topLevelUserPath = 0;
    template <class F> void Fields(F& f) { f(session); f(topLevelUserPath); }
};
using GetCurrentInteractionProfileReply = InteractionProfileStateRecord;

struct ActionStateGetInfo {
    uint64_t session = 0;
    StructHeader info;
    uint64_t action = 0;
    uint64_t subactionPath = 0;
    template <class F> void Fields(F& f) { f(session); f(info); f(action); f(subactionPath); }
};
struct GetActionStateBooleanRequest : ActionStateGetInfo {};
struct GetActionStateFloatRequest : ActionStateGetInfo {};
struct GetActionStateVector2fRequest : ActionStateGetInfo {};
struct GetActionStatePoseRequest : ActionStateGetInfo {};

struct ApplyHapticFeedbackRequest {
    uint64_t session = 0;
    StructHeader info;
    uint64_t action = 0;
    uint64_t subactionPath = 0;
    StructHeader haptic;  // the haptic header only
    template <class F> void Fields(F& f) { f(session); f(info); f(action); f(subactionPath); f(haptic); }
};

struct StopHapticFeedbackRequest : ActionStateGetInfo {};

struct SyncActionsRequest {
    uint64_t session = 0;
    StructHeader info;
    List<ActionSubactionPair> activeActionSets;  // (action set, subaction path)
    template <class F> void Fields(F& f) { f(session); f(info); f(activeActionSets); }
};

struct EnumerateBoundSourcesForActionRequest {
    uint64_t session = 0;
    StructHeader info;
    uint64_t action = 0;
    uint32_t capacity = 0;
    template <class F> void Fields(F& f) { f(session); f(info); f(action); f(capacity); }
};
using EnumerateBoundSourcesForActionReply = EnumerationReply<uint64_t>;

struct GetInputSourceLocalizedNameRequest {
    uint64_t session = 0;
    StructHeader info;
    uint64_t sourcePath = 0;
    uint64_t whichComponents = 0;
    uint32_t capacity = 0;
    template <class F> void Fields(F& f) { f(session); f(info); f(sourcePath); f(whichComponents); f(capacity); }
};
using GetInputSourceLocalizedNameReply = CountedStringReply;

struct GraphicsRequirementsRequest {
    uint64_t instance = 0;
    uint64_t systemId = 0;
    template <class F> void Fields(F& f) { f(instance); f(systemId); }
};
struct GetD3D11GraphicsRequirementsRequest : GraphicsRequirementsRequest {};
struct GetD3D12GraphicsRequirementsRequest : GraphicsRequirementsRequest {};
using GraphicsRequirementsReply = GraphicsRequirementsRecord;

// The body of an operation that answers with its result alone.
struct NoReply {
    template <class F> void Fields(F&) {}
};

#define NORVIK_OPERATION_OF(Name, Code, Function, Request, Reply, ...) \
    template <>                                                        \
    struct OperationOf<Request> {                                      \
        static constexpr Op op = Op::Name;                             \
        using ReplyType = Reply;                                       \
    };
NORVIK_OPERATIONS(NORVIK_OPERATION_OF)
#undef NORVIK_OPERATION_OF

}  // namespace qor::protocol
