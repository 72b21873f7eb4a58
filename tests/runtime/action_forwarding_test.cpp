// Paths, action sets, actions, bindings, action states and haptics, as the library forwards them.
#include "tests/runtime/runtime_fixture.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace qor::test {
namespace {

class PathForwardingTest : public RuntimeTest {};
class ActionForwardingTest : public RuntimeTest {};

template <typename Handle>
Handle H(uint64_t value) {
    return reinterpret_cast<Handle>(value);
}

const XrActionSet kActionSet = H<XrActionSet>(0x4000002);
const XrAction kAction = H<XrAction>(0x5000003);
constexpr XrPath kLeft = 0x1111222233334444;
constexpr XrPath kRight = 0x5555666677778888;

// ---- Paths ----

TEST_F(PathForwardingTest, StringToPathSendsTheLengthWithItsNulAndReturnsThePath) {
    auto toPath = Get<PFN_xrStringToPath>("xrStringToPath");
    service_.Reply(XR_SUCCESS, ByteBuilder().U64(0xABCDEF0123456789));
    XrPath path = XR_NULL_PATH;
    ASSERT_EQ(toPath(kInstance, "/user/hand/left", &path), XR_SUCCESS);
    EXPECT_EQ(path, 0xABCDEF0123456789u);
    const Bytes request = service_.LastRequest();
    EXPECT_EQ(request.size(), 20u + 16);
    EXPECT_EQ(BodyOf(request, 40000), Bytes(ByteBuilder().U64(0x1000001).U64(16).Chars("/user/hand/left", 16)));

    // An error leaves the output alone.
    service_.Reply(XR_ERROR_PATH_FORMAT_INVALID);
    path = 77;
    EXPECT_EQ(toPath(kInstance, "/bad//path", &path), XR_ERROR_PATH_FORMAT_INVALID);
    EXPECT_EQ(path, 77u);
}

TEST_F(PathForwardingTest, StringToPathLengthLimits) {
    auto toPath = Get<PFN_xrStringToPath>("xrStringToPath");
    struct Case {
        size_t characters;
        bool sent;
    };
    const Case cases[] = {{0, false}, {1, true}, {255, true}, {256, false}, {300, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.characters);
        service_.ClearRequests();
        const std::string text = c.characters == 0 ? std::string() : "/" + std::string(c.characters - 1, 'p');
        XrPath path = 5;
        const XrResult result = toPath(kInstance, text.c_str(), &path);
        if (!c.sent) {
            EXPECT_EQ(result, XR_ERROR_PATH_FORMAT_INVALID);
            EXPECT_EQ(service_.RequestCount(), 0u);
            EXPECT_EQ(path, 5u);
            continue;
        }
        EXPECT_EQ(result, XR_SUCCESS);
        const Bytes request = service_.LastRequest();
        EXPECT_EQ(request.size(), 20u + c.characters + 1);
        EXPECT_EQ(BodyOf(request, 40000),
                  Bytes(ByteBuilder().U64(0x1000001).U64(c.characters + 1).Chars(text, c.characters + 1)));
    }
}

TEST_F(PathForwardingTest, PathToStringCountAndCopyRules) {
    auto toString = Get<PFN_xrPathToString>("xrPathToString");
    const std::string text = "/user/hand/right";
    const auto reply = [&](bool withText) {
        ByteBuilder body;
        body.U32(static_cast<uint32_t>(text.size() + 1));
        if (withText) body.Chars(text, text.size() + 1);
        return body;
    };

    // Capacity 0: the length only.
    uint32_t count = 0;
    service_.Reply(XR_SUCCESS, reply(false));
    ASSERT_EQ(toString(kInstance, kRight, 0, &count, nullptr), XR_SUCCESS);
    EXPECT_EQ(count, text.size() + 1);
    EXPECT_EQ(BodyOf(service_.LastRequest(), 40001), Bytes(ByteBuilder().U64(0x1000001).U64(kRight).U32(0)));
    EXPECT_EQ(service_.LastRequest().size(), 24u);

    // Room for the whole string, NUL included.
    char buffer[32];
    std::memset(buffer, 'x', sizeof buffer);
    count = 0;
    service_.Reply(XR_SUCCESS, reply(true));
    ASSERT_EQ(toString(kInstance, kRight, 17, &count, buffer), XR_SUCCESS);
    EXPECT_EQ(count, 17u);
    EXPECT_STREQ(buffer, text.c_str());
    EXPECT_EQ(buffer[17], 'x');  // nothing written past the string
    EXPECT_EQ(BodyOf(service_.LastRequest(), 40001), Bytes(ByteBuilder().U64(0x1000001).U64(kRight).U32(17)));

    // An error result: neither the count nor the buffer is touched.
    std::memset(buffer, 'x', sizeof buffer);
    count = 99;
    service_.Reply(XR_ERROR_SIZE_INSUFFICIENT, ByteBuilder().U32(17));
    EXPECT_EQ(toString(kInstance, kRight, 4, &count, buffer), XR_ERROR_SIZE_INSUFFICIENT);
    EXPECT_EQ(count, 99u);
    EXPECT_EQ(buffer[0], 'x');

    service_.Reply(XR_ERROR_PATH_INVALID);
    EXPECT_EQ(toString(kInstance, 12345, 32, &count, buffer), XR_ERROR_PATH_INVALID);
    EXPECT_EQ(count, 99u);
}

// ---- Actions: what travels ----

struct RequestCase {
    const char* name;
    uint32_t code;
    std::function<XrResult()> call;
    Bytes expectedBody;
};

TEST_F(ActionForwardingTest, RequestsCarryExactlyTheDocumentedBytes) {
    auto createActionSet = Get<PFN_xrCreateActionSet>("xrCreateActionSet");
    auto destroyActionSet = Get<PFN_xrDestroyActionSet>("xrDestroyActionSet");
    auto createAction = Get<PFN_xrCreateAction>("xrCreateAction");
    auto destroyAction = Get<PFN_xrDestroyAction>("xrDestroyAction");
    auto suggest = Get<PFN_xrSuggestInteractionProfileBindings>("xrSuggestInteractionProfileBindings");
    auto attach = Get<PFN_xrAttachSessionActionSets>("xrAttachSessionActionSets");
    auto currentProfile = Get<PFN_xrGetCurrentInteractionProfile>("xrGetCurrentInteractionProfile");
    auto getBoolean = Get<PFN_xrGetActionStateBoolean>("xrGetActionStateBoolean");
    auto getFloat = Get<PFN_xrGetActionStateFloat>("xrGetActionStateFloat");
    auto getVector = Get<PFN_xrGetActionStateVector2f>("xrGetActionStateVector2f");
    auto getPose = Get<PFN_xrGetActionStatePose>("xrGetActionStatePose");
    auto applyHaptic = Get<PFN_xrApplyHapticFeedback>("xrApplyHapticFeedback");
    auto stopHaptic = Get<PFN_xrStopHapticFeedback>("xrStopHapticFeedback");
    auto sync = Get<PFN_xrSyncActions>("xrSyncActions");
    auto boundSources = Get<PFN_xrEnumerateBoundSourcesForAction>("xrEnumerateBoundSourcesForAction");
    auto localizedName = Get<PFN_xrGetInputSourceLocalizedName>("xrGetInputSourceLocalizedName");

    const XrActionStateGetInfo getInfo {XR_TYPE_ACTION_STATE_GET_INFO, nullptr, kAction, kLeft};
    const Bytes stateRequest =
        ByteBuilder().U64(0x3000005).Header(XR_TYPE_ACTION_STATE_GET_INFO).U64(0x5000003).U64(kLeft);
    const XrHapticActionInfo hapticInfo {XR_TYPE_HAPTIC_ACTION_INFO, nullptr, kAction, kRight};
    const Bytes hapticRequest =
        ByteBuilder().U64(0x3000005).Header(XR_TYPE_HAPTIC_ACTION_INFO).U64(0x5000003).U64(kRight);

    const std::vector<RequestCase> cases = {
        {"create action set", 90000,
         [&] {
             XrActionSetCreateInfo info {XR_TYPE_ACTION_SET_CREATE_INFO};
             std::strcpy(info.actionSetName, "gameplay");
             std::strcpy(info.localizedActionSetName, "Game play");
             info.priority = 5;
             XrActionSet set;
             return createActionSet(kInstance, &info, &set);
         },
         ByteBuilder()
             .U64(0x1000001)
             .Header(XR_TYPE_ACTION_SET_CREATE_INFO)
             .Chars("gameplay", 64)
             .Chars("Game play", 128)
             .U32(5)},
        {"destroy action set", 90001, [&] { return destroyActionSet(kActionSet); }, ByteBuilder().U64(0x4000002)},
        {"create action with two subaction paths", 90002,
         [&] {
             const XrPath paths[] = {kLeft, kRight};
             XrActionCreateInfo info {XR_TYPE_ACTION_CREATE_INFO};
             std::strcpy(info.actionName, "grab");
             info.actionType = XR_ACTION_TYPE_FLOAT_INPUT;
             info.countSubactionPaths = 2;
             info.subactionPaths = paths;
             std::strcpy(info.localizedActionName, "Grab");
             XrAction action;
             return createAction(kActionSet, &info, &action);
         },
         ByteBuilder()
             .U64(0x4000002)
             .Header(XR_TYPE_ACTION_CREATE_INFO)
             .Chars("grab", 64)
             .U32(XR_ACTION_TYPE_FLOAT_INPUT)
             .U32(2)
             .U64(kLeft)
             .U64(kRight)
             .Chars("Grab", 128)},
        {"destroy action", 90003, [&] { return destroyAction(kAction); }, ByteBuilder().U64(0x5000003)},
        {"suggest two bindings", 90004,
         [&] {
             const XrActionSuggestedBinding bindings[] = {{kAction, kLeft}, {H<XrAction>(0x5000009), kRight}};
             XrInteractionProfileSuggestedBinding info {XR_TYPE_INTERACTION_PROFILE_SUGGESTED_BINDING};
             info.interactionProfile = 0x0102030405060708;
             info.countSuggestedBindings = 2;
             info.suggestedBindings = bindings;
             return suggest(kInstance, &info);
         },
         ByteBuilder()
             .U64(0x1000001)
             .Header(XR_TYPE_INTERACTION_PROFILE_SUGGESTED_BINDING)
             .U64(0x0102030405060708)
             .U32(2)
             .U64(0x5000003)
             .U64(kLeft)
             .U64(0x5000009)
             .U64(kRight)},
        {"attach two action sets", 90005,
         [&] {
             const XrActionSet sets[] = {kActionSet, H<XrActionSet>(0x4000007)};
             XrSessionActionSetsAttachInfo info {XR_TYPE_SESSION_ACTION_SETS_ATTACH_INFO, nullptr, 2, sets};
             return attach(kSession, &info);
         },
         ByteBuilder().U64(0x3000005).Header(XR_TYPE_SESSION_ACTION_SETS_ATTACH_INFO).U32(2).U64(0x4000002).U64(0x4000007)},
        {"current interaction profile", 90006,
         [&] {
             XrInteractionProfileState state {XR_TYPE_INTERACTION_PROFILE_STATE};
             return currentProfile(kSession, kLeft, &state);
         },
         ByteBuilder().U64(0x3000005).U64(kLeft)},
        {"boolean state", 90007,
         [&] {
             XrActionStateBoolean state {XR_TYPE_ACTION_STATE_BOOLEAN};
             return getBoolean(kSession, &getInfo, &state);
         },
         stateRequest},
        {"float state", 90008,
         [&] {
             XrActionStateFloat state {XR_TYPE_ACTION_STATE_FLOAT};
             return getFloat(kSession, &getInfo, &state);
         },
         stateRequest},
        {"vector2f state", 90009,
         [&] {
             XrActionStateVector2f state {XR_TYPE_ACTION_STATE_VECTOR2F};
             return getVector(kSession, &getInfo, &state);
         },
         stateRequest},
        {"pose state", 90010,
         [&] {
             XrActionStatePose state {XR_TYPE_ACTION_STATE_POSE};
             return getPose(kSession, &getInfo, &state);
         },
         stateRequest},
        {"apply haptic: only the vibration's header travels", 90011,
         [&] {
             XrHapticVibration vibration {XR_TYPE_HAPTIC_VIBRATION, nullptr, 250000000, 160.0f, 0.75f};
             return applyHaptic(kSession, &hapticInfo, reinterpret_cast<const XrHapticBaseHeader*>(&vibration));
         },
         ByteBuilder().Raw(hapticRequest.data(), hapticRequest.size()).Header(XR_TYPE_HAPTIC_VIBRATION)},
        {"stop haptic", 90012, [&] { return stopHaptic(kSession, &hapticInfo); }, hapticRequest},
        {"sync two action sets", 90013,
         [&] {
             const XrActiveActionSet active[] = {{kActionSet, XR_NULL_PATH}, {H<XrActionSet>(0x4000007), kLeft}};
             XrActionsSyncInfo info {XR_TYPE_ACTIONS_SYNC_INFO, nullptr, 2, active};
             return sync(kSession, &info);
         },
         ByteBuilder()
             .U64(0x3000005)
             .Header(XR_TYPE_ACTIONS_SYNC_INFO)
             .U32(2)
             .U64(0x4000002)
             .U64(0)
             .U64(0x4000007)
             .U64(kLeft)},
        {"bound sources", 90014,
         [&] {
             XrBoundSourcesForActionEnumerateInfo info {XR_TYPE_BOUND_SOURCES_FOR_ACTION_ENUMERATE_INFO, nullptr, kAction};
             uint32_t count;
             XrPath sources[3];
             return boundSources(kSession, &info, 3, &count, sources);
         },
         ByteBuilder().U64(0x3000005).Header(XR_TYPE_BOUND_SOURCES_FOR_ACTION_ENUMERATE_INFO).U64(0x5000003).U32(3)},
        {"localized name", 90015,
         [&] {
             XrInputSourceLocalizedNameGetInfo info {XR_TYPE_INPUT_SOURCE_LOCALIZED_NAME_GET_INFO, nullptr, kRight,
                                                     XR_INPUT_SOURCE_LOCALIZED_NAME_USER_PATH_BIT |
                                                         XR_INPUT_SOURCE_LOCALIZED_NAME_COMPONENT_BIT};
             uint32_t count;
             char buffer[64];
             return localizedName(kSession, &info, 64, &count, buffer);
         },
         ByteBuilder()
             .U64(0x3000005)
             .Header(XR_TYPE_INPUT_SOURCE_LOCALIZED_NAME_GET_INFO)
             .U64(kRight)
             .U64(XR_INPUT_SOURCE_LOCALIZED_NAME_USER_PATH_BIT | XR_INPUT_SOURCE_LOCALIZED_NAME_COMPONENT_BIT)
             .U32(64)},
    };
    // The replies are empty, so calls that read a record fail its check; only the requests
    // matter here.
    for (const RequestCase& c : cases) {
        SCOPED_TRACE(c.name);
        service_.ClearRequests();
        c.call();
        ASSERT_EQ(service_.RequestCount(), 1u);
        const Bytes request = service_.LastRequest();
        EXPECT_EQ(request.size(), 4 + c.expectedBody.size());
        EXPECT_EQ(BodyOf(request, c.code), c.expectedBody);
    }
    // 220, 224 + 16, 36 + 32, 28 + 16, 52 and 28 + 32 bytes, as the table documents.
    EXPECT_EQ(cases[0].expectedBody.size() + 4, 220u);
    EXPECT_EQ(cases[2].expectedBody.size() + 4, 224u + 16);
    EXPECT_EQ(cases[4].expectedBody.size() + 4, 36u + 32);
    EXPECT_EQ(cases[5].expectedBody.size() + 4, 28u + 16);
    EXPECT_EQ(cases[11].expectedBody.size() + 4, 52u);
    EXPECT_EQ(cases[13].expectedBody.size() + 4, 28u + 32);
}

TEST_F(ActionForwardingTest, CreatedHandlesComeBackOnlyOnSuccess) {
    auto createActionSet = Get<PFN_xrCreateActionSet>("xrCreateActionSet");
    auto createAction = Get<PFN_xrCreateAction>("xrCreateAction");
    XrActionSetCreateInfo setInfo {XR_TYPE_ACTION_SET_CREATE_INFO};
    std::strcpy(setInfo.actionSetName, "menu");
    XrActionSet set = XR_NULL_HANDLE;
    service_.Reply(XR_SUCCESS, ByteBuilder().U64(0x4000011));
    ASSERT_EQ(createActionSet(kInstance, &setInfo, &set), XR_SUCCESS);
    EXPECT_EQ(reinterpret_cast<uint64_t>(set), 0x4000011u);

    XrActionCreateInfo actionInfo {XR_TYPE_ACTION_CREATE_INFO};
    std::strcpy(actionInfo.actionName, "select");
    actionInfo.actionType = XR_ACTION_TYPE_BOOLEAN_INPUT;
    XrAction action = XR_NULL_HANDLE;
    service_.Reply(XR_SUCCESS, ByteBuilder().U64(0x5000012));
    ASSERT_EQ(createAction(set, &actionInfo, &action), XR_SUCCESS);
    EXPECT_EQ(reinterpret_cast<uint64_t>(action), 0x5000012u);
    // No subaction paths: the count is 0 and the localized name follows at once.
    EXPECT_EQ(service_.LastRequest().size(), 224u);

    service_.Reply(XR_ERROR_NAME_DUPLICATED, ByteBuilder().U64(0x5000099));
    EXPECT_EQ(createAction(set, &actionInfo, &action), XR_ERROR_NAME_DUPLICATED);
    EXPECT_EQ(reinterpret_cast<uint64_t>(action), 0x5000012u);
    service_.Reply(XR_ERROR_NAME_DUPLICATED, ByteBuilder().U64(0x4000099));
    EXPECT_EQ(createActionSet(kInstance, &setInfo, &set), XR_ERROR_NAME_DUPLICATED);
    EXPECT_EQ(reinterpret_cast<uint64_t>(set), 0x4000011u);
}

TEST_F(ActionForwardingTest, MalformedInputsAreRefusedWithoutSending) {
    auto createActionSet = Get<PFN_xrCreateActionSet>("xrCreateActionSet");
    auto createAction = Get<PFN_xrCreateAction>("xrCreateAction");
    auto suggest = Get<PFN_xrSuggestInteractionProfileBindings>("xrSuggestInteractionProfileBindings");
    auto attach = Get<PFN_xrAttachSessionActionSets>("xrAttachSessionActionSets");
    auto getBoolean = Get<PFN_xrGetActionStateBoolean>("xrGetActionStateBoolean");
    auto getFloat = Get<PFN_xrGetActionStateFloat>("xrGetActionStateFloat");
    auto getVector = Get<PFN_xrGetActionStateVector2f>("xrGetActionStateVector2f");
    auto getPose = Get<PFN_xrGetActionStatePose>("xrGetActionStatePose");
    auto applyHaptic = Get<PFN_xrApplyHapticFeedback>("xrApplyHapticFeedback");
    auto stopHaptic = Get<PFN_xrStopHapticFeedback>("xrStopHapticFeedback");
    auto boundSources = Get<PFN_xrEnumerateBoundSourcesForAction>("xrEnumerateBoundSourcesForAction");
    auto localizedName = Get<PFN_xrGetInputSourceLocalizedName>("xrGetInputSourceLocalizedName");

    const XrActionStateGetInfo goodGet {XR_TYPE_ACTION_STATE_GET_INFO, nullptr, kAction, XR_NULL_PATH};
    const XrActionStateGetInfo wrongGet {XR_TYPE_ACTION_CREATE_INFO, nullptr, kAction, XR_NULL_PATH};
    const XrHapticActionInfo goodHaptic {XR_TYPE_HAPTIC_ACTION_INFO, nullptr, kAction, XR_NULL_PATH};
    const XrHapticActionInfo wrongHaptic {XR_TYPE_ACTION_STATE_GET_INFO, nullptr, kAction, XR_NULL_PATH};
    const XrHapticVibration vibration {XR_TYPE_HAPTIC_VIBRATION, nullptr, 1, 0.0f, 1.0f};
    const XrHapticBaseHeader otherFeedback {XR_TYPE_HAPTIC_ACTION_INFO, nullptr};
    const auto* vibrationHeader = reinterpret_cast<const XrHapticBaseHeader*>(&vibration);
    const XrActionSet oneSet[] = {kActionSet};

    struct Case {
        const char* name;
        std::function<XrResult()> call;
    };
    const Case cases[] = {
        {"action set info of another type",
         [&] {
             XrActionSetCreateInfo info {XR_TYPE_ACTION_CREATE_INFO};
             XrActionSet set;
             return createActionSet(kInstance, &info, &set);
         }},
        {"action info of another type",
         [&] {
             XrActionCreateInfo info {XR_TYPE_ACTION_SET_CREATE_INFO};
             XrAction action;
             return createAction(kActionSet, &info, &action);
         }},
        {"suggested bindings of another type",
         [&] {
             XrInteractionProfileSuggestedBinding info {XR_TYPE_ACTIONS_SYNC_INFO};
             return suggest(kInstance, &info);
         }},
        {"attach with zero action sets",
         [&] {
             XrSessionActionSetsAttachInfo info {XR_TYPE_SESSION_ACTION_SETS_ATTACH_INFO, nullptr, 0, oneSet};
             return attach(kSession, &info);
         }},
        {"attach info of another type",
         [&] {
             XrSessionActionSetsAttachInfo info {XR_TYPE_ACTIONS_SYNC_INFO, nullptr, 1, oneSet};
             return attach(kSession, &info);
         }},
        {"boolean state with an output of another type",
         [&] {
             XrActionStateBoolean state {XR_TYPE_ACTION_STATE_FLOAT};
             return getBoolean(kSession, &goodGet, &state);
         }},
        {"float state with a get info of another type",
         [&] {
             XrActionStateFloat state {XR_TYPE_ACTION_STATE_FLOAT};
             return getFloat(kSession, &wrongGet, &state);
         }},
        {"float state with an output of another type",
         [&] {
             XrActionStateFloat state {XR_TYPE_ACTION_STATE_BOOLEAN};
             return getFloat(kSession, &goodGet, &state);
         }},
        {"vector2f state with a get info of another type",
         [&] {
             XrActionStateVector2f state {XR_TYPE_ACTION_STATE_VECTOR2F};
             return getVector(kSession, &wrongGet, &state);
         }},
        {"vector2f state with an output of another type",
         [&] {
             XrActionStateVector2f state {XR_TYPE_ACTION_STATE_POSE};
             return getVector(kSession, &goodGet, &state);
         }},
        {"pose state with a get info of another type",
         [&] {
             XrActionStatePose state {XR_TYPE_ACTION_STATE_POSE};
             return getPose(kSession, &wrongGet, &state);
         }},
        {"pose state with an output of another type",
         [&] {
             XrActionStatePose state {XR_TYPE_ACTION_STATE_VECTOR2F};
             return getPose(kSession, &goodGet, &state);
         }},
        {"haptic info of another type", [&] { return applyHaptic(kSession, &wrongHaptic, vibrationHeader); }},
        {"haptic feedback other than vibration", [&] { return applyHaptic(kSession, &goodHaptic, &otherFeedback); }},
        {"stop haptic info of another type", [&] { return stopHaptic(kSession, &wrongHaptic); }},
        {"bound sources info of another type",
         [&] {
             XrBoundSourcesForActionEnumerateInfo info {XR_TYPE_INPUT_SOURCE_LOCALIZED_NAME_GET_INFO, nullptr, kAction};
             uint32_t count;
             return boundSources(kSession, &info, 0, &count, nullptr);
         }},
        {"localized name info of another type",
         [&] {
             XrInputSourceLocalizedNameGetInfo info {XR_TYPE_BOUND_SOURCES_FOR_ACTION_ENUMERATE_INFO};
             uint32_t count;
             return localizedName(kSession, &info, 0, &count, nullptr);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), XR_ERROR_VALIDATION_FAILURE);
    }
    EXPECT_EQ(service_.RequestCount(), 0u);
}

TEST_F(ActionForwardingTest, BooleanStateDoesNotCheckItsGetInfo) {
    auto getBoolean = Get<PFN_xrGetActionStateBoolean>("xrGetActionStateBoolean");
    const XrActionStateGetInfo wrongGet {XR_TYPE_ACTION_CREATE_INFO, nullptr, kAction, kLeft};
    XrActionStateBoolean state {XR_TYPE_ACTION_STATE_BOOLEAN};
    service_.Reply(XR_SUCCESS, ByteBuilder().Header(XR_TYPE_ACTION_STATE_BOOLEAN).U32(1).U32(1).I64(4242).U32(1));
    ASSERT_EQ(getBoolean(kSession, &wrongGet, &state), XR_SUCCESS);
    EXPECT_EQ(state.currentState, XR_TRUE);
    EXPECT_EQ(state.lastChangeTime, 4242);
    // The info travels as given; judging it is the service's business.
    EXPECT_EQ(BodyOf(service_.LastRequest(), 90007),
              Bytes(ByteBuilder().U64(0x3000005).Header(XR_TYPE_ACTION_CREATE_INFO).U64(0x5000003).U64(kLeft)));
}

TEST_F(ActionForwardingTest, OversizedArraysAreNeverSent) {
    auto createAction = Get<PFN_xrCreateAction>("xrCreateAction");
    auto suggest = Get<PFN_xrSuggestInteractionProfileBindings>("xrSuggestInteractionProfileBindings");
    auto attach = Get<PFN_xrAttachSessionActionSets>("xrAttachSessionActionSets");
    auto sync = Get<PFN_xrSyncActions>("xrSyncActions");
    const std::vector<XrPath> paths(1100, kLeft);
    const std::vector<XrActionSuggestedBinding> bindings(600, XrActionSuggestedBinding {kAction, kRight});
    const std::vector<XrActionSet> sets(1100, kActionSet);
    const std::vector<XrActiveActionSet> active(600, XrActiveActionSet {kActionSet, kLeft});

    // Each with the largest count that stays below 8192 bytes and the next one up.
    struct Case {
        const char* name;
        uint32_t largest;
        uint32_t fixedBytes;
        uint32_t perElement;
        std::function<XrResult(uint32_t)> call;
    };
    const Case cases[] = {
        {"subaction paths", 995, 224, 8,
         [&](uint32_t n) {
             XrActionCreateInfo info {XR_TYPE_ACTION_CREATE_INFO};
             info.countSubactionPaths = n;
             info.subactionPaths = paths.data();
             XrAction action;
             return createAction(kActionSet, &info, &action);
         }},
        {"suggested bindings", 509, 36, 16,
         [&](uint32_t n) {
             XrInteractionProfileSuggestedBinding info {XR_TYPE_INTERACTION_PROFILE_SUGGESTED_BINDING};
             info.countSuggestedBindings = n;
             info.suggestedBindings = bindings.data();
             return suggest(kInstance, &info);
         }},
        {"attached action sets", 1020, 28, 8,
         [&](uint32_t n) {
             XrSessionActionSetsAttachInfo info {XR_TYPE_SESSION_ACTION_SETS_ATTACH_INFO, nullptr, n, sets.data()};
             return attach(kSession, &info);
         }},
        {"synced action sets", 510, 28, 16,
         [&](uint32_t n) {
             XrActionsSyncInfo info {XR_TYPE_ACTIONS_SYNC_INFO, nullptr, n, active.data()};
             return sync(kSession, &info);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service_.ClearRequests();
        EXPECT_EQ(c.call(c.largest), XR_SUCCESS);
        ASSERT_EQ(service_.RequestCount(), 1u);
        EXPECT_EQ(service_.LastRequest().size(), c.fixedBytes + c.perElement * c.largest);
        ASSERT_GE(c.fixedBytes + c.perElement * (c.largest + 1), 8192u);  // the table's own arithmetic
        EXPECT_EQ(c.call(c.largest + 1), XR_ERROR_RUNTIME_FAILURE);
        EXPECT_EQ(service_.RequestCount(), 1u);
    }
}

// ---- Actions: which replies are read ----

// One state query against a prepared reply; true when the reply's state reached the output.
struct StateQuery {
    const char* name;
    bool readsOnEverySuccess;  // ≥0; otherwise only XR_SUCCESS and XR_SESSION_LOSS_PENDING
    std::function<bool(XrResult expected)> run;
};

TEST_F(ActionForwardingTest, StateRepliesAreReadByTheirBodyRule) {
    auto getBoolean = Get<PFN_xrGetActionStateBoolean>("xrGetActionStateBoolean");
    auto getFloat = Get<PFN_xrGetActionStateFloat>("xrGetActionStateFloat");
    auto getVector = Get<PFN_xrGetActionStateVector2f>("xrGetActionStateVector2f");
    auto getPose = Get<PFN_xrGetActionStatePose>("xrGetActionStatePose");
    auto currentProfile = Get<PFN_xrGetCurrentInteractionProfile>("xrGetCurrentInteractionProfile");
    const XrActionStateGetInfo getInfo {XR_TYPE_ACTION_STATE_GET_INFO, nullptr, kAction, XR_NULL_PATH};

    const StateQuery queries[] = {
        {"boolean", true,
         [&](XrResult result) {
             service_.Reply(result, ByteBuilder().Header(XR_TYPE_ACTION_STATE_BOOLEAN).U32(1).U32(1).I64(900).U32(1));
             XrActionStateBoolean state {XR_TYPE_ACTION_STATE_BOOLEAN};
             EXPECT_EQ(getBoolean(kSession, &getInfo, &state), result);
             const bool copied = state.currentState == XR_TRUE;
             EXPECT_EQ(copied, state.changedSinceLastSync == XR_TRUE && state.lastChangeTime == 900 &&
                                   state.isActive == XR_TRUE);
             return copied;
         }},
        {"float", true,
         [&](XrResult result) {
             service_.Reply(result, ByteBuilder().Header(XR_TYPE_ACTION_STATE_FLOAT).F32(0.5f).U32(1).I64(901).U32(1));
             XrActionStateFloat state {XR_TYPE_ACTION_STATE_FLOAT};
             EXPECT_EQ(getFloat(kSession, &getInfo, &state), result);
             const bool copied = state.currentState == 0.5f;
             EXPECT_EQ(copied, state.changedSinceLastSync == XR_TRUE && state.lastChangeTime == 901 &&
                                   state.isActive == XR_TRUE);
             return copied;
         }},
        {"vector2f", true,
         [&](XrResult result) {
             service_.Reply(result,
                            ByteBuilder().Header(XR_TYPE_ACTION_STATE_VECTOR2F).F32(-0.25f).F32(0.75f).U32(1).I64(902).U32(1));
             XrActionStateVector2f state {XR_TYPE_ACTION_STATE_VECTOR2F};
             EXPECT_EQ(getVector(kSession, &getInfo, &state), result);
             const bool copied = state.currentState.x == -0.25f;
             EXPECT_EQ(copied, state.currentState.y == 0.75f && state.changedSinceLastSync == XR_TRUE &&
                                   state.lastChangeTime == 902 && state.isActive == XR_TRUE);
             return copied;
         }},
        {"pose", false,
         [&](XrResult result) {
             service_.Reply(result, ByteBuilder().Header(XR_TYPE_ACTION_STATE_POSE).U32(1));
             XrActionStatePose state {XR_TYPE_ACTION_STATE_POSE};
             EXPECT_EQ(getPose(kSession, &getInfo, &state), result);
             return state.isActive == XR_TRUE;
         }},
        {"current interaction profile", false,
         [&](XrResult result) {
             service_.Reply(result, ByteBuilder().Header(XR_TYPE_INTERACTION_PROFILE_STATE).U64(0xC0FFEE));
             XrInteractionProfileState state {XR_TYPE_INTERACTION_PROFILE_STATE};
             EXPECT_EQ(currentProfile(kSession, kLeft, &state), result);
             return state.interactionProfile == 0xC0FFEEu;
         }},
    };
    struct Outcome {
        XrResult result;
        bool copiedByAnySuccess;
        bool copiedOnLossPending;
    };
    const Outcome outcomes[] = {
        {XR_SUCCESS, true, true},
        {XR_SESSION_LOSS_PENDING, true, true},
        {XR_SESSION_NOT_FOCUSED, true, false},
        {XR_ERROR_ACTIONSET_NOT_ATTACHED, false, false},
        {XR_ERROR_SESSION_LOST, false, false},
    };
    for (const StateQuery& query : queries) {
        for (const Outcome& outcome : outcomes) {
            SCOPED_TRACE(std::string(query.name) + " answered " + std::to_string(outcome.result));
            const bool expected = query.readsOnEverySuccess ? outcome.copiedByAnySuccess : outcome.copiedOnLossPending;
            EXPECT_EQ(query.run(outcome.result), expected);
        }
    }
}

TEST_F(ActionForwardingTest, ReturnedStateOfTheWrongShapeIsAValidationFailure) {
    auto getBoolean = Get<PFN_xrGetActionStateBoolean>("xrGetActionStateBoolean");
    auto getPose = Get<PFN_xrGetActionStatePose>("xrGetActionStatePose");
    auto currentProfile = Get<PFN_xrGetCurrentInteractionProfile>("xrGetCurrentInteractionProfile");
    const XrActionStateGetInfo getInfo {XR_TYPE_ACTION_STATE_GET_INFO, nullptr, kAction, XR_NULL_PATH};

    XrActionStateBoolean boolean {XR_TYPE_ACTION_STATE_BOOLEAN};
    service_.Reply(XR_SUCCESS, ByteBuilder().Header(XR_TYPE_ACTION_STATE_FLOAT).U32(1).U32(0).I64(1).U32(1));
    EXPECT_EQ(getBoolean(kSession, &getInfo, &boolean), XR_ERROR_VALIDATION_FAILURE);
    service_.Reply(XR_SUCCESS, ByteBuilder().Header(XR_TYPE_ACTION_STATE_BOOLEAN, 0x10).U32(1).U32(0).I64(1).U32(1));
    EXPECT_EQ(getBoolean(kSession, &getInfo, &boolean), XR_ERROR_VALIDATION_FAILURE);

    XrActionStatePose pose {XR_TYPE_ACTION_STATE_POSE};
    service_.Reply(XR_SUCCESS, ByteBuilder().Header(XR_TYPE_ACTION_STATE_BOOLEAN).U32(1));
    EXPECT_EQ(getPose(kSession, &getInfo, &pose), XR_ERROR_VALIDATION_FAILURE);

    XrInteractionProfileState profile {XR_TYPE_INTERACTION_PROFILE_STATE};
    service_.Reply(XR_SUCCESS, ByteBuilder().Header(XR_TYPE_ACTION_STATE_POSE).U64(1));
    EXPECT_EQ(currentProfile(kSession, kLeft, &profile), XR_ERROR_VALIDATION_FAILURE);
    service_.Reply(XR_SUCCESS, ByteBuilder().Header(XR_TYPE_INTERACTION_PROFILE_STATE, 1).U64(1));
    EXPECT_EQ(currentProfile(kSession, kLeft, &profile), XR_ERROR_VALIDATION_FAILURE);
}

TEST_F(ActionForwardingTest, CallsFailWithoutRetryOnceTheServiceIsGone) {
    auto getFloat = Get<PFN_xrGetActionStateFloat>("xrGetActionStateFloat");
    auto applyHaptic = Get<PFN_xrApplyHapticFeedback>("xrApplyHapticFeedback");
    const XrActionStateGetInfo getInfo {XR_TYPE_ACTION_STATE_GET_INFO, nullptr, kAction, XR_NULL_PATH};
    XrActionStateFloat state {XR_TYPE_ACTION_STATE_FLOAT};
    // A first call while the service runs: this thread is then known to the library.
    service_.Reply(XR_SUCCESS, ByteBuilder().Header(XR_TYPE_ACTION_STATE_FLOAT).F32(0.25f).U32(0).I64(5).U32(1));
    ASSERT_EQ(getFloat(kSession, &getInfo, &state), XR_SUCCESS);
    EXPECT_EQ(state.currentState, 0.25f);

    service_.Stop();
    state.currentState = 3.0f;
    EXPECT_EQ(getFloat(kSession, &getInfo, &state), XR_ERROR_RUNTIME_FAILURE);
    EXPECT_EQ(state.currentState, 3.0f);
    const XrHapticActionInfo info {XR_TYPE_HAPTIC_ACTION_INFO, nullptr, kAction, XR_NULL_PATH};
    const XrHapticVibration vibration {XR_TYPE_HAPTIC_VIBRATION, nullptr, 1, 0.0f, 1.0f};
    EXPECT_EQ(applyHaptic(kSession, &info, reinterpret_cast<const XrHapticBaseHeader*>(&vibration)),
              XR_ERROR_RUNTIME_FAILURE);
}

TEST_F(ActionForwardingTest, BoundSourcesStoreTheCountOnlyWithTheBody) {
    auto boundSources = Get<PFN_xrEnumerateBoundSourcesForAction>("xrEnumerateBoundSourcesForAction");
    const XrBoundSourcesForActionEnumerateInfo info {XR_TYPE_BOUND_SOURCES_FOR_ACTION_ENUMERATE_INFO, nullptr, kAction};
    uint32_t count = 99;
    XrPath sources[2] = {7, 7};

    service_.Reply(XR_ERROR_SIZE_INSUFFICIENT, ByteBuilder().U32(3));
    EXPECT_EQ(boundSources(kSession, &info, 2, &count, sources), XR_ERROR_SIZE_INSUFFICIENT);
    EXPECT_EQ(count, 99u);

    service_.Reply(XR_SUCCESS, ByteBuilder().U32(2));
    ASSERT_EQ(boundSources(kSession, &info, 0, &count, nullptr), XR_SUCCESS);
    EXPECT_EQ(count, 2u);

    count = 0;
    service_.Reply(XR_SESSION_LOSS_PENDING, ByteBuilder().U32(2).U64(kLeft).U64(kRight));
    ASSERT_EQ(boundSources(kSession, &info, 2, &count, sources), XR_SESSION_LOSS_PENDING);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(sources[0], kLeft);
    EXPECT_EQ(sources[1], kRight);

    service_.Stop();
    EXPECT_EQ(boundSources(kSession, &info, 2, &count, sources), XR_ERROR_RUNTIME_FAILURE);
    EXPECT_EQ(count, 0u);
}

TEST_F(ActionForwardingTest, LocalizedNameIsCopiedOnlyIntoABufferThatHoldsIt) {
    auto localizedName = Get<PFN_xrGetInputSourceLocalizedName>("xrGetInputSourceLocalizedName");
    const XrInputSourceLocalizedNameGetInfo info {XR_TYPE_INPUT_SOURCE_LOCALIZED_NAME_GET_INFO, nullptr, kLeft,
                                                  XR_INPUT_SOURCE_LOCALIZED_NAME_USER_PATH_BIT};
    const std::string name = "Left Hand";  // 10 bytes with the NUL
    const Bytes withText = ByteBuilder().U32(10).Chars(name, 10);

    struct Case {
        uint32_t capacity;
        XrResult result;
        Bytes reply;
        uint32_t expectedCount;
        bool copied;
    };
    const Case cases[] = {
        {0, XR_SUCCESS, ByteBuilder().U32(10), 10, false},
        {9, XR_SUCCESS, withText, 10, false},
        {10, XR_SUCCESS, withText, 10, true},
        {32, XR_SUCCESS, withText, 10, true},
        {32, XR_SESSION_LOSS_PENDING, withText, 10, true},
        {32, XR_SESSION_NOT_FOCUSED, withText, 99, false},
        {4, XR_ERROR_SIZE_INSUFFICIENT, ByteBuilder().U32(10), 99, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("capacity " + std::to_string(c.capacity) + ", result " + std::to_string(c.result));
        char buffer[32];
        std::memset(buffer, 'x', sizeof buffer);
        uint32_t count = 99;
        service_.Reply(c.result, c.reply);
        EXPECT_EQ(localizedName(kSession, &info, c.capacity, &count, c.capacity == 0 ? nullptr : buffer), c.result);
        EXPECT_EQ(count, c.expectedCount);
        if (c.copied) {
            EXPECT_STREQ(buffer, name.c_str());
        } else {
            EXPECT_EQ(buffer[0], 'x');
        }
        EXPECT_EQ(BodyOf(service_.LastRequest(), 90015),
                  Bytes(ByteBuilder()
                            .U64(0x3000005)
                            .Header(XR_TYPE_INPUT_SOURCE_LOCALIZED_NAME_GET_INFO)
                            .U64(kLeft)
                            .U64(XR_INPUT_SOURCE_LOCALIZED_NAME_USER_PATH_BIT)
                            .U32(c.capacity)));
    }
}

}  // namespace
}  // namespace qor::test
