// Action sets, actions, suggested bindings, attachment, synchronisation and the state queries,
// through the dispatcher, with components fed as a driver feeds them.
#include "service/input/actions.h"
#include "tests/input/input_fixture.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace qor::test {
namespace {

constexpr const char* kSimple = "/interaction_profiles/khr/simple_controller";
constexpr const char* kVive = "/interaction_profiles/htc/vive_controller";
constexpr const char* kIndex = "/interaction_profiles/valve/index_controller";

using ActionSetsTest = InputFixture;

TEST_F(ActionSetsTest, SetNamesAreCheckedAndUniquePerInstance) {
    uint64_t handle = 0;
    ASSERT_EQ(CreateSet("game", "Game", &handle), XR_SUCCESS);
    const std::string longest(63, 'a');
    const struct {
        std::string name;
        const char* localized;
        XrResult expected;
    } cases[] = {
        {"", "Empty", XR_ERROR_NAME_INVALID},
        {"Game2", "Upper", XR_ERROR_PATH_FORMAT_INVALID},
        {"with space", "Space", XR_ERROR_PATH_FORMAT_INVALID},
        {"menu", "", XR_ERROR_LOCALIZED_NAME_INVALID},
        {"game", "Other", XR_ERROR_NAME_DUPLICATED},
        {"other", "Game", XR_ERROR_LOCALIZED_NAME_DUPLICATED},
        {longest, "Longest", XR_SUCCESS},
        {"menu", "Menu", XR_SUCCESS},
    };
    for (const auto& c : cases) EXPECT_EQ(CreateSet(c.name.c_str(), c.localized, &handle), c.expected) << c.name;
    // Another instance has names of its own.
    EXPECT_EQ(CreateSet("game", "Game", &handle, CreateInstance("other")), XR_SUCCESS);
    EXPECT_EQ(CreateSet("x", "X", &handle, 0x1234), XR_ERROR_HANDLE_INVALID);
}

TEST_F(ActionSetsTest, ActionNamesSubactionsAndTypesAreChecked) {
    const uint64_t set = Set();
    const uint64_t left = Path("/user/hand/left");
    const uint64_t right = Path("/user/hand/right");
    const uint64_t other = Path("/user/foot");
    uint64_t handle = 0;
    ASSERT_EQ(CreateAction(set, "fire", XR_ACTION_TYPE_BOOLEAN_INPUT, {left, right}, &handle), XR_SUCCESS);
    const struct {
        uint64_t set;
        const char* name;
        XrActionType type;
        std::vector<uint64_t> subactions;
        const char* localized;
        XrResult expected;
    } cases[] = {
        {0x99, "a", XR_ACTION_TYPE_BOOLEAN_INPUT, {}, "A", XR_ERROR_HANDLE_INVALID},
        {set, "", XR_ACTION_TYPE_BOOLEAN_INPUT, {}, "A", XR_ERROR_NAME_INVALID},
        {set, "a", XR_ACTION_TYPE_BOOLEAN_INPUT, {other}, "A", XR_ERROR_PATH_UNSUPPORTED},
        {set, "a", XR_ACTION_TYPE_BOOLEAN_INPUT, {left, left}, "A", XR_ERROR_PATH_UNSUPPORTED},
        {set, "a", XR_ACTION_TYPE_BOOLEAN_INPUT, {}, "", XR_ERROR_LOCALIZED_NAME_INVALID},
        {set, "A", XR_ACTION_TYPE_BOOLEAN_INPUT, {}, "A", XR_ERROR_PATH_FORMAT_INVALID},
        {set, "a", static_cast<XrActionType>(7), {}, "A", XR_ERROR_VALIDATION_FAILURE},
        {set, "fire", XR_ACTION_TYPE_BOOLEAN_INPUT, {}, "Other", XR_ERROR_NAME_DUPLICATED},
        {set, "shoot", XR_ACTION_TYPE_BOOLEAN_INPUT, {}, "fire", XR_ERROR_LOCALIZED_NAME_DUPLICATED},
        {set, "fire", XR_ACTION_TYPE_FLOAT_INPUT, {}, "Fire", XR_ERROR_NAME_DUPLICATED},
        {set, "aim", XR_ACTION_TYPE_POSE_INPUT, {}, "fire", XR_ERROR_LOCALIZED_NAME_DUPLICATED},
        {set, "aim", XR_ACTION_TYPE_POSE_INPUT, {}, "Aim", XR_SUCCESS},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CreateAction(c.set, c.name, c.type, c.subactions, &handle, c.localized), c.expected) << c.name;
    }
}

TEST_F(ActionSetsTest, DestroyedSetsTakeTheirActionsAndInstancesTakeEverything) {
    const uint64_t set = Set();
    const uint64_t action = Action(set, "fire", XR_ACTION_TYPE_BOOLEAN_INPUT);
    EXPECT_EQ(Send(DestroyActionRequest {{0x77}}), XR_ERROR_HANDLE_INVALID);
    ASSERT_EQ(Send(DestroyActionSetRequest {{set}}), XR_SUCCESS);
    EXPECT_EQ(Send(DestroyActionRequest {{action}}), XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(Send(DestroyActionSetRequest {{set}}), XR_ERROR_HANDLE_INVALID);
    // The name is free again.
    const uint64_t again = Set();
    const uint64_t kept = Action(again, "fire", XR_ACTION_TYPE_BOOLEAN_INPUT);
    ASSERT_EQ(Send(DestroyInstanceRequest {{instance_}}), XR_SUCCESS);
    instances_.clear();
    EXPECT_EQ(Send(DestroyActionRequest {{kept}}), XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(Send(DestroyActionSetRequest {{again}}), XR_ERROR_HANDLE_INVALID);
}

TEST_F(ActionSetsTest, ActionSetsPerInstanceAreBounded) {
    uint64_t handle = 0;
    uint64_t last = 0;
    for (size_t i = 0; i < input::kMaxActionSetsPerInstance; ++i) {
        const std::string name = "s" + std::to_string(i);
        ASSERT_EQ(CreateSet(name.c_str(), name.c_str(), &last), XR_SUCCESS);
    }
    EXPECT_EQ(CreateSet("last", "last", &handle), XR_ERROR_LIMIT_REACHED);
    ASSERT_EQ(Send(DestroyActionSetRequest {{last}}), XR_SUCCESS);
    EXPECT_EQ(CreateSet("last", "last", &handle), XR_SUCCESS);
}

using BindingsTest = InputFixture;

TEST_F(BindingsTest, SuggestionsAreValidatedBeforeAnythingChanges) {
    const uint64_t set = Set();
    const uint64_t fire = Action(set, "fire", XR_ACTION_TYPE_BOOLEAN_INPUT);
    const uint64_t attached = Action(Set("other"), "x", XR_ACTION_TYPE_BOOLEAN_INPUT);
    const uint64_t session = CreateSession(instance_);
    ASSERT_EQ(Attach(session, {set}), XR_SUCCESS);
    (void)attached;
    const uint64_t unattached = Action(Set("third"), "y", XR_ACTION_TYPE_BOOLEAN_INPUT);
    const struct {
        const char* profile;
        uint64_t action;
        const char* binding;
        XrResult expected;
    } cases[] = {
        {"/interaction_profiles/none/thing", unattached, "/user/hand/left/input/select/click", XR_ERROR_PATH_UNSUPPORTED},
        {kSimple, 0x55, "/user/hand/left/input/select/click", XR_ERROR_HANDLE_INVALID},
        {kSimple, fire, "/user/hand/left/input/select/click", XR_ERROR_ACTIONSETS_ALREADY_ATTACHED},
        {kSimple, unattached, "/user/hand/left/input/trigger/value", XR_ERROR_PATH_UNSUPPORTED},
        {kSimple, unattached, "/user/hand/left/input/select", XR_SUCCESS},
        {kSimple, unattached, "/user/hand/left/input/select/click", XR_SUCCESS},
    };
    for (const auto& c : cases) EXPECT_EQ(Suggest(c.profile, {{c.action, c.binding}}), c.expected) << c.binding;
    // A binding path the instance never made is not a path of this instance.
    SuggestInteractionProfileBindingsRequest request;
    request.instance = instance_;
    request.info.type = XR_TYPE_INTERACTION_PROFILE_SUGGESTED_BINDING;
    request.interactionProfile = Path(kSimple);
    request.suggestedBindings.storage = {{unattached, 0x1234}};
    request.suggestedBindings.items = request.suggestedBindings.storage;
    EXPECT_EQ(Send(request), XR_ERROR_PATH_INVALID);
    request.suggestedBindings.storage.clear();
    request.suggestedBindings.items = request.suggestedBindings.storage;
    EXPECT_EQ(Send(request), XR_ERROR_VALIDATION_FAILURE);
}

TEST_F(BindingsTest, TheProfileWithTheBestDriverScoreWinsPerUserPath) {
    // A driver provides the left hand's simple-controller inputs only (4 of 9 bindings).
    for (const char* c : {"select/click", "menu/click", "grip/pose", "aim/pose"}) {
        Bind(std::string("/user/hand/left/input/") + c);
    }
    const uint64_t set = Set();
    const uint64_t fire = Action(set, "fire", XR_ACTION_TYPE_BOOLEAN_INPUT);
    const uint64_t session = CreateSession(instance_);
    ASSERT_EQ(Suggest(kSimple, {{fire, "/user/hand/left/input/select/click"}}), XR_SUCCESS);
    // Scores 0 everywhere: not better anywhere, so its binding is not taken.
    ASSERT_EQ(Suggest(kIndex, {{fire, "/user/hand/left/input/a/click"}}), XR_SUCCESS);
    // Suggesting the current profile again replaces its bindings.
    ASSERT_EQ(Suggest(kSimple, {{fire, "/user/hand/left/input/menu/click"}, {fire, "/user/hand/left/input/menu/click"}}),
              XR_SUCCESS);
    PollEvents(instance_);
    ASSERT_EQ(Attach(session, {set}), XR_SUCCESS);
    EXPECT_EQ(PollEvents(instance_), (Events {{XR_TYPE_EVENT_DATA_INTERACTION_PROFILE_CHANGED, session}}));

    const struct {
        const char* userPath;
        const char* profile;
    } cases[] = {
        {"/user/hand/left", kSimple},
        {"/user/hand/right", kSimple},
        {"/user/gamepad", nullptr},
        {"/user/treadmill", nullptr},
    };
    for (const auto& c : cases) {
        XrResult result;
        const auto reply = Reply(GetCurrentInteractionProfileRequest {session, Path(c.userPath)}, &result);
        ASSERT_EQ(result, XR_SUCCESS);
        InteractionProfileStateRecord record;
        ASSERT_TRUE(DecodeReply(reply.data(), reply.size(), &record));
        EXPECT_EQ(record.header.type, static_cast<uint32_t>(XR_TYPE_INTERACTION_PROFILE_STATE));
        EXPECT_EQ(record.interactionProfile, c.profile != nullptr ? Path(c.profile) : XR_NULL_PATH) << c.userPath;
    }

    XrResult result;
    const auto reply = Reply(EnumerateBoundSourcesForActionRequest {session, {XR_TYPE_BOUND_SOURCES_FOR_ACTION_ENUMERATE_INFO, 0}, fire, 4},
                             &result);
    ASSERT_EQ(result, XR_SUCCESS);
    EnumerateBoundSourcesForActionReply sources;
    ASSERT_TRUE(DecodeReply(reply.data(), reply.size(), &sources));
    ASSERT_EQ(sources.count, 1u);  // one source, however often suggested
    EXPECT_EQ(sources.items.items[0], Path("/user/hand/left/input/menu/click"));
}

TEST_F(BindingsTest, AttachmentIsOncePerSessionAndFreezesItsSets) {
    const uint64_t set = Set();
    const uint64_t session = CreateSession(instance_);
    const uint64_t foreignSet = Set("x");
    (void)foreignSet;
    const uint64_t otherInstanceSet = [&] {
        uint64_t handle = 0;
        EXPECT_EQ(CreateSet("game", "game", &handle, CreateInstance("other")), XR_SUCCESS);
        return handle;
    }();
    XrResult profileResult;
    Reply(GetCurrentInteractionProfileRequest {session, Path("/user/hand/left")}, &profileResult);
    EXPECT_EQ(profileResult, XR_ERROR_ACTIONSET_NOT_ATTACHED);
    const struct {
        uint64_t session;
        std::vector<uint64_t> sets;
        XrResult expected;
    } cases[] = {
        {0x99, {set}, XR_ERROR_HANDLE_INVALID},
        {session, {}, XR_ERROR_VALIDATION_FAILURE},
        {session, {set, 0x4242}, XR_ERROR_HANDLE_INVALID},
        {session, {otherInstanceSet}, XR_ERROR_HANDLE_INVALID},
        {session, {set, set}, XR_SUCCESS},
        {session, {set}, XR_ERROR_ACTIONSETS_ALREADY_ATTACHED},
    };
    for (const auto& c : cases) EXPECT_EQ(Attach(c.session, c.sets), c.expected);
    // Nothing was suggested, so no profile became current and no event says so.
    for (const Event& event : PollEvents(instance_)) EXPECT_NE(event.type, XR_TYPE_EVENT_DATA_INTERACTION_PROFILE_CHANGED);
    uint64_t handle = 0;
    EXPECT_EQ(CreateAction(set, "late", XR_ACTION_TYPE_BOOLEAN_INPUT, {}, &handle), XR_ERROR_ACTIONSETS_ALREADY_ATTACHED);
}

// A focused session with one action of each input type, bound to left- and right-hand
// components a driver has bound.
class StatesTest : public InputFixture {
protected:
    void SetUp() override {
        InputFixture::SetUp();
        left_ = Path("/user/hand/left");
        right_ = Path("/user/hand/right");
        set_ = Set();
        press_ = Action(set_, "press", XR_ACTION_TYPE_BOOLEAN_INPUT, {left_, right_});
        squeeze_ = Action(set_, "squeeze", XR_ACTION_TYPE_FLOAT_INPUT, {left_, right_});
        move_ = Action(set_, "move", XR_ACTION_TYPE_VECTOR2F_INPUT);
        aim_ = Action(set_, "aim", XR_ACTION_TYPE_POSE_INPUT, {left_, right_});
        buzz_ = Action(set_, "buzz", XR_ACTION_TYPE_VIBRATION_OUTPUT);
        for (const char* hand : {"/user/hand/left", "/user/hand/right"}) {
            const std::string h = hand;
            for (const char* c : {"/input/trigger/click", "/input/trigger/value", "/input/squeeze/value",
                                  "/input/thumbstick", "/input/trackpad", "/input/aim/pose"}) {
                handles_[h + c] = Bind(h + c);
            }
        }
        ASSERT_EQ(Suggest(kIndex, {{press_, "/user/hand/left/input/trigger/click"},
                                   {press_, "/user/hand/right/input/trigger/click"},
                                   {squeeze_, "/user/hand/left/input/trigger/value"},
                                   {squeeze_, "/user/hand/right/input/squeeze/value"},
                                   {move_, "/user/hand/left/input/thumbstick"},
                                   {move_, "/user/hand/left/input/trackpad"},
                                   {aim_, "/user/hand/right/input/aim/pose"},
                                   {buzz_, "/user/hand/left/output/haptic"}}),
                  XR_SUCCESS);
        session_ = FocusedSession(instance_);
        ASSERT_EQ(Attach(session_, {set_}), XR_SUCCESS);
    }
    uint64_t H(const std::string& path) { return handles_.at(path); }
    XrResult SyncAll() { return Sync(session_, {{set_, XR_NULL_PATH}}); }

    uint64_t left_ = 0, right_ = 0, set_ = 0, press_ = 0, squeeze_ = 0, move_ = 0, aim_ = 0, buzz_ = 0;
    uint64_t session_ = 0;
    std::map<std::string, uint64_t> handles_;
};

TEST_F(StatesTest, FloatStatesTakeTheLargestMagnitudeAndFilterBySubactionPath) {
    const struct {
        float left;
        float right;
        uint64_t subaction;
        float expected;
    } cases[] = {
        {-0.8f, 0.5f, 0, -0.8f},
        {0.3f, -0.5f, 0, -0.5f},
        {0.5f, 0.5f, 0, 0.5f},
        {-0.8f, 0.5f, 1, 0.5f},  // 1: the right hand
        {-0.8f, 0.5f, 2, -0.8f}, // 2: the left hand
        {std::nanf(""), 0.25f, 0, 0.25f},
    };
    for (const auto& c : cases) {
        Driver().UpdateScalarComponent(H("/user/hand/left/input/trigger/value"), c.left);
        Driver().UpdateScalarComponent(H("/user/hand/right/input/squeeze/value"), c.right);
        ASSERT_EQ(SyncAll(), XR_SUCCESS);
        const uint64_t subaction = c.subaction == 1 ? right_ : c.subaction == 2 ? left_ : XR_NULL_PATH;
        const auto state = FloatState(session_, squeeze_, subaction);
        EXPECT_EQ(state.header.type, static_cast<uint32_t>(XR_TYPE_ACTION_STATE_FLOAT));
        EXPECT_FLOAT_EQ(state.currentState, c.expected) << c.left << " " << c.right;
        EXPECT_EQ(state.isActive, XR_TRUE);
        EXPECT_GT(state.lastChangeTime, 0);
    }
}

TEST_F(StatesTest, ChangeFlagsFollowSynchronisation) {
    const uint64_t trigger = H("/user/hand/left/input/trigger/value");
    const struct {
        const char* step;
        std::optional<float> update;
        bool sync;
        bool changed;
    } steps[] = {
        {"first value", 0.5f, true, true},
        {"same value again", 0.5f, true, false},
        {"new value, not synced", 0.7f, false, false},
        {"synced", std::nullopt, true, true},
        {"NaN", std::nanf(""), true, true},
        {"NaN stays", std::nanf(""), true, true},
    };
    for (const auto& s : steps) {
        if (s.update) Driver().UpdateScalarComponent(trigger, *s.update);
        if (s.sync) {
            ASSERT_EQ(SyncAll(), XR_SUCCESS);
        }
        EXPECT_EQ(FloatState(session_, squeeze_, left_).changedSinceLastSync, s.changed ? XR_TRUE : XR_FALSE) << s.step;
    }
}

TEST_F(StatesTest, BooleanAndVectorStatesCombineTheirComponents) {
    Driver().UpdateBooleanComponent(H("/user/hand/right/input/trigger/click"), XR_TRUE);
    Driver().UpdateVector2Component(H("/user/hand/left/input/thumbstick"), {0.3f, 0.4f});
    Driver().UpdateVector2Component(H("/user/hand/left/input/trackpad"), {0.0f, -0.6f});
    ASSERT_EQ(SyncAll(), XR_SUCCESS);
    const auto pressed = BooleanState(session_, press_);
    EXPECT_EQ(pressed.currentState, XR_TRUE);
    EXPECT_EQ(pressed.changedSinceLastSync, XR_TRUE);
    EXPECT_EQ(BooleanState(session_, press_, left_).currentState, XR_FALSE);
    EXPECT_EQ(BooleanState(session_, press_, right_).currentState, XR_TRUE);
    const auto moved = VectorState(session_, move_);
    EXPECT_FLOAT_EQ(moved.currentState.x, 0.0f);
    EXPECT_FLOAT_EQ(moved.currentState.y, -0.6f);
    EXPECT_EQ(moved.changedSinceLastSync, XR_TRUE);
    // Synced once more with nothing new: values stay, change flags drop.
    ASSERT_EQ(SyncAll(), XR_SUCCESS);
    EXPECT_EQ(BooleanState(session_, press_).currentState, XR_TRUE);
    EXPECT_EQ(BooleanState(session_, press_).changedSinceLastSync, XR_FALSE);
    EXPECT_EQ(VectorState(session_, move_).changedSinceLastSync, XR_FALSE);
}

TEST_F(StatesTest, SyncCoversOnlyTheActiveSetsAndSubactionPaths) {
    Driver().UpdateScalarComponent(H("/user/hand/left/input/trigger/value"), 0.9f);
    Driver().UpdateScalarComponent(H("/user/hand/right/input/squeeze/value"), 0.2f);
    ASSERT_EQ(Sync(session_, {{set_, right_}}), XR_SUCCESS);
    EXPECT_FLOAT_EQ(FloatState(session_, squeeze_, left_).currentState, 0.0f);
    EXPECT_FLOAT_EQ(FloatState(session_, squeeze_, right_).currentState, 0.2f);

    const uint64_t unattached = Set("later");
    const struct {
        std::vector<ActionSubactionPair> sets;
        XrResult expected;
    } cases[] = {
        {{}, XR_ERROR_VALIDATION_FAILURE},
        {{{0, 0}}, XR_ERROR_HANDLE_INVALID},
        {{{0x4444, 0}}, XR_ERROR_HANDLE_INVALID},
        {{{set_, 0}, {unattached, 0}}, XR_ERROR_ACTIONSET_NOT_ATTACHED},
    };
    for (const auto& c : cases) EXPECT_EQ(Sync(session_, c.sets), c.expected);
    EXPECT_FLOAT_EQ(FloatState(session_, squeeze_, left_).currentState, 0.0f);  // nothing synced
    EXPECT_EQ(Sync(0x3333, {{set_, 0}}), XR_ERROR_HANDLE_INVALID);
}

TEST_F(StatesTest, SessionsOutOfFocusSyncButSeeTheirActionsInactive) {
    ASSERT_EQ(RequestExit(session_), XR_SUCCESS);  // walks down to STOPPING
    const uint64_t trigger = H("/user/hand/left/input/trigger/value");
    Driver().UpdateScalarComponent(trigger, 0.4f);
    Driver().UpdateBooleanComponent(H("/user/hand/left/input/trigger/click"), XR_TRUE);
    EXPECT_EQ(SyncAll(), XR_SESSION_NOT_FOCUSED);
    const auto unfocused = FloatState(session_, squeeze_);
    EXPECT_FLOAT_EQ(unfocused.currentState, 0.0f);
    EXPECT_EQ(unfocused.isActive, XR_FALSE);
    EXPECT_EQ(BooleanState(session_, press_).isActive, XR_FALSE);
    // The components were synchronised all the same.
    InputComponent* component = state_.drivers.Context().InputDevice().FindComponent(trigger);
    std::lock_guard lock(component->lock);
    EXPECT_FLOAT_EQ(component->syncedFloat, 0.4f);
}

TEST_F(StatesTest, DriverThreadUpdatesArriveWhole) {
    // A driver writes vectors (v, -v) on its own thread while requests sync and read: a read
    // never sees half of one update and half of another.
    std::atomic<bool> stop {false};
    std::thread driver([&] {
        for (int i = 1; !stop.load(); i = i % 1000 + 1) {
            const float v = static_cast<float>(i) / 1000.0f;
            Driver().UpdateVector2Component(H("/user/hand/left/input/thumbstick"), {v, -v});
        }
    });
    int distinct = 0;
    float last = 0.0f;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (distinct < 20 && std::chrono::steady_clock::now() < deadline) {
        ASSERT_EQ(SyncAll(), XR_SUCCESS);
        const auto state = VectorState(session_, move_);
        ASSERT_EQ(state.currentState.x, -state.currentState.y);
        if (state.currentState.x != last) ++distinct;
        last = state.currentState.x;
    }
    stop = true;
    driver.join();
    EXPECT_GE(distinct, 20);
}

TEST_F(StatesTest, QueriesCheckSessionTypeAttachmentAndSubactionPath) {
    const uint64_t loose = Action(Set("loose"), "loose", XR_ACTION_TYPE_FLOAT_INPUT);
    const uint64_t gamepad = Path("/user/gamepad");
    const struct {
        uint64_t session;
        uint64_t action;
        uint64_t subaction;
        XrResult expected;
    } cases[] = {
        {0x3333, squeeze_, 0, XR_ERROR_HANDLE_INVALID},
        {session_, 0x5555, 0, XR_ERROR_HANDLE_INVALID},
        {session_, press_, 0, XR_ERROR_ACTION_TYPE_MISMATCH},
        {session_, loose, 0, XR_ERROR_ACTIONSET_NOT_ATTACHED},
        {session_, squeeze_, gamepad, XR_ERROR_PATH_UNSUPPORTED},
        {session_, squeeze_, left_, XR_SUCCESS},
    };
    for (const auto& c : cases) {
        ActionStateFloatRecord record;
        EXPECT_EQ((GetState<ActionStateFloatRecord, GetActionStateFloatRequest>(c.session, c.action, c.subaction, &record)),
                  c.expected);
    }
    // An unbound action is inactive; a bound pose's activity is its driver's binding.
    const uint64_t idle = Action(Set("idle"), "idle", XR_ACTION_TYPE_POSE_INPUT);
    (void)idle;
    ActionStatePoseRecord pose;
    ASSERT_EQ((GetState<ActionStatePoseRecord, GetActionStatePoseRequest>(session_, aim_, right_, &pose)), XR_SUCCESS);
    EXPECT_EQ(pose.isActive, XR_TRUE);
    ASSERT_EQ((GetState<ActionStatePoseRecord, GetActionStatePoseRequest>(session_, aim_, left_, &pose)), XR_SUCCESS);
    EXPECT_EQ(pose.isActive, XR_FALSE);
}

TEST_F(StatesTest, HapticsAreCheckedAndAccepted) {
    const struct {
        uint64_t session;
        uint64_t action;
        XrResult expected;
    } cases[] = {
        {session_, buzz_, XR_SUCCESS},
        {0x3333, buzz_, XR_ERROR_HANDLE_INVALID},
        {session_, 0x5555, XR_ERROR_HANDLE_INVALID},
        {session_, press_, XR_ERROR_ACTION_TYPE_MISMATCH},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Send(ApplyHapticFeedbackRequest {c.session, {XR_TYPE_HAPTIC_ACTION_INFO, 0}, c.action, 0,
                                                   {XR_TYPE_HAPTIC_VIBRATION, 0}}),
                  c.expected);
        EXPECT_EQ(Send(StopHapticFeedbackRequest {{c.session, {XR_TYPE_HAPTIC_ACTION_INFO, 0}, c.action, 0}}), c.expected);
    }
}

TEST_F(StatesTest, LocalizedNamesNameTheUserPathProfileAndComponent) {
    const uint64_t trigger = Path("/user/hand/left/input/trigger/value");
    const struct {
        uint64_t source;
        uint64_t which;
        XrResult expected;
        const char* name;
    } cases[] = {
        {trigger, XR_INPUT_SOURCE_LOCALIZED_NAME_USER_PATH_BIT | XR_INPUT_SOURCE_LOCALIZED_NAME_COMPONENT_BIT, XR_SUCCESS,
         "Left Hand Trigger"},
        {trigger, XR_INPUT_SOURCE_LOCALIZED_NAME_COMPONENT_BIT, XR_SUCCESS, "Trigger"},
        {trigger, 7, XR_SUCCESS, "Left Hand Index Controller Trigger"},
        {Path("/user/gamepad/input/thumbstick_left/x"), XR_INPUT_SOURCE_LOCALIZED_NAME_COMPONENT_BIT, XR_SUCCESS,
         "Thumbstick Left"},
        {trigger, 0, XR_ERROR_VALIDATION_FAILURE, nullptr},
        {0x1234, XR_INPUT_SOURCE_LOCALIZED_NAME_COMPONENT_BIT, XR_ERROR_PATH_UNSUPPORTED, nullptr},
        {Path("/somewhere/else"), XR_INPUT_SOURCE_LOCALIZED_NAME_COMPONENT_BIT, XR_ERROR_PATH_UNSUPPORTED, nullptr},
    };
    for (const auto& c : cases) {
        XrResult result;
        const auto reply = Reply(GetInputSourceLocalizedNameRequest {session_, {XR_TYPE_INPUT_SOURCE_LOCALIZED_NAME_GET_INFO, 0},
                                                                     c.source, c.which, 64},
                                 &result);
        ASSERT_EQ(result, c.expected) << c.which;
        if (c.name == nullptr) continue;
        GetInputSourceLocalizedNameReply text;
        ASSERT_TRUE(DecodeReply(reply.data(), reply.size(), &text));
        EXPECT_EQ(text.text.text, c.name);
    }
}

TEST_F(StatesTest, ActionSpacesFollowTheBoundPose) {
    const XrPosef pose {{0, 0, 0, 1}, {0.1f, 0.2f, 0.3f}};
    Driver().UpdatePoseComponent(H("/user/hand/right/input/aim/pose"), &pose);
    ASSERT_EQ(SyncAll(), XR_SUCCESS);
    const XrPosef identity {{0, 0, 0, 1}, {0, 0, 0}};
    const struct {
        uint64_t action;
        uint64_t subaction;
        XrResult expected;
    } cases[] = {
        {0x5555, 0, XR_ERROR_HANDLE_INVALID},
        {squeeze_, 0, XR_ERROR_ACTION_TYPE_MISMATCH},
        {aim_, Path("/user/head"), XR_ERROR_PATH_UNSUPPORTED},
        {aim_, right_, XR_SUCCESS},
    };
    uint64_t space = 0;
    for (const auto& c : cases) {
        XrResult result;
        const auto reply = Reply(CreateActionSpaceRequest {session_, {XR_TYPE_ACTION_SPACE_CREATE_INFO, 0}, c.action,
                                                           c.subaction, identity},
                                 &result);
        EXPECT_EQ(result, c.expected);
        if (result == XR_SUCCESS) space = HandleOf(reply);
    }
    ASSERT_NE(space, 0u);
    // Another process cannot make a space of this process's action.
    EXPECT_EQ(state_.actions.CheckPoseAction(platform::ProcessId() + 1, aim_, 0), XR_ERROR_HANDLE_INVALID);
    XrResult result;
    const auto local = HandleOf(Reply(CreateReferenceSpaceRequest {session_, {XR_TYPE_REFERENCE_SPACE_CREATE_INFO, 0},
                                                                   XR_REFERENCE_SPACE_TYPE_LOCAL, identity},
                                      &result));
    ASSERT_EQ(result, XR_SUCCESS);
    LocateSpaceRequest locate {};
    locate.space = space;
    locate.baseSpace = local;
    locate.time = 1;
    locate.locationType = XR_TYPE_SPACE_LOCATION;
    const auto reply = Reply(locate, &result);
    ASSERT_EQ(result, XR_SUCCESS);
    SpaceLocationRecord location;
    ASSERT_TRUE(DecodeReply(reply.data(), reply.size(), &location));
    EXPECT_NE(location.locationFlags, 0u);
    EXPECT_FLOAT_EQ(location.pose.position.z, 0.3f);
}

}  // namespace
}  // namespace qor::test
