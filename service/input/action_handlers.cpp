// Paths and actions: until the action system is built, each of these calls answers
// XR_ERROR_RUNTIME_FAILURE, so a runtime library sees a clean failure.
#include "service/server/handlers.h"

namespace qor {

using namespace protocol;

XrResult HandleStringToPath(const Caller&, const StringToPathRequest&, Reply&) { return XR_ERROR_RUNTIME_FAILURE; }
XrResult HandlePathToString(const Caller&, const PathToStringRequest&, Reply&) { return XR_ERROR_RUNTIME_FAILURE; }
XrResult HandleCreateActionSet(const Caller&, const CreateActionSetRequest&, Reply&) { return XR_ERROR_RUNTIME_FAILURE; }
XrResult HandleDestroyActionSet(const Caller&, const DestroyActionSetRequest&, Reply&) { return XR_ERROR_RUNTIME_FAILURE; }
XrResult HandleCreateAction(const Caller&, const CreateActionRequest&, Reply&) { return XR_ERROR_RUNTIME_FAILURE; }
XrResult HandleDestroyAction(const Caller&, const DestroyActionRequest&, Reply&) { return XR_ERROR_RUNTIME_FAILURE; }
XrResult HandleSuggestInteractionProfileBindings(const Caller&, const SuggestInteractionProfileBindingsRequest&, Reply&) { return XR_ERROR_RUNTIME_FAILURE; }
XrResult HandleAttachSessionActionSets(const Caller&, const AttachSessionActionSetsRequest&, Reply&) { return XR_ERROR_RUNTIME_FAILURE; }
XrResult HandleGetCurrentInteractionProfile(const Caller&, const GetCurrentInteractionProfileRequest&, Reply&) { return XR_ERROR_RUNTIME_FAILURE; }
XrResult HandleGetActionStateBoolean(const Caller&, const GetActionStateBooleanRequest&, Reply&) { return XR_ERROR_RUNTIME_FAILURE; }
XrResult HandleGetActionStateFloat(const Caller&, const GetActionStateFloatRequest&, Reply&) { return XR_ERROR_RUNTIME_FAILURE; }
XrResult HandleGetActionStateVector2f(const Caller&, const GetActionStateVector2fRequest&, Reply&) { return XR_ERROR_RUNTIME_FAILURE; }
XrResult HandleGetActionStatePose(const Caller&, const GetActionStatePoseRequest&, Reply&) { return XR_ERROR_RUNTIME_FAILURE; }
XrResult HandleApplyHapticFeedback(const Caller&, const ApplyHapticFeedbackRequest&, Reply&) { return XR_ERROR_RUNTIME_FAILURE; }
XrResult HandleStopHapticFeedback(const Caller&, const StopHapticFeedbackRequest&, Reply&) { return XR_ERROR_RUNTIME_FAILURE; }
XrResult HandleSyncActions(const Caller&, const SyncActionsRequest&, Reply&) { return XR_ERROR_RUNTIME_FAILURE; }
XrResult HandleEnumerateBoundSourcesForAction(const Caller&, const EnumerateBoundSourcesForActionRequest&, Reply&) { return XR_ERROR_RUNTIME_FAILURE; }
XrResult HandleGetInputSourceLocalizedName(const Caller&, const GetInputSourceLocalizedNameRequest&, Reply&) { return XR_ERROR_RUNTIME_FAILURE; }

}  // namespace qor
