// The instance-less calls, the instance, systems and names.
#include "tests/runtime/runtime_fixture.h"

#include <cstring>
#include <functional>

namespace qor::test {
namespace {

class InstanceForwardingTest : public RuntimeTest {};

XrInstanceCreateInfo MakeCreateInfo(const char* const* extensions, uint32_t count) {
    XrInstanceCreateInfo info {XR_TYPE_INSTANCE_CREATE_INFO};
    std::strcpy(info.applicationInfo.applicationName, "demo");
    info.applicationInfo.applicationVersion = 7;
    std::strcpy(info.applicationInfo.engineName, "engine");
    info.applicationInfo.engineVersion = 3;
    info.applicationInfo.apiVersion = XR_MAKE_VERSION(1, 0, 17);
    info.enabledExtensionCount = count;
    info.enabledExtensionNames = extensions;
    return info;
}

TEST_F(InstanceForwardingTest, CreateInstanceSendsExtensionIndicesAndTheExecutablePath) {
    auto create = Get<PFN_xrCreateInstance>("xrCreateInstance");
    const char* extensions[] = {"XR_KHR_D3D11_enable", "XR_FAKE_unknown", "XR_EXT_debug_utils"};
    XrInstanceCreateInfo info = MakeCreateInfo(extensions, 3);
    service_.Reply(XR_SUCCESS, ByteBuilder().U64(0x1000002));
    XrInstance instance = XR_NULL_HANDLE;
    ASSERT_EQ(create(&info, &instance), XR_SUCCESS);
    EXPECT_EQ(reinterpret_cast<uint64_t>(instance), 0x1000002u);

    const Bytes body = BodyOf(service_.LastRequest(), 20000);
    // The unknown name is left out: two indices, and the path starts right after them.
    ASSERT_EQ(body.size() + 4, 1340u + 4 * 2);
    const Bytes expectedHead = ByteBuilder()
                                   .U32(XR_TYPE_INSTANCE_CREATE_INFO)
                                   .U64(0)
                                   .U64(0)
                                   .Chars("demo", 128)
                                   .U32(7)
                                   .Chars("engine", 128)
                                   .U32(3)
                                   .U64(XR_MAKE_VERSION(1, 0, 17))
                                   .U32(0)
                                   .U32(2)
                                   .U32(8)
                                   .U32(17)
                                   .U32(1)
                                   .U64(0);
    EXPECT_EQ(Bytes(body.begin(), body.begin() + expectedHead.size()), expectedHead);
    // The path: UTF-16, ending in this test program's name, NUL-terminated and padded.
    std::u16string path(reinterpret_cast<const char16_t*>(body.data() + expectedHead.size()), 512);
    path.resize(path.find(u'\0'));
    const std::string narrow(path.begin(), path.end());
    EXPECT_NE(narrow.find("runtime_tests"), std::string::npos) << narrow;
}

TEST_F(InstanceForwardingTest, CreateInstanceRefusesMalformedInfoWithoutSending) {
    auto create = Get<PFN_xrCreateInstance>("xrCreateInstance");
    XrInstance instance;
    XrInstanceCreateInfo wrongType = MakeCreateInfo(nullptr, 0);
    wrongType.type = XR_TYPE_SYSTEM_GET_INFO;
    EXPECT_EQ(create(&wrongType, &instance), XR_ERROR_VALIDATION_FAILURE);
    EXPECT_EQ(create(nullptr, &instance), XR_ERROR_VALIDATION_FAILURE);
    EXPECT_EQ(service_.RequestCount(), 0u);

    // A debug-utils messenger in the chain is allowed; its pointer value travels, unread.
    XrDebugUtilsMessengerCreateInfoEXT messenger {XR_TYPE_DEBUG_UTILS_MESSENGER_CREATE_INFO_EXT};
    XrInstanceCreateInfo withMessenger = MakeCreateInfo(nullptr, 0);
    withMessenger.next = &messenger;
    service_.Reply(XR_ERROR_RUNTIME_FAILURE);
    EXPECT_EQ(create(&withMessenger, &instance), XR_ERROR_RUNTIME_FAILURE);
    const Bytes body = BodyOf(service_.LastRequest(), 20000);
    uint64_t next;
    std::memcpy(&next, body.data() + 4, 8);
    EXPECT_EQ(next, reinterpret_cast<uint64_t>(&messenger));
}

TEST_F(InstanceForwardingTest, ExtensionEnumerationStoresTheCountEvenOnError) {
    auto enumerate = Get<PFN_xrEnumerateInstanceExtensionProperties>("xrEnumerateInstanceExtensionProperties");
    uint32_t count = 99;
    service_.Reply(XR_ERROR_SIZE_INSUFFICIENT, ByteBuilder().U32(3));
    XrExtensionProperties properties[2] {{XR_TYPE_EXTENSION_PROPERTIES}, {XR_TYPE_EXTENSION_PROPERTIES}};
    EXPECT_EQ(enumerate(nullptr, 2, &count, properties), XR_ERROR_SIZE_INSUFFICIENT);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(BodyOf(service_.LastRequest(), 10001), Bytes(ByteBuilder().U64(0).U32(2)));

    service_.Reply(XR_SUCCESS, ByteBuilder()
                                   .U32(2)
                                   .Header(XR_TYPE_EXTENSION_PROPERTIES)
                                   .Chars("XR_KHR_D3D11_enable", 128)
                                   .U32(9)
                                   .Header(XR_TYPE_EXTENSION_PROPERTIES)
                                   .Chars("XR_KHR_D3D12_enable", 128)
                                   .U32(4));
    ASSERT_EQ(enumerate(nullptr, 2, &count, properties), XR_SUCCESS);
    EXPECT_EQ(count, 2u);
    EXPECT_STREQ(properties[1].extensionName, "XR_KHR_D3D12_enable");
    EXPECT_EQ(properties[0].extensionVersion, 9u);
}

TEST_F(InstanceForwardingTest, LayerNameLengthRules) {
    auto enumerate = Get<PFN_xrEnumerateInstanceExtensionProperties>("xrEnumerateInstanceExtensionProperties");
    uint32_t count = 0;
    const std::string longest(127, 'L');
    service_.Reply(XR_SUCCESS, ByteBuilder().U32(0));
    EXPECT_EQ(enumerate(longest.c_str(), 0, &count, nullptr), XR_SUCCESS);
    const Bytes body = BodyOf(service_.LastRequest(), 10001);
    EXPECT_EQ(body.size(), 8u + 128 + 4);
    EXPECT_EQ(body, Bytes(ByteBuilder().U64(128).Chars(longest, 128).U32(0)));

    const std::string tooLong(128, 'L');
    service_.ClearRequests();
    EXPECT_EQ(enumerate(tooLong.c_str(), 0, &count, nullptr), XR_ERROR_SIZE_INSUFFICIENT);
    EXPECT_EQ(service_.RequestCount(), 0u);
}

TEST_F(InstanceForwardingTest, ApiLayerEnumerationCountIsZeroWhenTheServiceIsGone) {
    auto enumerate = Get<PFN_xrEnumerateApiLayerProperties>("xrEnumerateApiLayerProperties");
    uint32_t count = 5;
    // This thread's first call probes for the service; make it while the service still runs.
    service_.Reply(XR_SUCCESS, ByteBuilder().U32(0));
    ASSERT_EQ(enumerate(0, &count, nullptr), XR_SUCCESS);
    service_.Stop();
    count = 5;
    EXPECT_EQ(enumerate(0, &count, nullptr), XR_ERROR_RUNTIME_FAILURE);
    EXPECT_EQ(count, 0u);
}

TEST_F(InstanceForwardingTest, NameFunctionsZeroFillAndCopyTheReturnedName) {
    auto resultToString = Get<PFN_xrResultToString>("xrResultToString");
    char buffer[XR_MAX_RESULT_STRING_SIZE];
    std::memset(buffer, 'x', sizeof buffer);
    service_.Reply(XR_SUCCESS, ByteBuilder().U64(22).Chars("XR_ERROR_SESSION_LOST", 22));
    ASSERT_EQ(resultToString(kInstance, XR_ERROR_SESSION_LOST, buffer), XR_SUCCESS);
    EXPECT_STREQ(buffer, "XR_ERROR_SESSION_LOST");
    EXPECT_EQ(buffer[63], '\0');
    EXPECT_EQ(BodyOf(service_.LastRequest(), 20003), Bytes(ByteBuilder().U64(0x1000001).I32(-17)));

    auto typeToString = Get<PFN_xrStructureTypeToString>("xrStructureTypeToString");
    std::memset(buffer, 'x', sizeof buffer);
    service_.Reply(XR_ERROR_INSTANCE_LOST);
    EXPECT_EQ(typeToString(kInstance, XR_TYPE_VIEW, buffer), XR_ERROR_INSTANCE_LOST);
    EXPECT_EQ(std::string(buffer, 64), std::string(64, '\0'));

    // A 63-character name arrives whole with its NUL.
    const std::string longest(63, 'N');
    service_.Reply(XR_SUCCESS, ByteBuilder().U64(64).Chars(longest, 64));
    ASSERT_EQ(typeToString(kInstance, XR_TYPE_VIEW, buffer), XR_SUCCESS);
    EXPECT_EQ(std::string(buffer), longest);
}

TEST_F(InstanceForwardingTest, PollEventCopiesByEventType) {
    auto poll = Get<PFN_xrPollEvent>("xrPollEvent");
    XrEventDataBuffer event {XR_TYPE_EVENT_DATA_BUFFER};
    // A session-state event: 40 bytes in its natural layout.
    service_.Reply(XR_SUCCESS, ByteBuilder()
                                   .U32(XR_TYPE_EVENT_DATA_SESSION_STATE_CHANGED)
                                   .Zeros(4)
                                   .U64(0)
                                   .U64(0x3000005)
                                   .U32(XR_SESSION_STATE_READY)
                                   .Zeros(4)
                                   .I64(123456));
    ASSERT_EQ(poll(kInstance, &event), XR_SUCCESS);
    const auto& changed = reinterpret_cast<const XrEventDataSessionStateChanged&>(event);
    EXPECT_EQ(changed.type, XR_TYPE_EVENT_DATA_SESSION_STATE_CHANGED);
    EXPECT_EQ(reinterpret_cast<uint64_t>(changed.session), 0x3000005u);
    EXPECT_EQ(changed.state, XR_SESSION_STATE_READY);
    EXPECT_EQ(changed.time, 123456);

    // An event type the library does not list sets only the type.
    std::memset(event.varying, 0x5A, sizeof event.varying);
    service_.Reply(XR_SUCCESS, ByteBuilder().U32(XR_TYPE_EVENT_DATA_VISIBILITY_MASK_CHANGED_KHR).Zeros(60));
    ASSERT_EQ(poll(kInstance, &event), XR_SUCCESS);
    EXPECT_EQ(event.type, XR_TYPE_EVENT_DATA_VISIBILITY_MASK_CHANGED_KHR);
    EXPECT_EQ(event.varying[0], 0x5A);

    service_.Reply(XR_EVENT_UNAVAILABLE);
    EXPECT_EQ(poll(kInstance, &event), XR_EVENT_UNAVAILABLE);
}

TEST_F(InstanceForwardingTest, SystemPropertiesFillTheApplicationsChain) {
    auto getProperties = Get<PFN_xrGetSystemProperties>("xrGetSystemProperties");
    XrSystemHandTrackingPropertiesEXT hand {XR_TYPE_SYSTEM_HAND_TRACKING_PROPERTIES_EXT};
    XrSystemProperties properties {XR_TYPE_SYSTEM_PROPERTIES, &hand};
    const auto reply = [] {
        return ByteBuilder()
            .Header(XR_TYPE_SYSTEM_PROPERTIES, 1)
            .U64(0x2000003)
            .U32(0x4E4F)
            .Chars("norvik_default_display", 256)
            .U32(2160)
            .U32(3840)
            .U32(16)
            .U32(1)
            .U32(1);
    };
    service_.Reply(XR_SUCCESS, reply().Header(XR_TYPE_SYSTEM_HAND_TRACKING_PROPERTIES_EXT).U32(1));
    ASSERT_EQ(getProperties(kInstance, 0x2000003, &properties), XR_SUCCESS);
    EXPECT_EQ(properties.systemId, 0x2000003u);
    EXPECT_STREQ(properties.systemName, "norvik_default_display");
    EXPECT_EQ(properties.graphicsProperties.maxSwapchainImageWidth, 3840u);
    EXPECT_EQ(properties.next, &hand);  // the reply's next values are never written
    EXPECT_EQ(hand.supportsHandTracking, XR_TRUE);
    EXPECT_EQ(BodyOf(service_.LastRequest(), 30001), Bytes(ByteBuilder().U64(0x1000001).U64(0x2000003)));

    // A chained structure whose record type differs fails the call.
    XrSystemEyeGazeInteractionPropertiesEXT gaze {XR_TYPE_SYSTEM_EYE_GAZE_INTERACTION_PROPERTIES_EXT};
    properties.next = &gaze;
    service_.Reply(XR_SUCCESS, reply().Header(XR_TYPE_SYSTEM_HAND_TRACKING_PROPERTIES_EXT).U32(1));
    EXPECT_EQ(getProperties(kInstance, 0x2000003, &properties), XR_ERROR_VALIDATION_FAILURE);

    service_.ClearRequests();
    EXPECT_EQ(getProperties(XR_NULL_HANDLE, 0x2000003, &properties), XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(service_.RequestCount(), 0u);
}

TEST_F(InstanceForwardingTest, WrongReturnedTypeIsAValidationFailure) {
    auto getInstanceProperties = Get<PFN_xrGetInstanceProperties>("xrGetInstanceProperties");
    XrInstanceProperties properties {XR_TYPE_INSTANCE_PROPERTIES};
    service_.Reply(XR_SUCCESS, ByteBuilder().Header(XR_TYPE_INSTANCE_PROPERTIES).U64(XR_MAKE_VERSION(1, 0, 17)).Chars("Norvik XR", 128));
    ASSERT_EQ(getInstanceProperties(kInstance, &properties), XR_SUCCESS);
    EXPECT_STREQ(properties.runtimeName, "Norvik XR");
    service_.Reply(XR_SUCCESS, ByteBuilder().Header(XR_TYPE_INSTANCE_PROPERTIES, 8).U64(1).Chars("x", 128));
    EXPECT_EQ(getInstanceProperties(kInstance, &properties), XR_ERROR_VALIDATION_FAILURE);
    service_.Reply(XR_SUCCESS, ByteBuilder().Header(XR_TYPE_VIEW).U64(1).Chars("x", 128));
    EXPECT_EQ(getInstanceProperties(kInstance, &properties), XR_ERROR_VALIDATION_FAILURE);
}

TEST_F(InstanceForwardingTest, GraphicsRequirementsSucceedEvenWithoutAService) {
    // Handed out only to an instance that enabled XR_KHR_D3D11_enable.
    const char* d3d11[] = {"XR_KHR_D3D11_enable"};
    const XrInstanceCreateInfo info = MakeCreateInfo(d3d11, 1);
    service_.Reply(XR_SUCCESS, ByteBuilder().U64(reinterpret_cast<uint64_t>(kInstance)));
    XrInstance instance = XR_NULL_HANDLE;
    ASSERT_EQ(Get<PFN_xrCreateInstance>("xrCreateInstance")(&info, &instance), XR_SUCCESS);
    auto requirements = Get<PFN_xrVoidFunction>("xrGetD3D11GraphicsRequirementsKHR");
    struct Requirements {
        XrStructureType type;
        void* next;
        uint32_t luidLow;
        int32_t luidHigh;
        int32_t minFeatureLevel;
    } out {XR_TYPE_GRAPHICS_REQUIREMENTS_D3D11_KHR, nullptr, 7, 7, 7};
    using Fn = XrResult(XRAPI_PTR*)(XrInstance, XrSystemId, Requirements*);
    auto call = reinterpret_cast<Fn>(requirements);
    service_.Reply(XR_SUCCESS, ByteBuilder().Header(XR_TYPE_GRAPHICS_REQUIREMENTS_D3D11_KHR).U32(0x1234).I32(5).U32(0xb000).Zeros(4));
    EXPECT_EQ(call(kInstance, 0x2000003, &out), XR_SUCCESS);
    EXPECT_EQ(out.luidLow, 0x1234u);
    EXPECT_EQ(out.luidHigh, 5);
    EXPECT_EQ(out.minFeatureLevel, 0xb000);
    service_.Stop();
    EXPECT_EQ(call(kInstance, 0x2000003, &out), XR_SUCCESS);
    EXPECT_EQ(out.luidLow, 0u);
    EXPECT_EQ(out.minFeatureLevel, 0);
    out.type = XR_TYPE_GRAPHICS_REQUIREMENTS_D3D12_KHR;
    EXPECT_EQ(call(kInstance, 0x2000003, &out), XR_ERROR_VALIDATION_FAILURE);
}

// A structure chained on an input that the runtime does not know is ignored: each input the
// library checks, with two such structures chained on it, still reaches the service.
TEST_F(InstanceForwardingTest, UnknownStructuresChainedOnInputsAreIgnored) {
    const XrBaseInStructure last {static_cast<XrStructureType>(1000999002), nullptr};
    const XrBaseInStructure chain {static_cast<XrStructureType>(1000999001), &last};
    const auto instance = kInstance;
    const auto session = kSession;
    const auto actionSet = reinterpret_cast<XrActionSet>(uint64_t {0x4000001});
    const auto action = reinterpret_cast<XrAction>(uint64_t {0x5000002});
    const auto swapchain = reinterpret_cast<XrSwapchain>(uint64_t {0x6000003});
    const auto space = reinterpret_cast<XrSpace>(uint64_t {0x7000004});
    // xrEndFrame waits for the session's GPU work first; a record without a device has none.
    runtime::LocalState::Get().AddSession(reinterpret_cast<uint64_t>(session), runtime::SessionGraphics {});
    XrInstance newInstance;
    XrSystemId system;
    XrSession newSession;
    XrSpace newSpace;
    XrActionSet newSet;
    XrAction newAction;
    uint32_t count;
    uint32_t index;
    XrFrameState frameState {XR_TYPE_FRAME_STATE};
    XrViewState viewState {XR_TYPE_VIEW_STATE};
    XrActionStateFloat floatState {XR_TYPE_ACTION_STATE_FLOAT};
    XrActionStateVector2f vectorState {XR_TYPE_ACTION_STATE_VECTOR2F};
    XrActionStatePose poseState {XR_TYPE_ACTION_STATE_POSE};
    const XrActionStateGetInfo getInfo {XR_TYPE_ACTION_STATE_GET_INFO, &chain, action, XR_NULL_PATH};
    const XrHapticActionInfo hapticInfo {XR_TYPE_HAPTIC_ACTION_INFO, &chain, action, XR_NULL_PATH};
    const XrHapticActionInfo plainHapticInfo {XR_TYPE_HAPTIC_ACTION_INFO, nullptr, action, XR_NULL_PATH};
    const XrHapticVibration vibration {XR_TYPE_HAPTIC_VIBRATION, &chain, 1, 0.0f, 1.0f};
    const auto* vibrationHeader = reinterpret_cast<const XrHapticBaseHeader*>(&vibration);
    const XrPosef identity {{0, 0, 0, 1}, {0, 0, 0}};

    struct Case {
        const char* name;
        uint32_t code;
        std::function<XrResult()> call;
    };
    const Case cases[] = {
        {"instance create info", 20000,
         [&] {
             XrInstanceCreateInfo info = MakeCreateInfo(nullptr, 0);
             info.next = &chain;
             return Get<PFN_xrCreateInstance>("xrCreateInstance")(&info, &newInstance);
         }},
        {"system get info", 30000,
         [&] {
             const XrSystemGetInfo info {XR_TYPE_SYSTEM_GET_INFO, &chain, XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY};
             return Get<PFN_xrGetSystem>("xrGetSystem")(instance, &info, &system);
         }},
        {"session create info without a binding", 70000,
         [&] {
             const XrSessionCreateInfo info {XR_TYPE_SESSION_CREATE_INFO, &chain, 0, 0x2000003};
             return Get<PFN_xrCreateSession>("xrCreateSession")(instance, &info, &newSession);
         }},
        {"session begin info", 70002,
         [&] {
             const XrSessionBeginInfo info {XR_TYPE_SESSION_BEGIN_INFO, &chain,
                                            XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO};
             return Get<PFN_xrBeginSession>("xrBeginSession")(session, &info);
         }},
        {"reference space create info", 50002,
         [&] {
             const XrReferenceSpaceCreateInfo info {XR_TYPE_REFERENCE_SPACE_CREATE_INFO, &chain,
                                                    XR_REFERENCE_SPACE_TYPE_LOCAL, identity};
             return Get<PFN_xrCreateReferenceSpace>("xrCreateReferenceSpace")(session, &info, &newSpace);
         }},
        {"action space create info", 50003,
         [&] {
             const XrActionSpaceCreateInfo info {XR_TYPE_ACTION_SPACE_CREATE_INFO, &chain, action, XR_NULL_PATH,
                                                 identity};
             return Get<PFN_xrCreateActionSpace>("xrCreateActionSpace")(session, &info, &newSpace);
         }},
        {"view locate info", 80007,
         [&] {
             const XrViewLocateInfo info {XR_TYPE_VIEW_LOCATE_INFO, &chain, XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO,
                                          1, space};
             return Get<PFN_xrLocateViews>("xrLocateViews")(session, &info, &viewState, 0, &count, nullptr);
         }},
        {"swapchain image acquire info", 80004,
         [&] {
             const XrSwapchainImageAcquireInfo info {XR_TYPE_SWAPCHAIN_IMAGE_ACQUIRE_INFO, &chain};
             return Get<PFN_xrAcquireSwapchainImage>("xrAcquireSwapchainImage")(swapchain, &info, &index);
         }},
        {"swapchain image wait info", 80005,
         [&] {
             const XrSwapchainImageWaitInfo info {XR_TYPE_SWAPCHAIN_IMAGE_WAIT_INFO, &chain, 0};
             return Get<PFN_xrWaitSwapchainImage>("xrWaitSwapchainImage")(swapchain, &info);
         }},
        {"frame wait info", 80008,
         [&] {
             const XrFrameWaitInfo info {XR_TYPE_FRAME_WAIT_INFO, &chain};
             return Get<PFN_xrWaitFrame>("xrWaitFrame")(session, &info, &frameState);
         }},
        {"frame begin info", 80009,
         [&] {
             const XrFrameBeginInfo info {XR_TYPE_FRAME_BEGIN_INFO, &chain};
             return Get<PFN_xrBeginFrame>("xrBeginFrame")(session, &info);
         }},
        {"frame end info", 80010,
         [&] {
             const XrFrameEndInfo info {XR_TYPE_FRAME_END_INFO, &chain, 1, XR_ENVIRONMENT_BLEND_MODE_OPAQUE, 0,
                                        nullptr};
             return Get<PFN_xrEndFrame>("xrEndFrame")(session, &info);
         }},
        {"action set create info", 90000,
         [&] {
             XrActionSetCreateInfo info {XR_TYPE_ACTION_SET_CREATE_INFO, &chain};
             std::strcpy(info.actionSetName, "set");
             std::strcpy(info.localizedActionSetName, "Set");
             return Get<PFN_xrCreateActionSet>("xrCreateActionSet")(instance, &info, &newSet);
         }},
        {"action create info", 90002,
         [&] {
             XrActionCreateInfo info {XR_TYPE_ACTION_CREATE_INFO, &chain};
             std::strcpy(info.actionName, "act");
             std::strcpy(info.localizedActionName, "Act");
             info.actionType = XR_ACTION_TYPE_BOOLEAN_INPUT;
             return Get<PFN_xrCreateAction>("xrCreateAction")(actionSet, &info, &newAction);
         }},
        {"suggested bindings", 90004,
         [&] {
             const XrInteractionProfileSuggestedBinding info {XR_TYPE_INTERACTION_PROFILE_SUGGESTED_BINDING, &chain,
                                                              0x1234, 0, nullptr};
             return Get<PFN_xrSuggestInteractionProfileBindings>("xrSuggestInteractionProfileBindings")(instance,
                                                                                                        &info);
         }},
        {"action sets attach info", 90005,
         [&] {
             const XrSessionActionSetsAttachInfo info {XR_TYPE_SESSION_ACTION_SETS_ATTACH_INFO, &chain, 1,
                                                       &actionSet};
             return Get<PFN_xrAttachSessionActionSets>("xrAttachSessionActionSets")(session, &info);
         }},
        {"float state get info", 90008,
         [&] { return Get<PFN_xrGetActionStateFloat>("xrGetActionStateFloat")(session, &getInfo, &floatState); }},
        {"vector2f state get info", 90009,
         [&] {
             return Get<PFN_xrGetActionStateVector2f>("xrGetActionStateVector2f")(session, &getInfo, &vectorState);
         }},
        {"pose state get info", 90010,
         [&] { return Get<PFN_xrGetActionStatePose>("xrGetActionStatePose")(session, &getInfo, &poseState); }},
        {"haptic action info", 90011,
         [&] {
             const XrHapticVibration plain {XR_TYPE_HAPTIC_VIBRATION, nullptr, 1, 0.0f, 1.0f};
             return Get<PFN_xrApplyHapticFeedback>("xrApplyHapticFeedback")(
                 session, &hapticInfo, reinterpret_cast<const XrHapticBaseHeader*>(&plain));
         }},
        {"haptic vibration", 90011,
         [&] {
             return Get<PFN_xrApplyHapticFeedback>("xrApplyHapticFeedback")(session, &plainHapticInfo,
                                                                             vibrationHeader);
         }},
        {"stop haptic action info", 90012,
         [&] { return Get<PFN_xrStopHapticFeedback>("xrStopHapticFeedback")(session, &hapticInfo); }},
        {"actions sync info", 90013,
         [&] {
             const XrActionsSyncInfo info {XR_TYPE_ACTIONS_SYNC_INFO, &chain, 0, nullptr};
             return Get<PFN_xrSyncActions>("xrSyncActions")(session, &info);
         }},
        {"bound sources enumerate info", 90014,
         [&] {
             const XrBoundSourcesForActionEnumerateInfo info {XR_TYPE_BOUND_SOURCES_FOR_ACTION_ENUMERATE_INFO, &chain,
                                                              action};
             return Get<PFN_xrEnumerateBoundSourcesForAction>("xrEnumerateBoundSourcesForAction")(session, &info, 0,
                                                                                                   &count, nullptr);
         }},
        {"localized name get info", 90015,
         [&] {
             const XrInputSourceLocalizedNameGetInfo info {XR_TYPE_INPUT_SOURCE_LOCALIZED_NAME_GET_INFO, &chain,
                                                           0x1234, XR_INPUT_SOURCE_LOCALIZED_NAME_USER_PATH_BIT};
             return Get<PFN_xrGetInputSourceLocalizedName>("xrGetInputSourceLocalizedName")(session, &info, 0,
                                                                                             &count, nullptr);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service_.ClearRequests();
        // The service's answer comes back: the call was sent, not refused on the way.
        service_.Reply(XR_ERROR_HANDLE_INVALID);
        EXPECT_EQ(c.call(), XR_ERROR_HANDLE_INVALID);
        ASSERT_EQ(service_.RequestCount(), 1u);
        BodyOf(service_.LastRequest(), c.code);
    }
}

}  // namespace
}  // namespace qor::test
