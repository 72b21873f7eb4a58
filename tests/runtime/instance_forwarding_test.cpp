// The instance-less calls, the instance, systems and names.
#include "tests/runtime/runtime_fixture.h"

#include <cstring>

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
    XrSystemGetInfo notDebugUtils {XR_TYPE_SYSTEM_GET_INFO};
    XrInstanceCreateInfo badNext = MakeCreateInfo(nullptr, 0);
    badNext.next = &notDebugUtils;
    EXPECT_EQ(create(&badNext, &instance), XR_ERROR_VALIDATION_FAILURE);
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

}  // namespace
}  // namespace qor::test
