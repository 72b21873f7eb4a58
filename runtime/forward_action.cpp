// Forwarding of action sets, actions, bindings, action states and haptics.
#include "protocol/layouts.h"
#include "runtime/enumeration.h"
#include "runtime/forward.h"

#include <array>

namespace qor::runtime::forward {

using namespace protocol;

static_assert(sizeof(XrActionSuggestedBinding) == sizeof(ActionSubactionPair) &&
                  sizeof(XrActiveActionSet) == sizeof(ActionSubactionPair),
              "(handle, path) pairs are copied one by one below, but have the same shape");

namespace {
// Array arguments are bounded by the request size anyway; larger ones are never sent.
constexpr uint32_t kMaxPairs = kMaxRequestSize / sizeof(ActionSubactionPair);
}  // namespace

XrResult XRAPI_CALL xrCreateActionSet(XrInstance instance, const XrActionSetCreateInfo* createInfo,
                                      XrActionSet* actionSet) {
    if (!IsInput(createInfo, XR_TYPE_ACTION_SET_CREATE_INFO) || actionSet == nullptr) return XR_ERROR_VALIDATION_FAILURE;
    CreateActionSetRequest request;
    request.instance = HandleValue(instance);
    request.info = HeaderOf(*createInfo);
    request.actionSetName.Set(createInfo->actionSetName);
    request.localizedActionSetName.Set(createInfo->localizedActionSetName);
    request.priority = createInfo->priority;
    return SendForHandle(request, BodyRule::Success, actionSet);
}

XrResult XRAPI_CALL xrDestroyActionSet(XrActionSet actionSet) { return SendHandle<DestroyActionSetRequest>(actionSet); }

XrResult XRAPI_CALL xrCreateAction(XrActionSet actionSet, const XrActionCreateInfo* createInfo, XrAction* action) {
    if (!IsInput(createInfo, XR_TYPE_ACTION_CREATE_INFO) || action == nullptr ||
        (createInfo->countSubactionPaths != 0 && createInfo->subactionPaths == nullptr)) {
        return XR_ERROR_VALIDATION_FAILURE;
    }
    CreateActionRequest request;
    request.actionSet = HandleValue(actionSet);
    request.info = HeaderOf(*createInfo);
    request.actionName.Set(createInfo->actionName);
    request.actionType = static_cast<uint32_t>(createInfo->actionType);
    if (createInfo->countSubactionPaths > kMaxRequestSize / sizeof(uint64_t)) return XR_ERROR_RUNTIME_FAILURE;
    request.subactionPaths.items = std::span<const uint64_t>(createInfo->subactionPaths, createInfo->countSubactionPaths);
    request.localizedActionName.Set(createInfo->localizedActionName);
    return SendForHandle(request, BodyRule::Success, action);
}

XrResult XRAPI_CALL xrDestroyAction(XrAction action) { return SendHandle<DestroyActionRequest>(action); }

namespace {
// Copies (handle, path) pairs into `pairs`; false when they are too many to ever be sent.
template <typename Source, typename HandleOf, typename PathOf>
bool CopyPairs(const Source* source, uint32_t count, std::array<ActionSubactionPair, kMaxPairs>& pairs, HandleOf handle,
               PathOf path) {
    if (count > pairs.size()) return false;
    for (uint32_t i = 0; i < count; ++i) pairs[i] = {handle(source[i]), path(source[i])};
    return true;
}
}  // namespace

XrResult XRAPI_CALL xrSuggestInteractionProfileBindings(XrInstance instance,
                                                        const XrInteractionProfileSuggestedBinding* suggestedBindings) {
    if (!IsInput(suggestedBindings, XR_TYPE_INTERACTION_PROFILE_SUGGESTED_BINDING) ||
        (suggestedBindings->countSuggestedBindings != 0 && suggestedBindings->suggestedBindings == nullptr)) {
        return XR_ERROR_VALIDATION_FAILURE;
    }
    std::array<ActionSubactionPair, kMaxPairs> pairs;
    if (!CopyPairs(
            suggestedBindings->suggestedBindings, suggestedBindings->countSuggestedBindings, pairs,
            [](const XrActionSuggestedBinding& b) { return HandleValue(b.action); },
            [](const XrActionSuggestedBinding& b) { return b.binding; })) {
        return XR_ERROR_RUNTIME_FAILURE;
    }
    SuggestInteractionProfileBindingsRequest request;
    request.instance = HandleValue(instance);
    request.info = HeaderOf(*suggestedBindings);
    request.interactionProfile = suggestedBindings->interactionProfile;
    request.suggestedBindings.items =
        std::span<const ActionSubactionPair>(pairs.data(), suggestedBindings->countSuggestedBindings);
    return SendRequest(request);
}

XrResult XRAPI_CALL xrAttachSessionActionSets(XrSession session, const XrSessionActionSetsAttachInfo* attachInfo) {
    if (!IsInput(attachInfo, XR_TYPE_SESSION_ACTION_SETS_ATTACH_INFO) || attachInfo->countActionSets == 0 ||
        attachInfo->actionSets == nullptr) {
        return XR_ERROR_VALIDATION_FAILURE;
    }
    if (attachInfo->countActionSets > kMaxRequestSize / sizeof(uint64_t)) return XR_ERROR_RUNTIME_FAILURE;
    std::array<uint64_t, kMaxRequestSize / sizeof(uint64_t)> sets;
    for (uint32_t i = 0; i < attachInfo->countActionSets; ++i) sets[i] = HandleValue(attachInfo->actionSets[i]);
    AttachSessionActionSetsRequest request;
    request.session = HandleValue(session);
    request.info = HeaderOf(*attachInfo);
    request.actionSets.items = std::span<const uint64_t>(sets.data(), attachInfo->countActionSets);
    return SendRequest(request);
}

XrResult XRAPI_CALL xrGetCurrentInteractionProfile(XrSession session, XrPath topLevelUserPath,
                                                   XrInteractionProfileState* interactionProfile) {
    if (interactionProfile == nullptr) return XR_ERROR_VALIDATION_FAILURE;
    const GetCurrentInteractionProfileRequest request {HandleValue(session), topLevelUserPath};
    return SendAndRead(request, BodyRule::SuccessOrLossPending, [&](const auto& reply) {
        interactionProfile->type = static_cast<XrStructureType>(reply.header.type);
        interactionProfile->interactionProfile = reply.interactionProfile;
        return RecordIs(reply.header, XR_TYPE_INTERACTION_PROFILE_STATE);
    });
}

namespace {
template <typename Request>
Request StateRequest(XrSession session, const XrActionStateGetInfo& getInfo) {
    Request request;
    request.session = HandleValue(session);
    request.info = HeaderOf(getInfo);
    request.action = HandleValue(getInfo.action);
    request.subactionPath = getInfo.subactionPath;
    return request;
}

// The fields every action state but the pose has; the record must be of `expected` type.
template <typename State>
auto CopyState(State* state, XrStructureType expected) {
    return [state, expected](const auto& record) {
        state->currentState = record.currentState;
        state->changedSinceLastSync = record.changedSinceLastSync;
        state->lastChangeTime = record.lastChangeTime;
        state->isActive = record.isActive;
        return RecordIs(record.header, expected);
    };
}

// The float and vector states are checked, asked for and copied alike.
template <typename Request, typename State>
XrResult ForwardValueState(XrSession session, const XrActionStateGetInfo* getInfo, State* state,
                           XrStructureType expected) {
    if (!IsInput(getInfo, XR_TYPE_ACTION_STATE_GET_INFO) || state == nullptr || state->type != expected) {
        return XR_ERROR_VALIDATION_FAILURE;
    }
    return SendAndRead(StateRequest<Request>(session, *getInfo), BodyRule::AnySuccess, CopyState(state, expected));
}
}  // namespace

XrResult XRAPI_CALL xrGetActionStateBoolean(XrSession session, const XrActionStateGetInfo* getInfo,
                                            XrActionStateBoolean* state) {
    // This variant checks only its output structure.
    if (state == nullptr || state->type != XR_TYPE_ACTION_STATE_BOOLEAN) return XR_ERROR_VALIDATION_FAILURE;
    const XrActionStateGetInfo empty {XR_TYPE_ACTION_STATE_GET_INFO, nullptr, XR_NULL_HANDLE, XR_NULL_PATH};
    const auto request = StateRequest<GetActionStateBooleanRequest>(session, getInfo != nullptr ? *getInfo : empty);
    return SendAndRead(request, BodyRule::AnySuccess, CopyState(state, XR_TYPE_ACTION_STATE_BOOLEAN));
}

XrResult XRAPI_CALL xrGetActionStateFloat(XrSession session, const XrActionStateGetInfo* getInfo,
                                          XrActionStateFloat* state) {
    return ForwardValueState<GetActionStateFloatRequest>(session, getInfo, state, XR_TYPE_ACTION_STATE_FLOAT);
}

XrResult XRAPI_CALL xrGetActionStateVector2f(XrSession session, const XrActionStateGetInfo* getInfo,
                                             XrActionStateVector2f* state) {
    return ForwardValueState<GetActionStateVector2fRequest>(session, getInfo, state, XR_TYPE_ACTION_STATE_VECTOR2F);
}

XrResult XRAPI_CALL xrGetActionStatePose(XrSession session, const XrActionStateGetInfo* getInfo,
                                         XrActionStatePose* state) {
    if (!IsInput(getInfo, XR_TYPE_ACTION_STATE_GET_INFO) || state == nullptr || state->type != XR_TYPE_ACTION_STATE_POSE) {
        return XR_ERROR_VALIDATION_FAILURE;
    }
    const auto request = StateRequest<GetActionStatePoseRequest>(session, *getInfo);
    return SendAndRead(request, BodyRule::SuccessOrLossPending, [&](const auto& record) {
        state->isActive = record.isActive;
        return RecordIs(record.header, XR_TYPE_ACTION_STATE_POSE);
    });
}

XrResult XRAPI_CALL xrSyncActions(XrSession session, const XrActionsSyncInfo* syncInfo) {
    if (!IsInput(syncInfo, XR_TYPE_ACTIONS_SYNC_INFO) ||
        (syncInfo->countActiveActionSets != 0 && syncInfo->activeActionSets == nullptr)) {
        return XR_ERROR_VALIDATION_FAILURE;
    }
    std::array<ActionSubactionPair, kMaxPairs> pairs;
    if (!CopyPairs(
            syncInfo->activeActionSets, syncInfo->countActiveActionSets, pairs,
            [](const XrActiveActionSet& s) { return HandleValue(s.actionSet); },
            [](const XrActiveActionSet& s) { return s.subactionPath; })) {
        return XR_ERROR_RUNTIME_FAILURE;
    }
    SyncActionsRequest request;
    request.session = HandleValue(session);
    request.info = HeaderOf(*syncInfo);
    request.activeActionSets.items = std::span<const ActionSubactionPair>(pairs.data(), syncInfo->countActiveActionSets);
    return SendRequest(request);
}

XrResult XRAPI_CALL xrEnumerateBoundSourcesForAction(XrSession session,
                                                     const XrBoundSourcesForActionEnumerateInfo* enumerateInfo,
                                                     uint32_t capacity, uint32_t* count, XrPath* sources) {
    if (!IsInput(enumerateInfo, XR_TYPE_BOUND_SOURCES_FOR_ACTION_ENUMERATE_INFO) || count == nullptr ||
        (capacity != 0 && sources == nullptr)) {
        return XR_ERROR_VALIDATION_FAILURE;
    }
    const EnumerateBoundSourcesForActionRequest request {HandleValue(session), HeaderOf(*enumerateInfo),
                                                         HandleValue(enumerateInfo->action), capacity};
    return ForwardEnumeration(request, BodyRule::SuccessOrLossPending, CountRule::WithBody, capacity, count, sources,
                              CopyValue<XrPath>());
}

XrResult XRAPI_CALL xrGetInputSourceLocalizedName(XrSession session, const XrInputSourceLocalizedNameGetInfo* getInfo,
                                                  uint32_t capacity, uint32_t* count, char* buffer) {
    if (!IsInput(getInfo, XR_TYPE_INPUT_SOURCE_LOCALIZED_NAME_GET_INFO) || count == nullptr ||
        (capacity != 0 && buffer == nullptr)) {
        return XR_ERROR_VALIDATION_FAILURE;
    }
    const GetInputSourceLocalizedNameRequest request {HandleValue(session), HeaderOf(*getInfo), getInfo->sourcePath,
                                                      getInfo->whichComponents, capacity};
    return SendAndRead(request, BodyRule::SuccessOrLossPending,
                       [&](const auto& reply) { CopyCountedString(reply, capacity, count, buffer); });
}

XrResult XRAPI_CALL xrApplyHapticFeedback(XrSession session, const XrHapticActionInfo* hapticActionInfo,
                                          const XrHapticBaseHeader* hapticFeedback) {
    if (!IsInput(hapticActionInfo, XR_TYPE_HAPTIC_ACTION_INFO) || !IsInput(hapticFeedback, XR_TYPE_HAPTIC_VIBRATION)) {
        return XR_ERROR_VALIDATION_FAILURE;
    }
    return SendRequest(ApplyHapticFeedbackRequest {HandleValue(session), HeaderOf(*hapticActionInfo),
                                                   HandleValue(hapticActionInfo->action),
                                                   hapticActionInfo->subactionPath, HeaderOf(*hapticFeedback)});
}

XrResult XRAPI_CALL xrStopHapticFeedback(XrSession session, const XrHapticActionInfo* hapticActionInfo) {
    if (!IsInput(hapticActionInfo, XR_TYPE_HAPTIC_ACTION_INFO)) return XR_ERROR_VALIDATION_FAILURE;
    StopHapticFeedbackRequest request;
    request.session = HandleValue(session);
    request.info = HeaderOf(*hapticActionInfo);
    request.action = HandleValue(hapticActionInfo->action);
    request.subactionPath = hapticActionInfo->subactionPath;
    return SendRequest(request);
}

}  // namespace qor::runtime::forward
