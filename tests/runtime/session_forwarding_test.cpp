// Sessions, spaces, views, view configurations and blend modes.
#include "tests/runtime/runtime_fixture.h"

#include <functional>

namespace qor::test {
namespace {

// The bindings as an application lays them out; the pointer values only identify objects.
struct D3D11Binding {
    XrStructureType type;
    const void* next;
    void* device;
};
struct TwoPointerBinding {  // D3D12 (device, queue) and OpenGL Win32 (hDC, hGLRC)
    XrStructureType type;
    const void* next;
    void* first;
    void* second;
};
struct VulkanBinding {
    XrStructureType type;
    const void* next;
    void* instance;
    void* physicalDevice;
    void* device;
    uint32_t queueFamilyIndex;
    uint32_t queueIndex;
};

template <typename Pointer = void*>
Pointer As(uint64_t value) {
    return reinterpret_cast<Pointer>(static_cast<uintptr_t>(value));
}
uint64_t ValueOf(const void* pointer) { return reinterpret_cast<uint64_t>(pointer); }

constexpr XrSystemId kSystem = 0x2000003;
constexpr XrViewConfigurationType kStereo = XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO;
const XrSpace kSpace = As<XrSpace>(0x7000001);
const XrSpace kBaseSpace = As<XrSpace>(0x7000002);
const XrAction kAction = As<XrAction>(0x9000004);
const XrPosef kPose {{0.125f, 0.25f, 0.5f, 0.75f}, {1.5f, -2.0f, 3.25f}};
const XrFovf kFov {-0.75f, 0.5f, 0.625f, -0.875f};

// When the reply body reaches the application's outputs, by the result of the reply.
enum class BodyRead { OnSuccess, OnSuccessOrLossPending, OnSuccessOrBoundsUnavailable, Always };
bool Reads(BodyRead rule, XrResult result) {
    switch (rule) {
        case BodyRead::OnSuccess: return result == XR_SUCCESS;
        case BodyRead::OnSuccessOrLossPending: return result == XR_SUCCESS || result == XR_SESSION_LOSS_PENDING;
        case BodyRead::OnSuccessOrBoundsUnavailable:
            return Reads(BodyRead::OnSuccessOrLossPending, result) || result == XR_SPACE_BOUNDS_UNAVAILABLE;
        case BodyRead::Always: return true;
    }
    return false;
}

Bytes Concat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}
Bytes ViewStateAndCount(uint64_t flags, uint32_t count, XrStructureType type = XR_TYPE_VIEW_STATE) {
    return ByteBuilder().Header(type).U64(flags).U32(count);
}
Bytes ViewRecord(XrStructureType type = XR_TYPE_VIEW, uint64_t next = 0, const XrFovf& fov = kFov) {
    return ByteBuilder().Header(type, next).Pose(kPose).F32(fov.angleLeft).F32(fov.angleRight).F32(fov.angleUp)
        .F32(fov.angleDown);
}
Bytes ConfigurationView(uint32_t first, XrStructureType type = XR_TYPE_VIEW_CONFIGURATION_VIEW) {
    return ByteBuilder().Header(type).U32(first).U32(first + 1).U32(first + 2).U32(first + 3).U32(first + 4)
        .U32(first + 5);
}

class SessionForwardingTest : public RuntimeTest {
protected:
    // xrEndFrame without layers is sent only for a session with a graphics record; for any
    // other it fails with XR_ERROR_SESSION_LOST.
    bool HasGraphicsRecord(XrSession session) {
        XrFrameEndInfo info {XR_TYPE_FRAME_END_INFO, nullptr, 1, XR_ENVIRONMENT_BLEND_MODE_OPAQUE, 0, nullptr};
        const size_t before = service_.RequestCount();
        const XrResult result = endFrame_(session, &info);
        const bool sent = service_.RequestCount() != before;
        EXPECT_EQ(result == XR_ERROR_SESSION_LOST, !sent);
        return sent;
    }
    XrResult LocateViews(uint32_t capacity, uint32_t* count, XrView* views, XrViewState* state = nullptr) {
        XrViewLocateInfo info {XR_TYPE_VIEW_LOCATE_INFO, nullptr, kStereo, 987654321, kSpace};
        XrViewState local {XR_TYPE_VIEW_STATE};
        return locateViews_(kSession, &info, state ? state : &local, capacity, count, views);
    }

    const PFN_xrCreateSession createSession_ = Get<PFN_xrCreateSession>("xrCreateSession");
    const PFN_xrDestroySession destroySession_ = Get<PFN_xrDestroySession>("xrDestroySession");
    const PFN_xrBeginSession beginSession_ = Get<PFN_xrBeginSession>("xrBeginSession");
    const PFN_xrEndSession endSession_ = Get<PFN_xrEndSession>("xrEndSession");
    const PFN_xrRequestExitSession requestExit_ = Get<PFN_xrRequestExitSession>("xrRequestExitSession");
    const PFN_xrEndFrame endFrame_ = Get<PFN_xrEndFrame>("xrEndFrame");
    const PFN_xrGetReferenceSpaceBoundsRect boundsRect_ =
        Get<PFN_xrGetReferenceSpaceBoundsRect>("xrGetReferenceSpaceBoundsRect");
    const PFN_xrEnumerateReferenceSpaces referenceSpaces_ =
        Get<PFN_xrEnumerateReferenceSpaces>("xrEnumerateReferenceSpaces");
    const PFN_xrCreateReferenceSpace createReferenceSpace_ = Get<PFN_xrCreateReferenceSpace>("xrCreateReferenceSpace");
    const PFN_xrCreateActionSpace createActionSpace_ = Get<PFN_xrCreateActionSpace>("xrCreateActionSpace");
    const PFN_xrDestroySpace destroySpace_ = Get<PFN_xrDestroySpace>("xrDestroySpace");
    const PFN_xrLocateSpace locateSpace_ = Get<PFN_xrLocateSpace>("xrLocateSpace");
    const PFN_xrLocateViews locateViews_ = Get<PFN_xrLocateViews>("xrLocateViews");
    const PFN_xrEnumerateViewConfigurations viewConfigurations_ =
        Get<PFN_xrEnumerateViewConfigurations>("xrEnumerateViewConfigurations");
    const PFN_xrGetViewConfigurationProperties configurationProperties_ =
        Get<PFN_xrGetViewConfigurationProperties>("xrGetViewConfigurationProperties");
    const PFN_xrEnumerateViewConfigurationViews configurationViews_ =
        Get<PFN_xrEnumerateViewConfigurationViews>("xrEnumerateViewConfigurationViews");
    const PFN_xrEnumerateEnvironmentBlendModes blendModes_ =
        Get<PFN_xrEnumerateEnvironmentBlendModes>("xrEnumerateEnvironmentBlendModes");
};

TEST_F(SessionForwardingTest, CreateSessionSendsTheBindingRecordAfterTheCreateInfo) {
    if (!HaveAppDevices()) GTEST_SKIP() << "no application graphics device on this machine";
    D3D11Binding d3d11 {XR_TYPE_GRAPHICS_BINDING_D3D11_KHR, nullptr, AppDevice(gpu::Api::D3D11)};
    TwoPointerBinding d3d12 {XR_TYPE_GRAPHICS_BINDING_D3D12_KHR, nullptr, AppDevice(gpu::Api::D3D12), AppQueue()};
    TwoPointerBinding openGl {XR_TYPE_GRAPHICS_BINDING_OPENGL_WIN32_KHR, nullptr, As(0xDC), As(0x61C)};
    // Structures the runtime does not know are skipped on the way to the binding.
    const XrBaseInStructure unknownThenD3D11 {static_cast<XrStructureType>(1000999001),
                                              reinterpret_cast<const XrBaseInStructure*>(&d3d11)};
    struct Case {
        const char* name;
        const void* binding;
        Bytes record;
        size_t size;
    };
    const Case cases[] = {
        {"no binding", nullptr, {}, 40},
        {"D3D11", &d3d11, ByteBuilder().Header(XR_TYPE_GRAPHICS_BINDING_D3D11_KHR).U64(ValueOf(d3d11.device)), 60},
        {"D3D11 behind an unknown structure", &unknownThenD3D11,
         ByteBuilder().Header(XR_TYPE_GRAPHICS_BINDING_D3D11_KHR).U64(ValueOf(d3d11.device)), 60},
        {"D3D12", &d3d12, ByteBuilder().Header(XR_TYPE_GRAPHICS_BINDING_D3D12_KHR).U64(ValueOf(d3d12.first)).U64(ValueOf(d3d12.second)), 68},
        {"OpenGL", &openGl, ByteBuilder().Header(XR_TYPE_GRAPHICS_BINDING_OPENGL_WIN32_KHR).U64(0xDC).U64(0x61C), 68},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        XrSessionCreateInfo info {XR_TYPE_SESSION_CREATE_INFO, c.binding, 0, kSystem};
        service_.Reply(XR_SUCCESS, ByteBuilder().U64(0x3000007));
        XrSession session = XR_NULL_HANDLE;
        ASSERT_EQ(createSession_(kInstance, &info, &session), XR_SUCCESS);
        EXPECT_EQ(ValueOf(session), 0x3000007u);
        const Bytes request = service_.LastRequest();
        EXPECT_EQ(request.size(), c.size);
        // The create info's next is the binding; its pointer value travels like any next.
        const Bytes head =
            ByteBuilder().U64(0x1000001).Header(XR_TYPE_SESSION_CREATE_INFO, ValueOf(c.binding)).U64(0).U64(kSystem);
        EXPECT_EQ(BodyOf(request, 70000), Concat(head, c.record));
    }
}

TEST_F(SessionForwardingTest, CreateSessionRefusesWhatItCannotForwardWithoutSending) {
    VulkanBinding vulkan {XR_TYPE_GRAPHICS_BINDING_VULKAN_KHR, nullptr, As(1), As(2), As(3), 0, 0};
    D3D11Binding d3d11 {XR_TYPE_GRAPHICS_BINDING_D3D11_KHR, nullptr, nullptr};
    TwoPointerBinding d3d12 {XR_TYPE_GRAPHICS_BINDING_D3D12_KHR, nullptr, nullptr, As(0x0E0E)};
    TwoPointerBinding openGl {XR_TYPE_GRAPHICS_BINDING_OPENGL_WIN32_KHR, nullptr, nullptr, As(0x61C)};
    struct Case {
        const char* name;
        XrStructureType type;
        const void* binding;
        XrResult expected;
    };
    const Case cases[] = {
        {"wrong type", XR_TYPE_SESSION_BEGIN_INFO, nullptr, XR_ERROR_VALIDATION_FAILURE},
        {"Vulkan", XR_TYPE_SESSION_CREATE_INFO, &vulkan, XR_ERROR_GRAPHICS_DEVICE_INVALID},
        {"D3D11 without device", XR_TYPE_SESSION_CREATE_INFO, &d3d11, XR_ERROR_GRAPHICS_DEVICE_INVALID},
        {"D3D12 without device", XR_TYPE_SESSION_CREATE_INFO, &d3d12, XR_ERROR_GRAPHICS_DEVICE_INVALID},
        {"OpenGL without hDC", XR_TYPE_SESSION_CREATE_INFO, &openGl, XR_ERROR_GRAPHICS_DEVICE_INVALID},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        XrSessionCreateInfo info {c.type, c.binding, 0, kSystem};
        XrSession session = XR_NULL_HANDLE;
        EXPECT_EQ(createSession_(kInstance, &info, &session), c.expected);
        EXPECT_EQ(session, XR_NULL_HANDLE);
    }
    XrSession session = XR_NULL_HANDLE;
    EXPECT_EQ(createSession_(kInstance, nullptr, &session), XR_ERROR_VALIDATION_FAILURE);
    EXPECT_EQ(service_.RequestCount(), 0u);
}

TEST_F(SessionForwardingTest, GraphicsRecordLivesFromCreateToSuccessfulDestroy) {
    if (!HaveAppDevices()) GTEST_SKIP() << "no application graphics device on this machine";
    D3D11Binding d3d11 {XR_TYPE_GRAPHICS_BINDING_D3D11_KHR, nullptr, AppDevice(gpu::Api::D3D11)};
    TwoPointerBinding openGl {XR_TYPE_GRAPHICS_BINDING_OPENGL_WIN32_KHR, nullptr, As(0xDC), As(0x61C)};
    const auto create = [&](const void* binding, XrResult answer) {
        XrSessionCreateInfo info {XR_TYPE_SESSION_CREATE_INFO, binding, 0, kSystem};
        XrSession session = XR_NULL_HANDLE;
        service_.Reply(answer, ByteBuilder().U64(ValueOf(kSession)));  // a handle to be ignored but on success
        EXPECT_EQ(createSession_(kInstance, &info, &session), answer);
        return session;
    };
    EXPECT_FALSE(HasGraphicsRecord(kSession));
    EXPECT_EQ(create(&d3d11, XR_ERROR_SYSTEM_INVALID), XR_NULL_HANDLE);
    EXPECT_EQ(create(&d3d11, XR_SESSION_LOSS_PENDING), XR_NULL_HANDLE);
    EXPECT_FALSE(HasGraphicsRecord(kSession));
    EXPECT_EQ(create(&openGl, XR_SUCCESS), kSession);  // forwarded, but nothing kept
    EXPECT_FALSE(HasGraphicsRecord(kSession));
    EXPECT_EQ(create(&d3d11, XR_SUCCESS), kSession);
    EXPECT_TRUE(HasGraphicsRecord(kSession));

    service_.Reply(XR_ERROR_SESSION_NOT_STOPPING);
    EXPECT_EQ(destroySession_(kSession), XR_ERROR_SESSION_NOT_STOPPING);
    EXPECT_TRUE(HasGraphicsRecord(kSession));
    EXPECT_EQ(destroySession_(kSession), XR_SUCCESS);
    EXPECT_FALSE(HasGraphicsRecord(kSession));
}

TEST_F(SessionForwardingTest, EachOperationSendsItsDocumentedBytes) {
    const uint64_t session = ValueOf(kSession);
    uint32_t count = 0;
    XrSpace space = XR_NULL_HANDLE;
    XrExtent2Df bounds {};
    XrReferenceSpaceType spaces[2] {};
    XrSpaceLocation location {XR_TYPE_SPACE_LOCATION};
    XrView views[2] {{XR_TYPE_VIEW}, {XR_TYPE_VIEW}};
    XrViewConfigurationType types[3] {};
    XrViewConfigurationProperties properties {XR_TYPE_VIEW_CONFIGURATION_PROPERTIES};
    XrViewConfigurationView configurationViews[2] {{XR_TYPE_VIEW_CONFIGURATION_VIEW}, {XR_TYPE_VIEW_CONFIGURATION_VIEW}};
    XrEnvironmentBlendMode modes[1] {};
    const XrSessionBeginInfo beginInfo {XR_TYPE_SESSION_BEGIN_INFO, nullptr, kStereo};
    const XrReferenceSpaceCreateInfo referenceInfo {XR_TYPE_REFERENCE_SPACE_CREATE_INFO, nullptr,
                                                    XR_REFERENCE_SPACE_TYPE_LOCAL, kPose};
    const XrActionSpaceCreateInfo actionInfo {XR_TYPE_ACTION_SPACE_CREATE_INFO, nullptr, kAction, 0x4400, kPose};
    struct Operation {
        const char* name;
        uint32_t code;
        size_t size;
        std::function<void()> call;
        Bytes body;
    };
    const Operation operations[] = {
        {"xrDestroySession", 70001, 12, [&] { destroySession_(kSession); }, ByteBuilder().U64(session)},
        {"xrBeginSession", 70002, 28, [&] { beginSession_(kSession, &beginInfo); },
         ByteBuilder().U64(session).Header(XR_TYPE_SESSION_BEGIN_INFO).U32(kStereo)},
        {"xrEndSession", 70003, 12, [&] { endSession_(kSession); }, ByteBuilder().U64(session)},
        {"xrRequestExitSession", 70004, 12, [&] { requestExit_(kSession); }, ByteBuilder().U64(session)},
        {"xrGetReferenceSpaceBoundsRect", 50000, 16, [&] { boundsRect_(kSession, XR_REFERENCE_SPACE_TYPE_STAGE, &bounds); },
         ByteBuilder().U64(session).U32(XR_REFERENCE_SPACE_TYPE_STAGE)},
        {"xrEnumerateReferenceSpaces", 50001, 16, [&] { referenceSpaces_(kSession, 2, &count, spaces); },
         ByteBuilder().U64(session).U32(2)},
        {"xrCreateReferenceSpace", 50002, 56, [&] { createReferenceSpace_(kSession, &referenceInfo, &space); },
         ByteBuilder().U64(session).Header(XR_TYPE_REFERENCE_SPACE_CREATE_INFO).U32(XR_REFERENCE_SPACE_TYPE_LOCAL).Pose(kPose)},
        {"xrCreateActionSpace", 50003, 68, [&] { createActionSpace_(kSession, &actionInfo, &space); },
         ByteBuilder().U64(session).Header(XR_TYPE_ACTION_SPACE_CREATE_INFO).U64(ValueOf(kAction)).U64(0x4400).Pose(kPose)},
        {"xrDestroySpace", 50004, 12, [&] { destroySpace_(kSpace); }, ByteBuilder().U64(ValueOf(kSpace))},
        {"xrLocateSpace", 50005, 40, [&] { locateSpace_(kSpace, kBaseSpace, 123456789, &location); },
         ByteBuilder().U64(ValueOf(kSpace)).U64(ValueOf(kBaseSpace)).I64(123456789).U32(XR_TYPE_SPACE_LOCATION).U64(0)},
        {"xrLocateViews", 80007, 48, [&] { LocateViews(2, &count, views); },
         ByteBuilder().U64(session).Header(XR_TYPE_VIEW_LOCATE_INFO).U32(kStereo).I64(987654321).U64(ValueOf(kSpace)).U32(2)},
        {"xrEnumerateViewConfigurations", 60000, 24, [&] { viewConfigurations_(kInstance, kSystem, 3, &count, types); },
         ByteBuilder().U64(0x1000001).U64(kSystem).U32(3)},
        {"xrGetViewConfigurationProperties", 60001, 24,
         [&] { configurationProperties_(kInstance, kSystem, kStereo, &properties); },
         ByteBuilder().U64(0x1000001).U64(kSystem).U32(kStereo)},
        {"xrEnumerateViewConfigurationViews", 60002, 28,
         [&] { configurationViews_(kInstance, kSystem, kStereo, 2, &count, configurationViews); },
         ByteBuilder().U64(0x1000001).U64(kSystem).U32(kStereo).U32(2)},
        {"xrEnumerateEnvironmentBlendModes", 80011, 28,
         [&] { blendModes_(kInstance, kSystem, kStereo, 1, &count, modes); },
         ByteBuilder().U64(0x1000001).U64(kSystem).U32(kStereo).U32(1)},
    };
    for (const Operation& operation : operations) {
        SCOPED_TRACE(operation.name);
        service_.ClearRequests();
        operation.call();
        ASSERT_EQ(service_.RequestCount(), 1u);
        const Bytes request = service_.LastRequest();
        EXPECT_EQ(request.size(), operation.size);
        EXPECT_EQ(BodyOf(request, operation.code), operation.body);
    }
}

TEST_F(SessionForwardingTest, InputStructuresAreCheckedBeforeSending) {
    XrSpace space = XR_NULL_HANDLE;
    uint32_t count = 0;
    const auto begin = [&](XrStructureType type, const void* next) {
        XrSessionBeginInfo info {type, next, kStereo};
        return beginSession_(kSession, &info);
    };
    const auto referenceSpace = [&](XrStructureType type, const void* next) {
        XrReferenceSpaceCreateInfo info {type, next, XR_REFERENCE_SPACE_TYPE_LOCAL, kPose};
        return createReferenceSpace_(kSession, &info, &space);
    };
    const auto actionSpace = [&](XrStructureType type, const void* next) {
        XrActionSpaceCreateInfo info {type, next, kAction, 0, kPose};
        return createActionSpace_(kSession, &info, &space);
    };
    const auto views = [&](XrStructureType type, const void* next) {
        XrViewLocateInfo info {type, next, kStereo, 1, kSpace};
        XrViewState state {XR_TYPE_VIEW_STATE};
        return locateViews_(kSession, &info, &state, 0, &count, nullptr);
    };
    const auto location = [&](XrStructureType type) {
        XrSpaceLocation out {type};
        return locateSpace_(kSpace, kBaseSpace, 1, &out);
    };
    struct Case {
        const char* name;
        std::function<XrResult()> call;
    };
    const Case cases[] = {
        {"begin info type", [&] { return begin(XR_TYPE_SESSION_CREATE_INFO, nullptr); }},
        {"no begin info", [&] { return beginSession_(kSession, nullptr); }},
        {"reference space type", [&] { return referenceSpace(XR_TYPE_ACTION_SPACE_CREATE_INFO, nullptr); }},
        {"action space type", [&] { return actionSpace(XR_TYPE_REFERENCE_SPACE_CREATE_INFO, nullptr); }},
        {"view locate type", [&] { return views(XR_TYPE_VIEW_STATE, nullptr); }},
        {"space location type", [&] { return location(XR_TYPE_VIEW_STATE); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), XR_ERROR_VALIDATION_FAILURE);
    }
    EXPECT_EQ(service_.RequestCount(), 0u);
}

TEST_F(SessionForwardingTest, ReplyBodyIsReadForTheResultsOfItsRule) {
    struct Case {
        const char* name;
        BodyRead rule;
        Bytes body;
        std::function<XrResult(bool* written)> call;
    };
    const Case cases[] = {
        {"xrCreateSession", BodyRead::OnSuccess, ByteBuilder().U64(0x3000009),
         [&](bool* written) {
             XrSessionCreateInfo info {XR_TYPE_SESSION_CREATE_INFO, nullptr, 0, kSystem};
             XrSession session = XR_NULL_HANDLE;
             const XrResult result = createSession_(kInstance, &info, &session);
             *written = session == As<XrSession>(0x3000009);
             return result;
         }},
        {"xrCreateReferenceSpace", BodyRead::OnSuccessOrLossPending, ByteBuilder().U64(0x7000009),
         [&](bool* written) {
             XrReferenceSpaceCreateInfo info {XR_TYPE_REFERENCE_SPACE_CREATE_INFO, nullptr, XR_REFERENCE_SPACE_TYPE_VIEW,
                                              kPose};
             XrSpace space = XR_NULL_HANDLE;
             const XrResult result = createReferenceSpace_(kSession, &info, &space);
             *written = space == As<XrSpace>(0x7000009);
             return result;
         }},
        {"xrCreateActionSpace", BodyRead::OnSuccessOrLossPending, ByteBuilder().U64(0x7000009),
         [&](bool* written) {
             XrActionSpaceCreateInfo info {XR_TYPE_ACTION_SPACE_CREATE_INFO, nullptr, kAction, 0, kPose};
             XrSpace space = XR_NULL_HANDLE;
             const XrResult result = createActionSpace_(kSession, &info, &space);
             *written = space == As<XrSpace>(0x7000009);
             return result;
         }},
        {"xrGetReferenceSpaceBoundsRect", BodyRead::OnSuccessOrBoundsUnavailable, ByteBuilder().F32(2.5f).F32(4.0f),
         [&](bool* written) {
             XrExtent2Df bounds {};
             const XrResult result = boundsRect_(kSession, XR_REFERENCE_SPACE_TYPE_STAGE, &bounds);
             *written = bounds.width == 2.5f && bounds.height == 4.0f;
             return result;
         }},
        {"xrLocateSpace", BodyRead::Always, ByteBuilder().Header(XR_TYPE_SPACE_LOCATION).U64(0xF).Pose(kPose),
         [&](bool* written) {
             XrSpaceLocation location {XR_TYPE_SPACE_LOCATION};
             const XrResult result = locateSpace_(kSpace, kBaseSpace, 1, &location);
             *written = location.locationFlags == 0xF && location.pose.orientation.x == kPose.orientation.x &&
                        location.pose.position.z == kPose.position.z;
             return result;
         }},
        {"xrLocateViews", BodyRead::OnSuccessOrLossPending, ViewStateAndCount(0xF, 2),
         [&](bool* written) {
             XrViewState state {XR_TYPE_VIEW_STATE};
             uint32_t count = 0;
             const XrResult result = LocateViews(0, &count, nullptr, &state);
             *written = count == 2 && state.viewStateFlags == 0xF;
             return result;
         }},
        {"xrEnumerateReferenceSpaces", BodyRead::OnSuccessOrLossPending, ByteBuilder().U32(2).U32(1).U32(2),
         [&](bool* written) {
             XrReferenceSpaceType spaces[2] {};
             uint32_t count = 0;
             const XrResult result = referenceSpaces_(kSession, 2, &count, spaces);
             *written = spaces[0] == XR_REFERENCE_SPACE_TYPE_VIEW && spaces[1] == XR_REFERENCE_SPACE_TYPE_LOCAL;
             return result;
         }},
        {"xrGetViewConfigurationProperties", BodyRead::OnSuccess,
         ByteBuilder().Header(XR_TYPE_VIEW_CONFIGURATION_PROPERTIES).U32(kStereo).U32(1),
         [&](bool* written) {
             XrViewConfigurationProperties properties {XR_TYPE_VIEW_CONFIGURATION_PROPERTIES};
             const XrResult result = configurationProperties_(kInstance, kSystem, kStereo, &properties);
             *written = properties.viewConfigurationType == kStereo && properties.fovMutable == XR_TRUE;
             return result;
         }},
        {"xrEnumerateViewConfigurations", BodyRead::OnSuccess, ByteBuilder().U32(1).U32(kStereo),
         [&](bool* written) {
             XrViewConfigurationType types[1] {};
             uint32_t count = 0;
             const XrResult result = viewConfigurations_(kInstance, kSystem, 1, &count, types);
             *written = count == 1 && types[0] == kStereo;
             return result;
         }},
        {"xrEnumerateViewConfigurationViews", BodyRead::OnSuccess,
         Concat(Concat(ByteBuilder().U32(2), ConfigurationView(10)), ConfigurationView(20)),
         [&](bool* written) {
             XrViewConfigurationView views[2] {{XR_TYPE_VIEW_CONFIGURATION_VIEW}, {XR_TYPE_VIEW_CONFIGURATION_VIEW}};
             uint32_t count = 0;
             const XrResult result = configurationViews_(kInstance, kSystem, kStereo, 2, &count, views);
             const XrViewConfigurationView& v = views[1];
             *written = count == 2 && views[0].recommendedImageRectWidth == 10 && v.recommendedImageRectWidth == 20 &&
                        v.maxImageRectWidth == 21 && v.recommendedImageRectHeight == 22 && v.maxImageRectHeight == 23 &&
                        v.recommendedSwapchainSampleCount == 24 && v.maxSwapchainSampleCount == 25;
             return result;
         }},
        {"xrEnumerateEnvironmentBlendModes", BodyRead::OnSuccess,
         ByteBuilder().U32(1).U32(XR_ENVIRONMENT_BLEND_MODE_OPAQUE),
         [&](bool* written) {
             XrEnvironmentBlendMode modes[1] {};
             uint32_t count = 0;
             const XrResult result = blendModes_(kInstance, kSystem, kStereo, 1, &count, modes);
             *written = modes[0] == XR_ENVIRONMENT_BLEND_MODE_OPAQUE;
             return result;
         }},
    };
    const XrResult results[] = {XR_SUCCESS, XR_SESSION_LOSS_PENDING, XR_SPACE_BOUNDS_UNAVAILABLE,
                                XR_SESSION_NOT_FOCUSED, XR_ERROR_SESSION_LOST};
    for (const Case& c : cases) {
        for (const XrResult answer : results) {
            SCOPED_TRACE(std::string(c.name) + " answered " + std::to_string(answer));
            service_.Reply(answer, c.body);
            bool written = false;
            EXPECT_EQ(c.call(&written), answer);
            EXPECT_EQ(written, Reads(c.rule, answer));
        }
    }
}

TEST_F(SessionForwardingTest, EnumerationCountsOnErrorAndWithoutAService) {
    struct Case {
        const char* name;
        bool storedOnError;
        Bytes body;  // the service's count, in the reply's shape
        std::function<XrResult(uint32_t* count)> call;
    };
    XrReferenceSpaceType spaces[1] {};
    XrEnvironmentBlendMode modes[1] {};
    XrViewConfigurationType types[1] {};
    XrViewConfigurationView configurationViews[1] {{XR_TYPE_VIEW_CONFIGURATION_VIEW}};
    XrView views[1] {{XR_TYPE_VIEW}};
    const Case cases[] = {
        {"xrEnumerateReferenceSpaces", true, ByteBuilder().U32(5),
         [&](uint32_t* count) { return referenceSpaces_(kSession, 1, count, spaces); }},
        {"xrEnumerateEnvironmentBlendModes", true, ByteBuilder().U32(5),
         [&](uint32_t* count) { return blendModes_(kInstance, kSystem, kStereo, 1, count, modes); }},
        {"xrEnumerateViewConfigurations", false, ByteBuilder().U32(5),
         [&](uint32_t* count) { return viewConfigurations_(kInstance, kSystem, 1, count, types); }},
        {"xrEnumerateViewConfigurationViews", false, ByteBuilder().U32(5),
         [&](uint32_t* count) { return configurationViews_(kInstance, kSystem, kStereo, 1, count, configurationViews); }},
        {"xrLocateViews", false, ViewStateAndCount(0xF, 5), [&](uint32_t* count) { return LocateViews(1, count, views); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service_.Reply(XR_ERROR_SIZE_INSUFFICIENT, c.body);
        uint32_t count = 99;
        EXPECT_EQ(c.call(&count), XR_ERROR_SIZE_INSUFFICIENT);
        EXPECT_EQ(count, c.storedOnError ? 5u : 99u);
    }
    service_.Stop();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " without a service");
        uint32_t count = 99;
        EXPECT_EQ(c.call(&count), XR_ERROR_RUNTIME_FAILURE);
        EXPECT_EQ(count, 0u);
    }
}

TEST_F(SessionForwardingTest, ReturnedStructuresOfAnotherTypeOrWithANextFailValidation) {
    const auto location = [&] {
        XrSpaceLocation out {XR_TYPE_SPACE_LOCATION};
        return locateSpace_(kSpace, kBaseSpace, 1, &out);
    };
    const auto views = [&] {
        XrView out[2] {{XR_TYPE_VIEW}, {XR_TYPE_VIEW}};
        uint32_t count = 0;
        return LocateViews(2, &count, out);
    };
    const auto properties = [&] {
        XrViewConfigurationProperties out {XR_TYPE_VIEW_CONFIGURATION_PROPERTIES};
        return configurationProperties_(kInstance, kSystem, kStereo, &out);
    };
    const auto configurationView = [&] {
        XrViewConfigurationView out[1] {{XR_TYPE_VIEW_CONFIGURATION_VIEW}};
        uint32_t count = 0;
        return configurationViews_(kInstance, kSystem, kStereo, 1, &count, out);
    };
    const Bytes twoViews = Concat(ViewRecord(), ViewRecord());
    struct Case {
        const char* name;
        Bytes reply;
        std::function<XrResult()> call;
    };
    const Case cases[] = {
        {"space location type", ByteBuilder().Header(XR_TYPE_VIEW).U64(0xF).Pose(kPose), location},
        {"space location next", ByteBuilder().Header(XR_TYPE_SPACE_LOCATION, 8).U64(0xF).Pose(kPose), location},
        {"view state type", Concat(ViewStateAndCount(0xF, 2, XR_TYPE_VIEW), twoViews), views},
        {"view type", Concat(ViewStateAndCount(0xF, 2), Concat(ViewRecord(), ViewRecord(XR_TYPE_VIEW_STATE))), views},
        {"view next", Concat(ViewStateAndCount(0xF, 2), Concat(ViewRecord(XR_TYPE_VIEW, 8), ViewRecord())), views},
        {"view configuration properties type",
         ByteBuilder().Header(XR_TYPE_VIEW_CONFIGURATION_VIEW).U32(kStereo).U32(0), properties},
        {"view configuration properties next",
         ByteBuilder().Header(XR_TYPE_VIEW_CONFIGURATION_PROPERTIES, 8).U32(kStereo).U32(0), properties},
        {"view configuration view type",
         Concat(ByteBuilder().U32(1), ConfigurationView(1, XR_TYPE_VIEW_CONFIGURATION_PROPERTIES)), configurationView},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        service_.Reply(XR_SUCCESS, c.reply);
        EXPECT_EQ(c.call(), XR_ERROR_VALIDATION_FAILURE);
    }
}

TEST_F(SessionForwardingTest, LocateViewsWithoutCapacityDeliversStateAndCountOnly) {
    XrViewState state {XR_TYPE_VIEW_STATE};
    uint32_t count = 0;
    service_.Reply(XR_SUCCESS, ViewStateAndCount(0xF, 2));
    ASSERT_EQ(LocateViews(0, &count, nullptr, &state), XR_SUCCESS);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(state.viewStateFlags, 0xFu);
    const Bytes request = service_.LastRequest();
    EXPECT_EQ(Bytes(request.end() - 4, request.end()), Bytes(ByteBuilder().U32(0)));

    XrView views[2] {{XR_TYPE_VIEW}, {XR_TYPE_VIEW}};
    const XrFovf right {-0.5f, 0.75f, 0.25f, -0.125f};
    service_.Reply(XR_SUCCESS, Concat(ViewStateAndCount(0x3, 2), Concat(ViewRecord(), ViewRecord(XR_TYPE_VIEW, 0, right))));
    ASSERT_EQ(LocateViews(2, &count, views, &state), XR_SUCCESS);
    EXPECT_EQ(state.viewStateFlags, 0x3u);
    EXPECT_EQ(views[0].pose.orientation.y, kPose.orientation.y);
    EXPECT_EQ(views[1].pose.position.z, kPose.position.z);
    EXPECT_EQ(views[0].fov.angleDown, kFov.angleDown);
    EXPECT_EQ(views[1].fov.angleLeft, right.angleLeft);
    EXPECT_EQ(views[1].fov.angleRight, right.angleRight);
}

TEST_F(SessionForwardingTest, LocateSpaceCopiesTheReplyAreaWhateverTheResult) {
    XrSpaceLocation location {XR_TYPE_SPACE_LOCATION};
    service_.Reply(XR_ERROR_HANDLE_INVALID, ByteBuilder().Header(XR_TYPE_SPACE_LOCATION).U64(0x3).Pose(kPose));
    EXPECT_EQ(locateSpace_(kSpace, kBaseSpace, 1, &location), XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(location.locationFlags, 0x3u);
    EXPECT_EQ(location.pose.position.y, kPose.position.y);

    // No exchange: the zero-filled reply area, not what an earlier call left there.
    service_.Stop();
    location.locationFlags = 0xFF;
    location.pose = kPose;
    EXPECT_EQ(locateSpace_(kSpace, kBaseSpace, 1, &location), XR_ERROR_RUNTIME_FAILURE);
    EXPECT_EQ(location.locationFlags, 0u);
    EXPECT_EQ(location.pose.orientation.w, 0.0f);
    EXPECT_EQ(location.pose.position.x, 0.0f);
}

}  // namespace
}  // namespace qor::test
