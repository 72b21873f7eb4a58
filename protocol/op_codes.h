// Operation codes of the service pipe. Codes are grouped by ten thousands: 0 liveness,
// 10000 instance-less calls, 20000 instance, 30000 system, 40000 paths, 50000 spaces,
// 60000 view configurations, 70000 session, 80000 swapchains and frames, 90000 actions,
// 100000 extension functions.
#pragma once

#include <cstdint>
#include <span>

namespace qor::protocol {

enum class Op : uint32_t {
    Liveness = 0,
    EnumerateApiLayerProperties = 10000,
    EnumerateInstanceExtensionProperties = 10001,
    CreateInstance = 20000,
    DestroyInstance = 20001,
    GetInstanceProperties = 20002,
    ResultToString = 20003,
    StructureTypeToString = 20004,
    PollEvent = 20005,
    GetSystem = 30000,
    GetSystemProperties = 30001,
    StringToPath = 40000,
    PathToString = 40001,
    GetReferenceSpaceBoundsRect = 50000,
    EnumerateReferenceSpaces = 50001,
    CreateReferenceSpace = 50002,
    CreateActionSpace = 50003,
    DestroySpace = 50004,
    LocateSpace = 50005,
    EnumerateViewConfigurations = 60000,
    GetViewConfigurationProperties = 60001,
    EnumerateViewConfigurationViews = 60002,
    CreateSession = 70000,
    DestroySession = 70001,
    BeginSession = 70002,
    EndSession = 70003,
    RequestExitSession = 70004,
    EnumerateSwapchainFormats = 80000,
    CreateSwapchain = 80001,
    DestroySwapchain = 80002,
    EnumerateSwapchainImages = 80003,
    AcquireSwapchainImage = 80004,
    WaitSwapchainImage = 80005,
    ReleaseSwapchainImage = 80006,
    LocateViews = 80007,
    WaitFrame = 80008,
    BeginFrame = 80009,
    EndFrame = 80010,
    EnumerateEnvironmentBlendModes = 80011,
    CreateActionSet = 90000,
    DestroyActionSet = 90001,
    CreateAction = 90002,
    DestroyAction = 90003,
    SuggestInteractionProfileBindings = 90004,
    AttachSessionActionSets = 90005,
    GetCurrentInteractionProfile = 90006,
    GetActionStateBoolean = 90007,
    GetActionStateFloat = 90008,
    GetActionStateVector2f = 90009,
    GetActionStatePose = 90010,
    ApplyHapticFeedback = 90011,
    StopHapticFeedback = 90012,
    SyncActions = 90013,
    EnumerateBoundSourcesForAction = 90014,
    GetInputSourceLocalizedName = 90015,
    GetD3D11GraphicsRequirementsKHR = 100003,
    GetD3D12GraphicsRequirementsKHR = 100004,
};

// The reserved extension-function codes: the service refuses them, the runtime never sends them.
constexpr uint32_t kFirstExtensionCode = 100000;
constexpr uint32_t kLastExtensionCode = 100036;
constexpr bool IsReservedExtensionCode(uint32_t code) {
    return code >= kFirstExtensionCode && code <= kLastExtensionCode &&
           code != static_cast<uint32_t>(Op::GetD3D11GraphicsRequirementsKHR) &&
           code != static_cast<uint32_t>(Op::GetD3D12GraphicsRequirementsKHR);
}

struct OpInfo {
    Op op;
    const char* function;  // the OpenXR function the code carries
};

// Every code of the table above, in ascending order.
std::span<const OpInfo> AllOperations();
const OpInfo* FindOperation(uint32_t code);

}  // namespace qor::protocol
