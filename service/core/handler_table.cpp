// One row per operation the dispatcher hands to a handler. Operations whose handlers are not
// built yet answer XR_ERROR_RUNTIME_FAILURE, so a runtime library sees a clean failure.
#include "protocol/op_codes.h"
#include "service/core/core_handlers.h"
#include "service/core/qor_server.h"
#include "service/session/session_handlers.h"

#include <array>

namespace qor {

namespace {
using protocol::Op;

XrResult NotAvailable(const Caller&, const uint8_t*, uint32_t, uint8_t*, uint32_t*) { return XR_ERROR_RUNTIME_FAILURE; }

constexpr HandlerEntry Row(Op op, OperationHandler handler) { return HandlerEntry {static_cast<uint32_t>(op), handler}; }

constexpr std::array kHandlers = {
    Row(Op::EnumerateInstanceExtensionProperties, HandleEnumerateInstanceExtensionProperties),
    Row(Op::CreateInstance, HandleCreateInstance),
    Row(Op::DestroyInstance, HandleDestroyInstance),
    Row(Op::GetInstanceProperties, HandleGetInstanceProperties),
    Row(Op::ResultToString, HandleResultToString),
    Row(Op::StructureTypeToString, HandleStructureTypeToString),
    Row(Op::PollEvent, HandlePollEvent),
    Row(Op::GetSystem, HandleGetSystem),
    Row(Op::GetSystemProperties, HandleGetSystemProperties),
    Row(Op::StringToPath, NotAvailable),
    Row(Op::PathToString, NotAvailable),
    Row(Op::GetReferenceSpaceBoundsRect, HandleGetReferenceSpaceBoundsRect),
    Row(Op::EnumerateReferenceSpaces, HandleEnumerateReferenceSpaces),
    Row(Op::CreateReferenceSpace, HandleCreateReferenceSpace),
    Row(Op::CreateActionSpace, HandleCreateActionSpace),
    Row(Op::DestroySpace, HandleDestroySpace),
    Row(Op::LocateSpace, HandleLocateSpace),
    Row(Op::EnumerateViewConfigurations, HandleEnumerateViewConfigurations),
    Row(Op::GetViewConfigurationProperties, HandleGetViewConfigurationProperties),
    Row(Op::EnumerateViewConfigurationViews, HandleEnumerateViewConfigurationViews),
    Row(Op::CreateSession, HandleCreateSession),
    Row(Op::DestroySession, HandleDestroySession),
    Row(Op::BeginSession, HandleBeginSession),
    Row(Op::EndSession, HandleEndSession),
    Row(Op::RequestExitSession, HandleRequestExitSession),
    Row(Op::EnumerateSwapchainFormats, HandleEnumerateSwapchainFormats),
    Row(Op::CreateSwapchain, HandleCreateSwapchain),
    Row(Op::DestroySwapchain, HandleDestroySwapchain),
    Row(Op::EnumerateSwapchainImages, HandleEnumerateSwapchainImages),
    Row(Op::AcquireSwapchainImage, HandleAcquireSwapchainImage),
    Row(Op::WaitSwapchainImage, HandleWaitSwapchainImage),
    Row(Op::ReleaseSwapchainImage, HandleReleaseSwapchainImage),
    Row(Op::LocateViews, HandleLocateViews),
    Row(Op::WaitFrame, HandleWaitFrame),
    Row(Op::BeginFrame, HandleBeginFrame),
    Row(Op::EndFrame, HandleEndFrame),
    Row(Op::EnumerateEnvironmentBlendModes, HandleEnumerateEnvironmentBlendModes),
    Row(Op::CreateActionSet, NotAvailable),
    Row(Op::DestroyActionSet, NotAvailable),
    Row(Op::CreateAction, NotAvailable),
    Row(Op::DestroyAction, NotAvailable),
    Row(Op::SuggestInteractionProfileBindings, NotAvailable),
    Row(Op::AttachSessionActionSets, NotAvailable),
    Row(Op::GetCurrentInteractionProfile, NotAvailable),
    Row(Op::GetActionStateBoolean, NotAvailable),
    Row(Op::GetActionStateFloat, NotAvailable),
    Row(Op::GetActionStateVector2f, NotAvailable),
    Row(Op::GetActionStatePose, NotAvailable),
    Row(Op::ApplyHapticFeedback, NotAvailable),
    Row(Op::StopHapticFeedback, NotAvailable),
    Row(Op::SyncActions, NotAvailable),
    Row(Op::EnumerateBoundSourcesForAction, NotAvailable),
    Row(Op::GetInputSourceLocalizedName, NotAvailable),
    Row(Op::GetD3D11GraphicsRequirementsKHR, HandleGetD3D11GraphicsRequirements),
    Row(Op::GetD3D12GraphicsRequirementsKHR, HandleGetD3D12GraphicsRequirements),
};

constexpr bool Ascending() {
    for (size_t i = 1; i < kHandlers.size(); ++i) {
        if (kHandlers[i - 1].code >= kHandlers[i].code) return false;
    }
    return true;
}
static_assert(Ascending(), "the dispatcher searches this table by code");
}  // namespace

std::span<const HandlerEntry> HandlerTable() { return kHandlers; }

}  // namespace qor
