// Swapchains and the frame loop.
#include "tests/runtime/runtime_fixture.h"

#include <algorithm>
#include <functional>
#include <future>

namespace qor::test {
namespace {

struct D3D11Binding {
    XrStructureType type;
    const void* next;
    void* device;
};
struct D3D12Binding {
    XrStructureType type;
    const void* next;
    void* device;
    void* queue;
};
// XrSwapchainImageD3D11KHR and XrSwapchainImageD3D12KHR have this shape.
struct SwapchainImage {
    XrStructureType type;
    void* next;
    void* texture;
};

template <typename Pointer = void*>
Pointer As(uint64_t value) {
    return reinterpret_cast<Pointer>(static_cast<uintptr_t>(value));
}
uint64_t ValueOf(const void* pointer) { return reinterpret_cast<uint64_t>(pointer); }

const XrSwapchain kSwapchain = As<XrSwapchain>(0x6000001);
const XrSpace kSpace = As<XrSpace>(0x7000001);
const XrPosef kPose {{0.0f, 0.0f, 0.0f, 1.0f}, {0.25f, -0.5f, -2.0f}};
constexpr XrTime kDisplayTime = 7407407;

ByteBuilder& AppendFov(ByteBuilder& bytes, const XrFovf& fov) {
    return bytes.F32(fov.angleLeft).F32(fov.angleRight).F32(fov.angleUp).F32(fov.angleDown);
}
ByteBuilder& AppendRect(ByteBuilder& bytes, const XrRect2Di& rect) {
    return bytes.I32(rect.offset.x).I32(rect.offset.y).I32(rect.extent.width).I32(rect.extent.height);
}
Bytes FrameState(XrStructureType type = XR_TYPE_FRAME_STATE, uint64_t next = 0) {
    return ByteBuilder().Header(type, next).I64(kDisplayTime).I64(11111111).U32(XR_TRUE);
}
// A D3D12 image record: type, next, UTF-16 units of the share name with its NUL, the units.
Bytes D3D12ImageRecord(const std::u16string& name) {
    ByteBuilder bytes;
    bytes.Header(XR_TYPE_SWAPCHAIN_IMAGE_D3D12_KHR).U64(name.size() + 1).Raw(name.c_str(), 2 * (name.size() + 1));
    return bytes;
}

class FrameForwardingTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        if (!HaveAppDevices()) GTEST_SKIP() << "no application graphics device on this machine";
    }

    // A session created with this binding, then a swapchain of it; the requests are cleared.
    void CreateSessionAndSwapchain(XrSession session, const void* binding, XrSwapchain swapchain) {
        XrSessionCreateInfo info {XR_TYPE_SESSION_CREATE_INFO, binding, 0, 0x2000003};
        XrSession created = XR_NULL_HANDLE;
        service_.Reply(XR_SUCCESS, ByteBuilder().U64(ValueOf(session)));
        EXPECT_EQ(Get<PFN_xrCreateSession>("xrCreateSession")(kInstance, &info, &created), XR_SUCCESS);
        EXPECT_EQ(CreateSwapchain(session, swapchain, XR_SUCCESS), swapchain);
        service_.ClearRequests();
    }
    XrSwapchain CreateSwapchain(XrSession session, XrSwapchain handle, XrResult answer) {
        XrSwapchainCreateInfo info {XR_TYPE_SWAPCHAIN_CREATE_INFO};
        XrSwapchain swapchain = XR_NULL_HANDLE;
        service_.Reply(answer, ByteBuilder().U64(ValueOf(handle)));
        EXPECT_EQ(createSwapchain_(session, &info, &swapchain), answer);
        return swapchain;
    }
    // Enumerates with capacity 0: XR_ERROR_HANDLE_INVALID when the swapchain is not known.
    XrResult CountImages(XrSwapchain swapchain, uint32_t* count) { return images_(swapchain, 0, count, nullptr); }

    const PFN_xrEnumerateSwapchainFormats formats_ = Get<PFN_xrEnumerateSwapchainFormats>("xrEnumerateSwapchainFormats");
    const PFN_xrCreateSwapchain createSwapchain_ = Get<PFN_xrCreateSwapchain>("xrCreateSwapchain");
    const PFN_xrDestroySwapchain destroySwapchain_ = Get<PFN_xrDestroySwapchain>("xrDestroySwapchain");
    const PFN_xrEnumerateSwapchainImages images_ = Get<PFN_xrEnumerateSwapchainImages>("xrEnumerateSwapchainImages");
    const PFN_xrAcquireSwapchainImage acquire_ = Get<PFN_xrAcquireSwapchainImage>("xrAcquireSwapchainImage");
    const PFN_xrWaitSwapchainImage waitImage_ = Get<PFN_xrWaitSwapchainImage>("xrWaitSwapchainImage");
    const PFN_xrReleaseSwapchainImage release_ = Get<PFN_xrReleaseSwapchainImage>("xrReleaseSwapchainImage");
    const PFN_xrWaitFrame waitFrame_ = Get<PFN_xrWaitFrame>("xrWaitFrame");
    const PFN_xrBeginFrame beginFrame_ = Get<PFN_xrBeginFrame>("xrBeginFrame");
    const PFN_xrEndFrame endFrame_ = Get<PFN_xrEndFrame>("xrEndFrame");
    D3D11Binding d3d11_ {XR_TYPE_GRAPHICS_BINDING_D3D11_KHR, nullptr, AppDevice(gpu::Api::D3D11)};
    D3D12Binding d3d12_ {XR_TYPE_GRAPHICS_BINDING_D3D12_KHR, nullptr, AppDevice(gpu::Api::D3D12), AppQueue()};
};

TEST_F(FrameForwardingTest, EachOperationSendsItsDocumentedBytes) {
    CreateSessionAndSwapchain(kSession, &d3d11_, kSwapchain);
    const uint64_t session = ValueOf(kSession);
    const uint64_t swapchain = ValueOf(kSwapchain);
    uint32_t count = 0;
    uint32_t index = 0;
    int64_t formatList[4] {};
    XrSwapchain created = XR_NULL_HANDLE;
    XrFrameState state {XR_TYPE_FRAME_STATE};
    // XrSwapchainCreateInfo is checked for its type only: a chained structure's pointer value travels.
    XrEventDataBuffer chained {XR_TYPE_EVENT_DATA_BUFFER};
    const XrSwapchainCreateInfo createInfo {XR_TYPE_SWAPCHAIN_CREATE_INFO, &chained, 0x1, 0x21, 29, 1, 1920, 1080, 1, 2, 1};
    const XrSwapchainImageAcquireInfo acquireInfo {XR_TYPE_SWAPCHAIN_IMAGE_ACQUIRE_INFO};
    const XrSwapchainImageWaitInfo waitInfo {XR_TYPE_SWAPCHAIN_IMAGE_WAIT_INFO, nullptr, XR_INFINITE_DURATION};
    const XrSwapchainImageReleaseInfo releaseInfo {XR_TYPE_SWAPCHAIN_IMAGE_RELEASE_INFO};
    const XrFrameWaitInfo frameWaitInfo {XR_TYPE_FRAME_WAIT_INFO};
    const XrFrameBeginInfo frameBeginInfo {XR_TYPE_FRAME_BEGIN_INFO};
    const XrFrameEndInfo frameEndInfo {XR_TYPE_FRAME_END_INFO, nullptr, kDisplayTime, XR_ENVIRONMENT_BLEND_MODE_OPAQUE};
    struct Operation {
        const char* name;
        uint32_t code;
        size_t size;
        std::function<void()> call;
        Bytes start;  // the body, or its meaningful start when ignored bytes follow
    };
    const Operation operations[] = {
        {"xrEnumerateSwapchainFormats", 80000, 16, [&] { formats_(kSession, 4, &count, formatList); },
         ByteBuilder().U64(session).U32(4)},
        {"xrCreateSwapchain", 80001, 72, [&] { createSwapchain_(kSession, &createInfo, &created); },
         ByteBuilder().U64(session).Header(XR_TYPE_SWAPCHAIN_CREATE_INFO, ValueOf(&chained)).U64(0x1).U64(0x21).I64(29)
             .U32(1).U32(1920).U32(1080).U32(1).U32(2).U32(1)},
        {"xrDestroySwapchain", 80002, 12, [&] { destroySwapchain_(As<XrSwapchain>(0x6000009)); },
         ByteBuilder().U64(0x6000009)},
        {"xrEnumerateSwapchainImages", 80003, 16, [&] { images_(kSwapchain, 0, &count, nullptr); },
         ByteBuilder().U64(swapchain).U32(0)},
        {"xrAcquireSwapchainImage without info", 80004, 16, [&] { acquire_(kSwapchain, nullptr, &index); },
         ByteBuilder().U64(swapchain).U32(0)},
        {"xrAcquireSwapchainImage with info", 80004, 24, [&] { acquire_(kSwapchain, &acquireInfo, &index); },
         ByteBuilder().U64(swapchain).Header(XR_TYPE_SWAPCHAIN_IMAGE_ACQUIRE_INFO)},
        {"xrWaitSwapchainImage", 80005, 32, [&] { waitImage_(kSwapchain, &waitInfo); },
         ByteBuilder().U64(swapchain).Header(XR_TYPE_SWAPCHAIN_IMAGE_WAIT_INFO).I64(XR_INFINITE_DURATION)},
        {"xrReleaseSwapchainImage", 80006, 28, [&] { release_(kSwapchain, &releaseInfo); }, ByteBuilder().U64(swapchain)},
        {"xrWaitFrame without info", 80008, 16, [&] { waitFrame_(kSession, nullptr, &state); },
         ByteBuilder().U64(session).U32(0)},
        {"xrWaitFrame with info", 80008, 24, [&] { waitFrame_(kSession, &frameWaitInfo, &state); },
         ByteBuilder().U64(session).Header(XR_TYPE_FRAME_WAIT_INFO)},
        {"xrBeginFrame without info", 80009, 16, [&] { beginFrame_(kSession, nullptr); },
         ByteBuilder().U64(session).U32(0)},
        {"xrBeginFrame with info", 80009, 24, [&] { beginFrame_(kSession, &frameBeginInfo); },
         ByteBuilder().U64(session).Header(XR_TYPE_FRAME_BEGIN_INFO)},
        {"xrEndFrame without layers", 80010, 40, [&] { endFrame_(kSession, &frameEndInfo); },
         ByteBuilder().U64(session).Header(XR_TYPE_FRAME_END_INFO).I64(kDisplayTime).U32(XR_ENVIRONMENT_BLEND_MODE_OPAQUE)
             .U32(0)},
    };
    for (const Operation& operation : operations) {
        SCOPED_TRACE(operation.name);
        service_.ClearRequests();
        operation.call();
        ASSERT_EQ(service_.RequestCount(), 1u);
        const Bytes request = service_.LastRequest();
        ASSERT_EQ(request.size(), operation.size);
        const Bytes body = BodyOf(request, operation.code);
        EXPECT_EQ(Bytes(body.begin(), body.begin() + operation.start.size()), operation.start);
    }
}

TEST_F(FrameForwardingTest, EndFrameSendsEachLayerRecordInOrder) {
    CreateSessionAndSwapchain(kSession, &d3d11_, kSwapchain);
    XrCompositionLayerProjectionView views[2] {};
    for (uint32_t eye = 0; eye < 2; ++eye) {
        views[eye] = {XR_TYPE_COMPOSITION_LAYER_PROJECTION_VIEW, nullptr, kPose,
                      {-0.5f - eye, 0.5f + eye, 0.25f * eye, -0.75f},
                      {kSwapchain, {{static_cast<int32_t>(960 * eye), 8}, {960, 1072}}, eye}};
        views[eye].pose.position.x += 0.0625f * eye;
    }
    XrCompositionLayerProjection projection {XR_TYPE_COMPOSITION_LAYER_PROJECTION, nullptr,
                                             XR_COMPOSITION_LAYER_BLEND_TEXTURE_SOURCE_ALPHA_BIT, kSpace, 2, views};
    XrCompositionLayerQuad quad {XR_TYPE_COMPOSITION_LAYER_QUAD, nullptr,
                                 XR_COMPOSITION_LAYER_CORRECT_CHROMATIC_ABERRATION_BIT, As<XrSpace>(0x7000002),
                                 XR_EYE_VISIBILITY_RIGHT, {As<XrSwapchain>(0x6000002), {{4, 6}, {640, 360}}, 1},
                                 kPose, {1.5f, 0.75f}};
    const XrCompositionLayerBaseHeader* layers[] = {
        reinterpret_cast<const XrCompositionLayerBaseHeader*>(&projection),
        reinterpret_cast<const XrCompositionLayerBaseHeader*>(&quad)};

    ByteBuilder projectionBytes;
    projectionBytes.U32(XR_TYPE_COMPOSITION_LAYER_PROJECTION).U64(0)
        .U64(XR_COMPOSITION_LAYER_BLEND_TEXTURE_SOURCE_ALPHA_BIT).U64(ValueOf(kSpace)).U32(2);
    for (const XrCompositionLayerProjectionView& view : views) {
        projectionBytes.Header(XR_TYPE_COMPOSITION_LAYER_PROJECTION_VIEW).Pose(view.pose);
        AppendFov(projectionBytes, view.fov).U64(ValueOf(kSwapchain));
        AppendRect(projectionBytes, view.subImage.imageRect).U32(view.subImage.imageArrayIndex).Zeros(4);
    }
    ByteBuilder quadBytes;
    quadBytes.U32(XR_TYPE_COMPOSITION_LAYER_QUAD).U64(0).U64(XR_COMPOSITION_LAYER_CORRECT_CHROMATIC_ABERRATION_BIT)
        .U64(0x7000002).U32(XR_EYE_VISIBILITY_RIGHT).U64(0x6000002);
    AppendRect(quadBytes, quad.subImage.imageRect).U32(1).Zeros(4).Pose(kPose).F32(1.5f).F32(0.75f);
    ASSERT_EQ(projectionBytes.Get().size(), 32u + 2 * 88);
    ASSERT_EQ(quadBytes.Get().size(), 100u);

    // The padding after each image array index carries nothing: compared as zeros.
    const size_t firstView = 40 + 32;
    const size_t viewPadding = 4 + 8 + 28 + 16 + 8 + 16 + 4;  // within an 88-byte view record
    const size_t quadPadding = 32 + 8 + 16 + 4;               // within the 100-byte quad layer
    struct Case {
        uint32_t layerCount;
        size_t size;
        std::vector<size_t> paddings;
        Bytes layerBytes;
    };
    Bytes both = projectionBytes;
    both.insert(both.end(), quadBytes.Get().begin(), quadBytes.Get().end());
    const Case cases[] = {
        {1, 248, {firstView + viewPadding, firstView + 88 + viewPadding}, projectionBytes},
        {2, 348, {firstView + viewPadding, firstView + 88 + viewPadding, 248 + quadPadding}, both},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.layerCount);
        XrFrameEndInfo info {XR_TYPE_FRAME_END_INFO, nullptr, kDisplayTime, XR_ENVIRONMENT_BLEND_MODE_OPAQUE,
                             c.layerCount, layers};
        service_.Reply(XR_ERROR_POSE_INVALID);
        EXPECT_EQ(endFrame_(kSession, &info), XR_ERROR_POSE_INVALID);  // the service's result, as is
        Bytes expected = ByteBuilder().U32(80010).U64(ValueOf(kSession)).Header(XR_TYPE_FRAME_END_INFO).I64(kDisplayTime)
                             .U32(XR_ENVIRONMENT_BLEND_MODE_OPAQUE).U32(c.layerCount);
        expected.insert(expected.end(), c.layerBytes.begin(), c.layerBytes.end());
        const Bytes request = service_.LastRequest();
        ASSERT_EQ(request.size(), c.size);
        Bytes masked = request;
        for (const size_t offset : c.paddings) std::fill_n(masked.begin() + offset, 4, 0);
        EXPECT_EQ(masked, expected);
    }
}

TEST_F(FrameForwardingTest, EndFrameRequestsOf8192BytesOrMoreAreNotSent) {
    CreateSessionAndSwapchain(kSession, &d3d11_, kSwapchain);
    struct Case {
        uint32_t views;
        uint32_t quads;
        size_t size;  // 40 + 32 + 88 × views + 100 × quads
        bool sent;
    };
    const Case cases[] = {{82, 9, 8188, true}, {90, 2, 8192, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        std::vector<XrCompositionLayerProjectionView> views(
            c.views, {XR_TYPE_COMPOSITION_LAYER_PROJECTION_VIEW, nullptr, kPose, {}, {kSwapchain, {}, 0}});
        XrCompositionLayerProjection projection {XR_TYPE_COMPOSITION_LAYER_PROJECTION, nullptr, 0, kSpace, c.views,
                                                 views.data()};
        XrCompositionLayerQuad quad {XR_TYPE_COMPOSITION_LAYER_QUAD};
        quad.pose = kPose;
        std::vector<const XrCompositionLayerBaseHeader*> layers(
            1 + c.quads, reinterpret_cast<const XrCompositionLayerBaseHeader*>(&quad));
        layers[0] = reinterpret_cast<const XrCompositionLayerBaseHeader*>(&projection);
        XrFrameEndInfo info {XR_TYPE_FRAME_END_INFO, nullptr, kDisplayTime, XR_ENVIRONMENT_BLEND_MODE_OPAQUE,
                             static_cast<uint32_t>(layers.size()), layers.data()};
        service_.ClearRequests();
        EXPECT_EQ(endFrame_(kSession, &info), c.sent ? XR_SUCCESS : XR_ERROR_RUNTIME_FAILURE);
        EXPECT_EQ(service_.RequestCount(), c.sent ? 1u : 0u);
        if (c.sent) {
            EXPECT_EQ(service_.LastRequest().size(), c.size);
        }
    }
}

TEST_F(FrameForwardingTest, LocalFailuresSendNothing) {
    CreateSessionAndSwapchain(kSession, &d3d11_, kSwapchain);
    // A session without a binding has no graphics record; its swapchain is known all the same.
    const XrSession bare = As<XrSession>(0x3000008);
    const XrSwapchain bareSwapchain = As<XrSwapchain>(0x6000008);
    CreateSessionAndSwapchain(bare, nullptr, bareSwapchain);

    XrCompositionLayerCubeKHR cube {XR_TYPE_COMPOSITION_LAYER_CUBE_KHR};
    XrCompositionLayerProjection noViews {XR_TYPE_COMPOSITION_LAYER_PROJECTION, nullptr, 0, kSpace, 2, nullptr};
    const auto end = [&](XrSession session, XrStructureType type, const void* next,
                         std::vector<const void*> layers) {
        XrFrameEndInfo info {type, next, kDisplayTime, XR_ENVIRONMENT_BLEND_MODE_OPAQUE,
                             static_cast<uint32_t>(layers.size()),
                             reinterpret_cast<const XrCompositionLayerBaseHeader* const*>(layers.data())};
        return endFrame_(session, &info);
    };
    const XrFrameEndInfo countWithoutLayers {XR_TYPE_FRAME_END_INFO, nullptr, kDisplayTime,
                                             XR_ENVIRONMENT_BLEND_MODE_OPAQUE, 1, nullptr};
    uint32_t count = 0;
    uint32_t index = 0;
    XrFrameState state {XR_TYPE_FRAME_STATE};
    const auto createWith = [&](XrStructureType type) {
        XrSwapchainCreateInfo info {type};
        XrSwapchain swapchain = XR_NULL_HANDLE;
        return createSwapchain_(kSession, &info, &swapchain);
    };
    const auto acquireWith = [&](XrStructureType type, const void* next) {
        XrSwapchainImageAcquireInfo info {type, next};
        return acquire_(kSwapchain, &info, &index);
    };
    const auto waitImageWith = [&](XrStructureType type, const void* next) {
        XrSwapchainImageWaitInfo info {type, next, 0};
        return waitImage_(kSwapchain, &info);
    };
    const auto waitFrameWith = [&](XrStructureType type, const void* next) {
        XrFrameWaitInfo info {type, next};
        return waitFrame_(kSession, &info, &state);
    };
    const auto beginFrameWith = [&](XrStructureType type, const void* next) {
        XrFrameBeginInfo info {type, next};
        return beginFrame_(kSession, &info);
    };
    const XrStructureType endInfo = XR_TYPE_FRAME_END_INFO;
    const XrResult invalid = XR_ERROR_VALIDATION_FAILURE;
    struct Case {
        const char* name;
        XrResult expected;
        std::function<XrResult()> call;
    };
    const Case cases[] = {
        {"end info type", invalid, [&] { return end(kSession, XR_TYPE_FRAME_BEGIN_INFO, nullptr, {}); }},
        {"no end info", invalid, [&] { return endFrame_(kSession, nullptr); }},
        {"NULL layer", XR_ERROR_LAYER_INVALID, [&] { return end(kSession, endInfo, nullptr, {nullptr}); }},
        {"cube layer", XR_ERROR_LAYER_INVALID, [&] { return end(kSession, endInfo, nullptr, {&cube}); }},
        {"projection without views", XR_ERROR_LAYER_INVALID, [&] { return end(kSession, endInfo, nullptr, {&noViews}); }},
        {"layer count without layers", XR_ERROR_LAYER_INVALID, [&] { return endFrame_(kSession, &countWithoutLayers); }},
        // The layers are checked before the session's graphics record.
        {"NULL layer, no graphics record", XR_ERROR_LAYER_INVALID, [&] { return end(bare, endInfo, nullptr, {nullptr}); }},
        {"no graphics record", XR_ERROR_SESSION_LOST, [&] { return end(bare, endInfo, nullptr, {}); }},
        {"images of an unknown swapchain", XR_ERROR_HANDLE_INVALID,
         [&] { return images_(As<XrSwapchain>(0x6000099), 0, &count, nullptr); }},
        {"images without graphics record", XR_ERROR_SESSION_LOST, [&] { return images_(bareSwapchain, 0, &count, nullptr); }},
        {"swapchain create info type", invalid, [&] { return createWith(XR_TYPE_SESSION_CREATE_INFO); }},
        {"acquire info type", invalid, [&] { return acquireWith(XR_TYPE_SWAPCHAIN_IMAGE_RELEASE_INFO, nullptr); }},
        {"image wait info type", invalid, [&] { return waitImageWith(XR_TYPE_FRAME_WAIT_INFO, nullptr); }},
        {"frame wait info type", invalid, [&] { return waitFrameWith(XR_TYPE_FRAME_BEGIN_INFO, nullptr); }},
        {"frame begin info type", invalid, [&] { return beginFrameWith(XR_TYPE_FRAME_WAIT_INFO, nullptr); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), c.expected);
    }
    EXPECT_EQ(service_.RequestCount(), 0u);
}

TEST_F(FrameForwardingTest, SwapchainImagesAreCountedWithoutCapacityAndTypeCheckedWithIt) {
    CreateSessionAndSwapchain(kSession, &d3d11_, kSwapchain);
    const auto asBase = [](SwapchainImage* image) { return reinterpret_cast<XrSwapchainImageBaseHeader*>(image); };
    uint32_t count = 0;
    service_.Reply(XR_SUCCESS, ByteBuilder().U32(3).Header(XR_TYPE_SWAPCHAIN_IMAGE_D3D11_KHR).U64(0x44));
    EXPECT_EQ(images_(kSwapchain, 0, &count, nullptr), XR_SUCCESS);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(BodyOf(service_.LastRequest(), 80003), Bytes(ByteBuilder().U64(ValueOf(kSwapchain)).U32(0)));

    // D3D11: every element must be an XrSwapchainImageD3D11KHR.
    SwapchainImage d3d11[2] {{XR_TYPE_SWAPCHAIN_IMAGE_D3D12_KHR}, {XR_TYPE_SWAPCHAIN_IMAGE_D3D12_KHR}};
    service_.Reply(XR_SUCCESS, ByteBuilder()
                                   .U32(2)
                                   .Header(XR_TYPE_SWAPCHAIN_IMAGE_D3D11_KHR)
                                   .U64(0x44)
                                   .Header(XR_TYPE_SWAPCHAIN_IMAGE_D3D11_KHR)
                                   .U64(0x48));
    EXPECT_EQ(images_(kSwapchain, 2, &count, asBase(d3d11)), XR_ERROR_VALIDATION_FAILURE);
    EXPECT_EQ(d3d11[0].texture, nullptr);

    // D3D12: every element must be an XrSwapchainImageD3D12KHR.
    const XrSession d3d12Session = As<XrSession>(0x3000006);
    const XrSwapchain d3d12Swapchain = As<XrSwapchain>(0x6000002);
    CreateSessionAndSwapchain(d3d12Session, &d3d12_, d3d12Swapchain);
    SwapchainImage d3d12[1] {{XR_TYPE_SWAPCHAIN_IMAGE_D3D11_KHR}};
    Bytes reply = ByteBuilder().U32(1);
    const Bytes record = D3D12ImageRecord(u"DX11_Shared_Texture_Swapchain0_Image0");
    reply.insert(reply.end(), record.begin(), record.end());
    service_.Reply(XR_SUCCESS, reply);
    EXPECT_EQ(images_(d3d12Swapchain, 1, &count, asBase(d3d12)), XR_ERROR_VALIDATION_FAILURE);
    EXPECT_EQ(d3d12[0].texture, nullptr);
    EXPECT_EQ(service_.RequestCount(), 1u);
}

TEST_F(FrameForwardingTest, SwapchainOwnershipFollowsCreateAndDestroy) {
    CreateSessionAndSwapchain(kSession, &d3d11_, kSwapchain);
    uint32_t count = 0;
    // XR_SESSION_LOSS_PENDING delivers a swapchain too; an error does not.
    const XrSwapchain pending = As<XrSwapchain>(0x6000002);
    EXPECT_EQ(CreateSwapchain(kSession, pending, XR_SESSION_LOSS_PENDING), pending);
    EXPECT_EQ(CreateSwapchain(kSession, As<XrSwapchain>(0x6000003), XR_ERROR_SESSION_LOST), XR_NULL_HANDLE);
    EXPECT_EQ(CountImages(pending, &count), XR_SUCCESS);
    EXPECT_EQ(CountImages(As<XrSwapchain>(0x6000003), &count), XR_ERROR_HANDLE_INVALID);

    // The local state goes even when the service refuses the destruction.
    service_.Reply(XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(destroySwapchain_(kSwapchain), XR_ERROR_HANDLE_INVALID);
    service_.ClearRequests();
    EXPECT_EQ(CountImages(kSwapchain, &count), XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(service_.RequestCount(), 0u);
    EXPECT_EQ(destroySwapchain_(pending), XR_SUCCESS);
    EXPECT_EQ(CountImages(pending, &count), XR_ERROR_HANDLE_INVALID);
}

TEST_F(FrameForwardingTest, ReplyBodyIsReadForTheResultsOfItsRule) {
    CreateSessionAndSwapchain(kSession, &d3d11_, kSwapchain);
    struct Case {
        const char* name;
        bool always;  // else on XR_SUCCESS and XR_SESSION_LOSS_PENDING only
        Bytes body;
        std::function<XrResult(bool* written)> call;
    };
    const Case cases[] = {
        {"xrEnumerateSwapchainFormats", false, ByteBuilder().U32(2).I64(29).I64(91),
         [&](bool* written) {
             int64_t list[2] {};
             uint32_t count = 0;
             const XrResult result = formats_(kSession, 2, &count, list);
             *written = count == 2 && list[0] == 29 && list[1] == 91;
             return result;
         }},
        {"xrCreateSwapchain", false, ByteBuilder().U64(0x6000005),
         [&](bool* written) {
             XrSwapchainCreateInfo info {XR_TYPE_SWAPCHAIN_CREATE_INFO};
             XrSwapchain swapchain = XR_NULL_HANDLE;
             const XrResult result = createSwapchain_(kSession, &info, &swapchain);
             *written = swapchain == As<XrSwapchain>(0x6000005);
             return result;
         }},
        {"xrEnumerateSwapchainImages", false, ByteBuilder().U32(3),
         [&](bool* written) {
             uint32_t count = 0;
             const XrResult result = images_(kSwapchain, 0, &count, nullptr);
             *written = count == 3;
             return result;
         }},
        {"xrAcquireSwapchainImage", true, ByteBuilder().U32(2),
         [&](bool* written) {
             uint32_t index = 7;
             const XrResult result = acquire_(kSwapchain, nullptr, &index);
             *written = index == 2;
             return result;
         }},
        {"xrWaitFrame", false, FrameState(),
         [&](bool* written) {
             XrFrameState state {XR_TYPE_FRAME_STATE};
             const XrResult result = waitFrame_(kSession, nullptr, &state);
             *written = state.predictedDisplayTime == kDisplayTime && state.predictedDisplayPeriod == 11111111 &&
                        state.shouldRender == XR_TRUE;
             return result;
         }},
    };
    const XrResult results[] = {XR_SUCCESS, XR_SESSION_LOSS_PENDING, XR_FRAME_DISCARDED, XR_ERROR_CALL_ORDER_INVALID};
    for (const Case& c : cases) {
        for (const XrResult answer : results) {
            SCOPED_TRACE(std::string(c.name) + " answered " + std::to_string(answer));
            service_.Reply(answer, c.body);
            bool written = false;
            EXPECT_EQ(c.call(&written), answer);
            EXPECT_EQ(written, c.always || answer == XR_SUCCESS || answer == XR_SESSION_LOSS_PENDING);
        }
    }
}

TEST_F(FrameForwardingTest, CountsAndIndexWithoutAService) {
    CreateSessionAndSwapchain(kSession, &d3d11_, kSwapchain);
    // An error reply leaves the format count alone: it is stored only with the body.
    uint32_t count = 99;
    int64_t list[1] {};
    service_.Reply(XR_ERROR_SIZE_INSUFFICIENT, ByteBuilder().U32(16));
    EXPECT_EQ(formats_(kSession, 1, &count, list), XR_ERROR_SIZE_INSUFFICIENT);
    EXPECT_EQ(count, 99u);

    service_.Stop();
    EXPECT_EQ(formats_(kSession, 1, &count, list), XR_ERROR_RUNTIME_FAILURE);
    EXPECT_EQ(count, 0u);
    count = 99;
    EXPECT_EQ(images_(kSwapchain, 0, &count, nullptr), XR_ERROR_RUNTIME_FAILURE);
    EXPECT_EQ(count, 0u);
    uint32_t index = 7;
    EXPECT_EQ(acquire_(kSwapchain, nullptr, &index), XR_ERROR_RUNTIME_FAILURE);
    EXPECT_EQ(index, 0u);
}

TEST_F(FrameForwardingTest, WaitFrameChecksTheReturnedFrameState) {
    XrFrameState state {XR_TYPE_FRAME_STATE};
    service_.Reply(XR_SUCCESS, FrameState(XR_TYPE_VIEW_STATE));
    EXPECT_EQ(waitFrame_(kSession, nullptr, &state), XR_ERROR_VALIDATION_FAILURE);
    service_.Reply(XR_SUCCESS, FrameState(XR_TYPE_FRAME_STATE, 8));
    EXPECT_EQ(waitFrame_(kSession, nullptr, &state), XR_ERROR_VALIDATION_FAILURE);
    service_.Reply(XR_ERROR_SESSION_NOT_RUNNING, FrameState(XR_TYPE_VIEW_STATE));
    EXPECT_EQ(waitFrame_(kSession, nullptr, &state), XR_ERROR_SESSION_NOT_RUNNING);
}

// The service holds xrWaitFrame until the next frame is due, so it alone may wait for a busy
// pipe longer than the 500 ms that every other call allows.
TEST_F(FrameForwardingTest, WaitFrameWaitsForABusyPipeWithoutLimit) {
    auto requestExit = Get<PFN_xrRequestExitSession>("xrRequestExitSession");
    service_.Stop();
    FakeService single(1);

    // A thread's first call probes the service; both threads make theirs before the pipe is busy.
    EXPECT_EQ(beginFrame_(kSession, nullptr), XR_SUCCESS);
    std::promise<void> warmed;
    std::promise<void> go;
    std::shared_future<void> goSignal = go.get_future().share();
    XrFrameState state {XR_TYPE_FRAME_STATE};
    auto waited = std::async(std::launch::async, [&] {
        beginFrame_(kSession, nullptr);
        warmed.set_value();
        goSignal.wait();
        return waitFrame_(kSession, nullptr, &state);
    });
    bool goSet = false;
    const auto letGo = [&] {
        if (!goSet) go.set_value();
        goSet = true;
    };
    EXPECT_EQ(warmed.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);

    // The only instance is held by a request of our own; the POSIX listener also queues one
    // pending connection, which a second connection of ours takes (Windows queues none).
    single.ClearRequests();
    single.Reply(XR_SUCCESS);
    single.Reply(XR_SUCCESS, FrameState());
    single.HoldReplies();
    auto held = platform::OpenPipeConnection("NorvikOpenXRPipe", 1000);
    const Bytes heldRequest = ByteBuilder().U32(70004).U64(ValueOf(kSession));
    const bool holding = held && held->Write(heldRequest.data(), static_cast<uint32_t>(heldRequest.size())) ==
                                     platform::PipeStatus::Ok;
    EXPECT_TRUE(holding);
    EXPECT_TRUE(WaitUntil([&] { return single.RequestCount() == 1; }));
    auto queued = platform::OpenPipeConnection("NorvikOpenXRPipe", 0);
#if defined(_WIN32)
    const bool saturated = holding && queued == nullptr;
#else
    const bool saturated = holding && queued != nullptr;
#endif
    EXPECT_TRUE(saturated);

    // Only with no way in may another call be made here: an admitted one would be held for good.
    if (saturated && single.RequestCount() == 1) {
        letGo();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(requestExit(kSession), XR_ERROR_RUNTIME_FAILURE);  // gave up after 500 ms
        EXPECT_TRUE(WaitUntil([&] { return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(600); }));
        EXPECT_EQ(waited.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
        EXPECT_EQ(single.RequestCount(), 1u);  // still waiting for the pipe, not for a reply
    }

    letGo();
    single.ReleaseReplies();
    if (held) {
        uint8_t reply[8];
        uint32_t size = 0;
        EXPECT_EQ(held->Read(reply, sizeof reply, &size), platform::PipeStatus::Ok);
    }
    held.reset();
    queued.reset();
    ASSERT_EQ(waited.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(waited.get(), XR_SUCCESS);
    EXPECT_EQ(state.predictedDisplayTime, kDisplayTime);
    EXPECT_EQ(state.predictedDisplayPeriod, 11111111);
}

}  // namespace
}  // namespace qor::test
