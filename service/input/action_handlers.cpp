// Paths and actions: each handler finds the caller's own records (another process's handle is
// unknown to it) and leaves the rest to the action system.
#include "service/input/actions.h"
#include "service/server/handlers.h"
#include "service/server/ownership.h"
#include "service/server/service_state.h"

#include <cstring>
#include <string>
#include <vector>

namespace qor {

using namespace protocol;

namespace {

// The session when the caller owns it.
XrResult FindSession(const Caller& caller, uint64_t handle, input::SessionRef* ref,
                     std::shared_ptr<Session>* record = nullptr) {
    auto session = OwnedOnly(caller, caller.state.sessions.Find(handle));
    if (!session) return XR_ERROR_HANDLE_INVALID;
    *ref = {session->handle, session->instance, session->ownerProcess};
    if (record != nullptr) *record = std::move(session);
    return XR_SUCCESS;
}

bool IsFocused(Session& session) {
    std::lock_guard lock(session.stateLock);
    return session.state == XR_SESSION_STATE_FOCUSED;
}

// A counted string by the two-call rule: the count always, the text when the capacity holds it.
XrResult AnswerText(Reply& reply, uint32_t capacity, std::string_view text) {
    CountedStringReply answer;
    answer.text.length = static_cast<uint32_t>(text.size() + 1);
    if (capacity != 0 && capacity < answer.text.length) {
        reply.Encode(answer);
        return XR_ERROR_SIZE_INSUFFICIENT;
    }
    if (capacity != 0) {
        answer.text.text = text;
        answer.text.withText = true;
    }
    return reply.Encode(answer) ? XR_SUCCESS : XR_ERROR_RUNTIME_FAILURE;
}

template <typename Record, typename Fill>
XrResult AnswerState(const Caller& caller, const ActionStateGetInfo& message, XrActionType type,
                     XrStructureType recordType, Reply& reply, Fill fill) {
    input::SessionRef session;
    std::shared_ptr<Session> owner;
    if (const XrResult found = FindSession(caller, message.session, &session, &owner); XR_FAILED(found)) return found;
    input::ActionState state;
    if (const XrResult result = caller.state.actions.State(session, message.action, message.subactionPath, type, &state);
        XR_FAILED(result)) {
        return result;
    }
    // Input goes only to the focused session; every other session sees its actions inactive.
    if (!IsFocused(*owner)) state = input::ActionState {};
    Record record;
    record.header = {static_cast<uint32_t>(recordType), 0};
    fill(record, state);
    return reply.Encode(record) ? XR_SUCCESS : XR_ERROR_RUNTIME_FAILURE;
}

template <typename Record>
void FillFlags(Record& record, const input::ActionState& state) {
    record.changedSinceLastSync = state.changed;
    record.lastChangeTime = state.lastChangeTime;
    record.isActive = state.isActive;
}

}  // namespace

XrResult HandleStringToPath(const Caller& caller, const StringToPathRequest& message, Reply& reply) {
    uint64_t path = XR_NULL_PATH;
    const XrResult result =
        caller.state.actions.StringToPath(message.instance, caller.client.ProcessId(), message.path.text, &path);
    if (XR_FAILED(result)) return result;
    return reply.Encode(HandleReply {path}) ? XR_SUCCESS : XR_ERROR_RUNTIME_FAILURE;
}

XrResult HandlePathToString(const Caller& caller, const PathToStringRequest& message, Reply& reply) {
    std::string text;
    const XrResult result = caller.state.actions.PathToString(message.instance, caller.client.ProcessId(), message.path, &text);
    if (XR_FAILED(result)) return result;
    return AnswerText(reply, message.capacity, text);
}

XrResult HandleCreateActionSet(const Caller& caller, const CreateActionSetRequest& message, Reply& reply) {
    if (message.info.type != XR_TYPE_ACTION_SET_CREATE_INFO) return XR_ERROR_VALIDATION_FAILURE;
    uint64_t handle = 0;
    const XrResult result = caller.state.actions.CreateActionSet(
        message.instance, caller.client.ProcessId(), message.actionSetName.View(),
        message.localizedActionSetName.View(), message.priority, &handle);
    if (XR_FAILED(result)) return result;
    return reply.Encode(HandleReply {handle}) ? XR_SUCCESS : XR_ERROR_RUNTIME_FAILURE;
}

XrResult HandleDestroyActionSet(const Caller& caller, const DestroyActionSetRequest& message, Reply&) {
    return caller.state.actions.DestroyActionSet(message.handle, caller.client.ProcessId());
}

XrResult HandleCreateAction(const Caller& caller, const CreateActionRequest& message, Reply& reply) {
    if (message.info.type != XR_TYPE_ACTION_CREATE_INFO) return XR_ERROR_VALIDATION_FAILURE;
    uint64_t handle = 0;
    const XrResult result = caller.state.actions.CreateAction(
        message.actionSet, caller.client.ProcessId(), message.actionName.View(), message.actionType,
        message.subactionPaths.items, message.localizedActionName.View(), &handle);
    if (XR_FAILED(result)) return result;
    return reply.Encode(HandleReply {handle}) ? XR_SUCCESS : XR_ERROR_RUNTIME_FAILURE;
}

XrResult HandleDestroyAction(const Caller& caller, const DestroyActionRequest& message, Reply&) {
    return caller.state.actions.DestroyAction(message.handle, caller.client.ProcessId());
}

XrResult HandleSuggestInteractionProfileBindings(const Caller& caller, const SuggestInteractionProfileBindingsRequest& message,
                                                 Reply&) {
    if (const XrResult found = FindOwnedInstance(caller, message.instance, XR_ERROR_HANDLE_INVALID); XR_FAILED(found)) {
        return found;
    }
    if (message.info.type != XR_TYPE_INTERACTION_PROFILE_SUGGESTED_BINDING) return XR_ERROR_VALIDATION_FAILURE;
    return caller.state.actions.SuggestBindings(message.instance, caller.client.ProcessId(), message.interactionProfile,
                                                message.suggestedBindings.items);
}

XrResult HandleAttachSessionActionSets(const Caller& caller, const AttachSessionActionSetsRequest& message, Reply&) {
    input::SessionRef session;
    std::shared_ptr<Session> record;
    if (const XrResult found = FindSession(caller, message.session, &session, &record); XR_FAILED(found)) return found;
    if (message.info.type != XR_TYPE_SESSION_ACTION_SETS_ATTACH_INFO) return XR_ERROR_VALIDATION_FAILURE;
    const XrResult result = caller.state.actions.Attach(session, message.actionSets.items);
    // A session destroyed meanwhile on another thread may have been dropped before this
    // attachment was entered: drop it again so nothing of it stays.
    if (record->removed.load()) caller.state.actions.RemoveSession(session.handle);
    // The profiles were chosen at suggestion time; applications learn of them from this event.
    if (result == XR_SUCCESS && caller.state.actions.HasCurrentProfile(session.instance)) {
        if (const auto instance = record->instanceRecord.lock()) {
            XrEventDataInteractionProfileChanged event {XR_TYPE_EVENT_DATA_INTERACTION_PROFILE_CHANGED};
            static_assert(sizeof event.session == sizeof session.handle);
            std::memcpy(&event.session, &session.handle, sizeof session.handle);
            QueueEvent(*instance, &event, sizeof event);
        }
    }
    return result;
}

XrResult HandleGetCurrentInteractionProfile(const Caller& caller, const GetCurrentInteractionProfileRequest& message,
                                            Reply& reply) {
    input::SessionRef session;
    if (const XrResult found = FindSession(caller, message.session, &session); XR_FAILED(found)) return found;
    InteractionProfileStateRecord record;
    record.header = {XR_TYPE_INTERACTION_PROFILE_STATE, 0};
    const XrResult result = caller.state.actions.CurrentProfile(session, message.topLevelUserPath, &record.interactionProfile);
    if (XR_FAILED(result)) return result;
    return reply.Encode(record) ? XR_SUCCESS : XR_ERROR_RUNTIME_FAILURE;
}

XrResult HandleGetActionStateBoolean(const Caller& caller, const GetActionStateBooleanRequest& message, Reply& reply) {
    return AnswerState<ActionStateBooleanRecord>(caller, message, XR_ACTION_TYPE_BOOLEAN_INPUT, XR_TYPE_ACTION_STATE_BOOLEAN,
                                                 reply, [](auto& record, const input::ActionState& state) {
                                                     record.currentState = state.boolean;
                                                     FillFlags(record, state);
                                                 });
}

XrResult HandleGetActionStateFloat(const Caller& caller, const GetActionStateFloatRequest& message, Reply& reply) {
    return AnswerState<ActionStateFloatRecord>(caller, message, XR_ACTION_TYPE_FLOAT_INPUT, XR_TYPE_ACTION_STATE_FLOAT,
                                               reply, [](auto& record, const input::ActionState& state) {
                                                   record.currentState = state.scalar;
                                                   FillFlags(record, state);
                                               });
}

XrResult HandleGetActionStateVector2f(const Caller& caller, const GetActionStateVector2fRequest& message, Reply& reply) {
    return AnswerState<ActionStateVector2fRecord>(caller, message, XR_ACTION_TYPE_VECTOR2F_INPUT,
                                                  XR_TYPE_ACTION_STATE_VECTOR2F, reply,
                                                  [](auto& record, const input::ActionState& state) {
                                                      record.currentState = state.vector;
                                                      FillFlags(record, state);
                                                  });
}

XrResult HandleGetActionStatePose(const Caller& caller, const GetActionStatePoseRequest& message, Reply& reply) {
    return AnswerState<ActionStatePoseRecord>(caller, message, XR_ACTION_TYPE_POSE_INPUT, XR_TYPE_ACTION_STATE_POSE, reply,
                                              [](auto& record, const input::ActionState& state) {
                                                  record.isActive = state.isActive;
                                              });
}

XrResult HandleApplyHapticFeedback(const Caller& caller, const ApplyHapticFeedbackRequest& message, Reply&) {
    input::SessionRef session;
    if (const XrResult found = FindSession(caller, message.session, &session); XR_FAILED(found)) return found;
    // No driver takes vibrations: the checks are all there is.
    return caller.state.actions.CheckHaptic(session, message.action, message.subactionPath);
}

XrResult HandleStopHapticFeedback(const Caller& caller, const StopHapticFeedbackRequest& message, Reply&) {
    input::SessionRef session;
    if (const XrResult found = FindSession(caller, message.session, &session); XR_FAILED(found)) return found;
    return caller.state.actions.CheckHaptic(session, message.action, message.subactionPath);
}

XrResult HandleSyncActions(const Caller& caller, const SyncActionsRequest& message, Reply&) {
    input::SessionRef session;
    std::shared_ptr<Session> record;
    if (const XrResult found = FindSession(caller, message.session, &session, &record); XR_FAILED(found)) return found;
    if (const XrResult result = caller.state.actions.Sync(session, message.activeActionSets.items); XR_FAILED(result)) {
        return result;
    }
    return IsFocused(*record) ? XR_SUCCESS : XR_SESSION_NOT_FOCUSED;
}

XrResult HandleEnumerateBoundSourcesForAction(const Caller& caller, const EnumerateBoundSourcesForActionRequest& message,
                                              Reply& reply) {
    input::SessionRef session;
    if (const XrResult found = FindSession(caller, message.session, &session); XR_FAILED(found)) return found;
    std::vector<uint64_t> sources;
    if (const XrResult result = caller.state.actions.BoundSources(session, message.action, &sources); XR_FAILED(result)) {
        return result;
    }
    return AnswerEnumeration(reply, message.capacity, std::span<const uint64_t>(sources));
}

XrResult HandleGetInputSourceLocalizedName(const Caller& caller, const GetInputSourceLocalizedNameRequest& message,
                                           Reply& reply) {
    input::SessionRef session;
    if (const XrResult found = FindSession(caller, message.session, &session); XR_FAILED(found)) return found;
    std::string name;
    if (const XrResult result = caller.state.actions.LocalizedName(session, message.sourcePath, message.whichComponents, &name);
        XR_FAILED(result)) {
        return result;
    }
    return AnswerText(reply, message.capacity, name);
}

}  // namespace qor
