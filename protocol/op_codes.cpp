#include "protocol/op_codes.h"

#include <algorithm>
#include <array>

namespace qor::protocol {

namespace {
constexpr std::array kOperations = {
    OpInfo {Op::Liveness, "(liveness probe)"},
    OpInfo {Op::EnumerateApiLayerProperties, "xrEnumerateApiLayerProperties"},
    OpInfo {Op::EnumerateInstanceExtensionProperties, "xrEnumerateInstanceExtensionProperties"},
    OpInfo {Op::CreateInstance, "xrCreateInstance"},
    OpInfo {Op::DestroyInstance, "xrDestroyInstance"},
    OpInfo {Op::GetInstanceProperties, "xrGetInstanceProperties"},
    OpInfo {Op::ResultToString, "xrResultToString"},
    OpInfo {Op::StructureTypeToString, "xrStructureTypeToString"},
    OpInfo {Op::PollEvent, "xrPollEvent"},
    OpInfo {Op::GetSystem, "xrGetSystem"},
    OpInfo {Op::GetSystemProperties, "xrGetSystemProperties"},
    OpInfo {Op::StringToPath, "xrStringToPath"},
    OpInfo {Op::PathToString, "xrPathToString"},
    OpInfo {Op::GetReferenceSpaceBoundsRect, "xrGetReferenceSpaceBoundsRect"},
    OpInfo {Op::EnumerateReferenceSpaces, "xrEnumerateReferenceSpaces"},
    OpInfo {Op::CreateReferenceSpace, "xrCreateReferenceSpace"},
    OpInfo {Op::CreateActionSpace, "xrCreateActionSpace"},
    OpInfo {Op::DestroySpace, "xrDestroySpace"},
    OpInfo {Op::LocateSpace, "xrLocateSpace"},
    OpInfo {Op::EnumerateViewConfigurations, "xrEnumerateViewConfigurations"},
    OpInfo {Op::GetViewConfigurationProperties, "xrGetViewConfigurationProperties"},
    OpInfo {Op::EnumerateViewConfigurationViews, "xrEnumerateViewConfigurationViews"},
    OpInfo {Op::CreateSession, "xrCreateSession"},
    OpInfo {Op::DestroySession, "xrDestroySession"},
    OpInfo {Op::BeginSession, "xrBeginSession"},
    OpInfo {Op::EndSession, "xrEndSession"},
    OpInfo {Op::RequestExitSession, "xrRequestExitSession"},
    OpInfo {Op::EnumerateSwapchainFormats, "xrEnumerateSwapchainFormats"},
    OpInfo {Op::CreateSwapchain, "xrCreateSwapchain"},
    OpInfo {Op::DestroySwapchain, "xrDestroySwapchain"},
    OpInfo {Op::EnumerateSwapchainImages, "xrEnumerateSwapchainImages"},
    OpInfo {Op::AcquireSwapchainImage, "xrAcquireSwapchainImage"},
    OpInfo {Op::WaitSwapchainImage, "xrWaitSwapchainImage"},
    OpInfo {Op::ReleaseSwapchainImage, "xrReleaseSwapchainImage"},
    OpInfo {Op::LocateViews, "xrLocateViews"},
    OpInfo {Op::WaitFrame, "xrWaitFrame"},
    OpInfo {Op::BeginFrame, "xrBeginFrame"},
    OpInfo {Op::EndFrame, "xrEndFrame"},
    OpInfo {Op::EnumerateEnvironmentBlendModes, "xrEnumerateEnvironmentBlendModes"},
    OpInfo {Op::CreateActionSet, "xrCreateActionSet"},
    OpInfo {Op::DestroyActionSet, "xrDestroyActionSet"},
    OpInfo {Op::CreateAction, "xrCreateAction"},
    OpInfo {Op::DestroyAction, "xrDestroyAction"},
    OpInfo {Op::SuggestInteractionProfileBindings, "xrSuggestInteractionProfileBindings"},
    OpInfo {Op::AttachSessionActionSets, "xrAttachSessionActionSets"},
    OpInfo {Op::GetCurrentInteractionProfile, "xrGetCurrentInteractionProfile"},
    OpInfo {Op::GetActionStateBoolean, "xrGetActionStateBoolean"},
    OpInfo {Op::GetActionStateFloat, "xrGetActionStateFloat"},
    OpInfo {Op::GetActionStateVector2f, "xrGetActionStateVector2f"},
    OpInfo {Op::GetActionStatePose, "xrGetActionStatePose"},
    OpInfo {Op::ApplyHapticFeedback, "xrApplyHapticFeedback"},
    OpInfo {Op::StopHapticFeedback, "xrStopHapticFeedback"},
    OpInfo {Op::SyncActions, "xrSyncActions"},
    OpInfo {Op::EnumerateBoundSourcesForAction, "xrEnumerateBoundSourcesForAction"},
    OpInfo {Op::GetInputSourceLocalizedName, "xrGetInputSourceLocalizedName"},
    OpInfo {Op::GetD3D11GraphicsRequirementsKHR, "xrGetD3D11GraphicsRequirementsKHR"},
    OpInfo {Op::GetD3D12GraphicsRequirementsKHR, "xrGetD3D12GraphicsRequirementsKHR"},
};

constexpr bool Ascending() {
    for (size_t i = 1; i < kOperations.size(); ++i) {
        if (kOperations[i - 1].op >= kOperations[i].op) return false;
    }
    return true;
}
static_assert(Ascending(), "the lookup below relies on ascending codes");
}  // namespace

std::span<const OpInfo> AllOperations() { return kOperations; }

const OpInfo* FindOperation(uint32_t code) {
    const auto found = std::lower_bound(kOperations.begin(), kOperations.end(), code,
                                        [](const OpInfo& info, uint32_t c) { return static_cast<uint32_t>(info.op) < c; });
    return (found != kOperations.end() && static_cast<uint32_t>(found->op) == code) ? &*found : nullptr;
}

}  // namespace qor::protocol
