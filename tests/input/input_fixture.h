// Shared ground of the path and action tests: a focused session of a real ServiceState, whose
// input components a test binds and feeds as a driver does, through IQorInputDevice.
#pragma once

#include "tests/session/session_fixture.h"

#include <cmath>
#include <string>

namespace qor::test {

class InputFixture : public SessionFixture {
protected:
    void SetUp() override {
        SessionFixture::SetUp();
        instance_ = CreateInstance();
    }

    IQorInputDevice& Driver() { return state_.drivers.Context().InputDevice(); }
    // Binds the component as a driver does and returns its handle (0 when it does not exist).
    uint64_t Bind(const std::string& fullPath) {
        uint64_t handle = 0;
        Driver().BindComponent(0, fullPath.c_str(), &handle, 0);
        return handle;
    }

    XrResult PathOf(const std::string& text, uint64_t* path, uint64_t instance = 0) {
        StringToPathRequest request;
        request.instance = instance != 0 ? instance : instance_;
        request.path.text = text;
        XrResult result;
        const auto reply = Reply(request, &result);
        *path = result == XR_SUCCESS ? HandleOf(reply) : 0;
        return result;
    }
    uint64_t Path(const std::string& text) {
        uint64_t path = 0;
        EXPECT_EQ(PathOf(text, &path), XR_SUCCESS) << text;
        return path;
    }

    XrResult CreateSet(const char* name, const char* localized, uint64_t* handle, uint64_t instance = 0) {
        CreateActionSetRequest request;
        request.instance = instance != 0 ? instance : instance_;
        request.info.type = XR_TYPE_ACTION_SET_CREATE_INFO;
        std::snprintf(request.actionSetName.text.data(), request.actionSetName.text.size(), "%s", name);
        std::snprintf(request.localizedActionSetName.text.data(), request.localizedActionSetName.text.size(), "%s", localized);
        XrResult result;
        const auto reply = Reply(request, &result);
        *handle = result == XR_SUCCESS ? HandleOf(reply) : 0;
        return result;
    }
    uint64_t Set(const char* name = "game") {
        uint64_t handle = 0;
        EXPECT_EQ(CreateSet(name, name, &handle), XR_SUCCESS);
        return handle;
    }

    XrResult CreateAction(uint64_t set, const char* name, XrActionType type, std::vector<uint64_t> subactions,
                          uint64_t* handle, const char* localized = nullptr) {
        CreateActionRequest request;
        request.actionSet = set;
        request.info.type = XR_TYPE_ACTION_CREATE_INFO;
        std::snprintf(request.actionName.text.data(), request.actionName.text.size(), "%s", name);
        request.actionType = type;
        request.subactionPaths.storage = std::move(subactions);
        request.subactionPaths.items = request.subactionPaths.storage;
        std::snprintf(request.localizedActionName.text.data(), request.localizedActionName.text.size(), "%s",
                      localized != nullptr ? localized : name);
        XrResult result;
        const auto reply = Reply(request, &result);
        *handle = result == XR_SUCCESS ? HandleOf(reply) : 0;
        return result;
    }
    uint64_t Action(uint64_t set, const char* name, XrActionType type, std::vector<uint64_t> subactions = {}) {
        uint64_t handle = 0;
        EXPECT_EQ(CreateAction(set, name, type, std::move(subactions), &handle), XR_SUCCESS);
        return handle;
    }

    XrResult Suggest(const std::string& profile, const std::vector<std::pair<uint64_t, std::string>>& bindings) {
        SuggestInteractionProfileBindingsRequest request;
        request.instance = instance_;
        request.info.type = XR_TYPE_INTERACTION_PROFILE_SUGGESTED_BINDING;
        request.interactionProfile = Path(profile);
        for (const auto& [action, path] : bindings) request.suggestedBindings.storage.push_back({action, Path(path)});
        request.suggestedBindings.items = request.suggestedBindings.storage;
        return Send(request);
    }

    XrResult Attach(uint64_t session, std::vector<uint64_t> sets) {
        AttachSessionActionSetsRequest request;
        request.session = session;
        request.info.type = XR_TYPE_SESSION_ACTION_SETS_ATTACH_INFO;
        request.actionSets.storage = std::move(sets);
        request.actionSets.items = request.actionSets.storage;
        return Send(request);
    }

    XrResult Sync(uint64_t session, std::vector<ActionSubactionPair> sets) {
        SyncActionsRequest request;
        request.session = session;
        request.info.type = XR_TYPE_ACTIONS_SYNC_INFO;
        request.activeActionSets.storage = std::move(sets);
        request.activeActionSets.items = request.activeActionSets.storage;
        return Send(request);
    }

    template <typename Record, typename Request>
    XrResult GetState(uint64_t session, uint64_t action, uint64_t subaction, Record* record) {
        Request request;
        request.session = session;
        request.info.type = XR_TYPE_ACTION_STATE_GET_INFO;
        request.action = action;
        request.subactionPath = subaction;
        XrResult result;
        const auto reply = Reply(request, &result);
        *record = Record {};
        if (result == XR_SUCCESS) {
            EXPECT_TRUE(DecodeReply(reply.data(), reply.size(), record));
        }
        return result;
    }
    ActionStateFloatRecord FloatState(uint64_t session, uint64_t action, uint64_t subaction = 0) {
        ActionStateFloatRecord record;
        EXPECT_EQ((GetState<ActionStateFloatRecord, GetActionStateFloatRequest>(session, action, subaction, &record)),
                  XR_SUCCESS);
        return record;
    }
    ActionStateBooleanRecord BooleanState(uint64_t session, uint64_t action, uint64_t subaction = 0) {
        ActionStateBooleanRecord record;
        EXPECT_EQ((GetState<ActionStateBooleanRecord, GetActionStateBooleanRequest>(session, action, subaction, &record)),
                  XR_SUCCESS);
        return record;
    }
    ActionStateVector2fRecord VectorState(uint64_t session, uint64_t action, uint64_t subaction = 0) {
        ActionStateVector2fRecord record;
        EXPECT_EQ((GetState<ActionStateVector2fRecord, GetActionStateVector2fRequest>(session, action, subaction, &record)),
                  XR_SUCCESS);
        return record;
    }

    uint64_t instance_ = 0;
};

}  // namespace qor::test
