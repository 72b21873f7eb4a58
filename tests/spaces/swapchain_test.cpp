// Swapchains through the dispatcher: formats, creation on the service device, image
// enumeration, the acquire / wait / release ring, destruction and partial image creation.
#include "service/core/logger.h"
#include "tests/spaces/fixture.h"

#include <ctime>
#include <functional>
#include <set>
#include <thread>

namespace qor::test {
namespace {

constexpr uint64_t kColor = XR_SWAPCHAIN_USAGE_COLOR_ATTACHMENT_BIT;
using Pair = std::pair<XrResult, uint32_t>;

struct Images {
    XrResult result = XR_SUCCESS;
    uint32_t count = 0;
    std::vector<uint64_t> handles;      // D3D11 records
    std::vector<std::u16string> names;  // D3D12 records
};

class SwapchainTest : public ServiceFixture {
protected:
    Answer Create(uint64_t session, int64_t format = 29, uint64_t usage = kColor, uint64_t flags = 0) {
        return Send(CreateSwapchainRequest {session, {XR_TYPE_SWAPCHAIN_CREATE_INFO, 0}, flags, usage, format, 4, 640, 480, 1, 2, 3});
    }
    uint64_t CreateOn(gpu::Api api, uint64_t flags = 0) { return HandleOf(Create(AddSession(api)->handle, 29, kColor, flags)); }
    Images Enumerate(uint64_t swapchain, uint32_t capacity) {
        const Answer answer = Send(EnumerateSwapchainImagesRequest {swapchain, capacity});
        Images images {answer.result};
        PacketReader reader(answer.reply.data(), answer.reply.size(), 4);
        images.count = reader.U32();
        while (reader.ok() && reader.remaining() > 0) {
            SwapchainImageD3D11Record d3d11;
            PacketReader peek = reader;
            FieldReader fields(peek);
            fields(d3d11);
            EXPECT_EQ(d3d11.header.next, 0u);
            SwapchainImageD3D12Record d3d12;
            if (d3d11.header.type == XR_TYPE_SWAPCHAIN_IMAGE_D3D12_KHR && ReadD3D12ImageRecord(reader, &d3d12)) {
                images.names.push_back(d3d12.shareName);
            } else if (d3d11.header.type == XR_TYPE_SWAPCHAIN_IMAGE_D3D11_KHR) {
                reader = peek;
                images.handles.push_back(d3d11.sharedHandle);
            } else {
                ADD_FAILURE() << "image record of type " << d3d11.header.type;
                break;
            }
        }
        return images;
    }
    Pair Acquire(uint64_t swapchain, uint32_t infoType = XR_TYPE_SWAPCHAIN_IMAGE_ACQUIRE_INFO) {
        const Answer answer = Send(AcquireSwapchainImageRequest {swapchain, {infoType, 0}});
        return {answer.result, answer.reply.size() == 8 ? Decode<IndexReply>(answer).index : 99u};
    }
    XrResult Wait(uint64_t swapchain) {
        return Send(WaitSwapchainImageRequest {swapchain, {XR_TYPE_SWAPCHAIN_IMAGE_WAIT_INFO, 0}, XR_INFINITE_DURATION}).result;
    }
    XrResult Release(uint64_t swapchain) { return Send(ReleaseSwapchainImageRequest {swapchain, {}}).result; }
    int32_t LastReleased(uint64_t swapchain) { return state_.swapchains.Find(swapchain)->lastReleased; }
};

TEST_F(SwapchainTest, FormatsAreTheSixteenInOrderUnderTheTwoCallRule) {
    const uint64_t session = AddSession()->handle;
    const Answer query = Send(EnumerateSwapchainFormatsRequest {session, 0});
    EXPECT_EQ(query.reply.size(), 8u);
    EXPECT_EQ(Decode<EnumerateSwapchainFormatsReply>(query).count, 16u);
    const Answer small = Send(EnumerateSwapchainFormatsRequest {session, 8});
    EXPECT_EQ(small.result, XR_ERROR_SIZE_INSUFFICIENT);
    EXPECT_EQ(Decode<EnumerateSwapchainFormatsReply>(small).count, 16u);
    const auto list = Decode<EnumerateSwapchainFormatsReply>(Send(EnumerateSwapchainFormatsRequest {session, 20}));
    EXPECT_EQ(std::vector<int64_t>(list.items.items.begin(), list.items.items.end()),
              std::vector<int64_t>({91, 87, 29, 28, 30, 31, 32, 93, 88, 24, 25, 11, 12, 13, 14, 10}));
    EXPECT_EQ(Send(EnumerateSwapchainFormatsRequest {session + 999, 0}).result, XR_ERROR_HANDLE_INVALID);
}

TEST_F(SwapchainTest, TexturesAreMadeInTheTypelessFamilyWithBindFlagsAndViewsFromTheUsage) {
    const auto session = AddSession();
    const std::pair<int64_t, uint32_t> families[] = {{91, 90}, {87, 90}, {29, 27}, {28, 27}, {30, 27}, {31, 27}, {32, 27},
                                                     {93, 92}, {88, 92}, {24, 23}, {25, 23}, {11, 9},  {12, 9},  {13, 9},
                                                     {14, 9},  {10, 9},  {2, 1},   {7, 5},   {45, 45}};
    for (const auto& [format, typeless] : families) {
        device_->textures.clear();
        EXPECT_EQ(HandleOf(Create(session->handle, format)) & 0xFF000000u, 0x6000000u);
        ASSERT_EQ(device_->textures.size(), 3u) << format;
        for (const auto& texture : device_->textures) {
            const gpu::TextureDesc& d = texture->desc;
            EXPECT_EQ(d.format, typeless) << format;
            EXPECT_EQ(texture->srvFormat, static_cast<uint32_t>(format));
            EXPECT_EQ(d.bindFlags, gpu::kBindRenderTarget | gpu::kBindShaderResource);
            EXPECT_EQ(d.miscFlags, gpu::kMiscShared);
            EXPECT_EQ(std::vector<uint32_t>({d.width, d.height, d.mipLevels, d.arraySize, d.sampleCount}),
                      std::vector<uint32_t>({640, 480, 3, 2, 4}));
        }
    }
    {
        std::lock_guard lock(session->swapchainsLock);
        EXPECT_EQ(session->swapchains.size(), std::size(families));
    }
    struct Case {
        uint64_t usage;
        uint32_t bind;
        uint32_t dsv;
    };
    for (const Case& c : {Case {XR_SWAPCHAIN_USAGE_DEPTH_STENCIL_ATTACHMENT_BIT, gpu::kBindDepthStencil, 20},
                          Case {XR_SWAPCHAIN_USAGE_UNORDERED_ACCESS_BIT, gpu::kBindUnorderedAccess, 0},
                          Case {XR_SWAPCHAIN_USAGE_SAMPLED_BIT, gpu::kBindShaderResource, 0},
                          Case {XR_SWAPCHAIN_USAGE_TRANSFER_SRC_BIT, 0, 0}}) {
        device_->textures.clear();
        HandleOf(Create(session->handle, 28, c.usage));
        ASSERT_EQ(device_->textures.size(), 3u);
        EXPECT_EQ(device_->textures[0]->desc.bindFlags, c.bind) << c.usage;
        EXPECT_EQ(device_->textures[0]->srvFormat, 0u) << c.usage;  // only colour attachments get one
        EXPECT_EQ(device_->textures[0]->dsvFormat, c.dsv) << c.usage;
    }
}

TEST_F(SwapchainTest, ImagesAreEnumeratedByLegacyHandleOrByShareName) {
    const uint64_t d3d11 = CreateOn(gpu::Api::D3D11);
    EXPECT_EQ(Enumerate(d3d11, 0).count, 3u);
    const Images small = Enumerate(d3d11, 2);
    EXPECT_EQ(small.result, XR_ERROR_SIZE_INSUFFICIENT);
    EXPECT_EQ(small.count, 3u);
    EXPECT_TRUE(small.handles.empty());
    const Images images = Enumerate(d3d11, 3);
    ASSERT_EQ(images.handles.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(images.handles[i], device_->textures[i]->handle);
    EXPECT_EQ(Enumerate(d3d11 + 999, 3).result, XR_ERROR_HANDLE_INVALID);

    const Images a = Enumerate(CreateOn(gpu::Api::D3D12), 3);
    const Images b = Enumerate(CreateOn(gpu::Api::D3D12), 3);
    ASSERT_EQ(a.names.size(), 3u);
    ASSERT_EQ(b.names.size(), 3u);
    EXPECT_EQ(device_->textures[3]->desc.miscFlags, gpu::kMiscShared | gpu::kMiscSharedNtHandle);
    const std::u16string prefix = u"DX11_Shared_Texture_Swapchain";
    const std::u16string counter = a.names[0].substr(prefix.size(), a.names[0].find(u'_', prefix.size()) - prefix.size());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(a.names[i], prefix + counter + u"_Image" + char16_t(u'0' + i));
        EXPECT_EQ(device_->textures[3 + i]->name, a.names[i]);
    }
    EXPECT_NE(a.names[2], b.names[2]);
    EXPECT_EQ(b.names[2].substr(b.names[2].size() - 7), u"_Image2");
}

TEST_F(SwapchainTest, TheRingRepliesTheAdvancedIndexAndActsInAcquisitionOrder) {
    const uint64_t swapchain = CreateOn(gpu::Api::D3D11);
    EXPECT_EQ(Acquire(swapchain), Pair(XR_SUCCESS, 1u));
    EXPECT_EQ(Wait(swapchain), XR_SUCCESS);
    EXPECT_EQ(Release(swapchain), XR_SUCCESS);
    EXPECT_EQ(LastReleased(swapchain), 0);
    EXPECT_EQ(Acquire(swapchain), Pair(XR_SUCCESS, 2u));
    EXPECT_EQ(Acquire(swapchain, 0), Pair(XR_SUCCESS, 0u));  // wraps; no info is fine
    for (int32_t released : {1, 2}) {
        EXPECT_EQ(Wait(swapchain), XR_SUCCESS);
        EXPECT_EQ(Release(swapchain), XR_SUCCESS);
        EXPECT_EQ(LastReleased(swapchain), released);
    }
    EXPECT_EQ(state_.swapchains.Find(swapchain)->waitIndex, -1);
}

TEST_F(SwapchainTest, OutOfOrderCallsAreRefusedAndChangeNothing) {
    const uint64_t swapchain = CreateOn(gpu::Api::D3D11);
    EXPECT_EQ(Wait(swapchain), XR_ERROR_CALL_ORDER_INVALID);
    EXPECT_EQ(Release(swapchain), XR_ERROR_CALL_ORDER_INVALID);
    EXPECT_EQ(Acquire(swapchain, XR_TYPE_SWAPCHAIN_IMAGE_WAIT_INFO).first, XR_ERROR_VALIDATION_FAILURE);
    EXPECT_EQ(Acquire(swapchain).second, 1u);  // the refused calls moved nothing
    EXPECT_EQ(Release(swapchain), XR_ERROR_CALL_ORDER_INVALID);  // not waited
    EXPECT_EQ(Wait(swapchain), XR_SUCCESS);
    EXPECT_EQ(Wait(swapchain), XR_ERROR_CALL_ORDER_INVALID);
    EXPECT_EQ(Acquire(swapchain).first, XR_SUCCESS);
    EXPECT_EQ(Acquire(swapchain).first, XR_SUCCESS);
    EXPECT_EQ(Acquire(swapchain), Pair(XR_ERROR_CALL_ORDER_INVALID, 99u));  // no index on a refusal
    EXPECT_EQ(LastReleased(swapchain), -1);
    EXPECT_EQ(Acquire(swapchain + 999).first, XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(Wait(swapchain + 999), XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(Release(swapchain + 999), XR_ERROR_HANDLE_INVALID);
}

TEST_F(SwapchainTest, AStaticSwapchainShowsOneImageAcquiredOncePerFrame) {
    const uint64_t swapchain = CreateOn(gpu::Api::D3D11, XR_SWAPCHAIN_CREATE_STATIC_IMAGE_BIT);
    EXPECT_EQ(device_->textures.size(), 3u);
    EXPECT_EQ(Enumerate(swapchain, 3).handles.size(), 1u);
    EXPECT_EQ(Acquire(swapchain), Pair(XR_SUCCESS, 0u));
    EXPECT_EQ(Acquire(swapchain).first, XR_ERROR_CALL_ORDER_INVALID);
    EXPECT_EQ(Wait(swapchain), XR_SUCCESS);
    EXPECT_EQ(Release(swapchain), XR_SUCCESS);
    EXPECT_EQ(LastReleased(swapchain), 0);
    EXPECT_EQ(Release(swapchain), XR_ERROR_CALL_ORDER_INVALID);
    EXPECT_EQ(Acquire(swapchain).first, XR_ERROR_CALL_ORDER_INVALID);  // same frame
    state_.swapchains.Find(swapchain)->acquiredThisFrame = 0;     // as xrBeginFrame does
    EXPECT_EQ(Acquire(swapchain), Pair(XR_SUCCESS, 0u));
}

TEST_F(SwapchainTest, DestroyFreesTheImagesAndTakesTheHandleFromItsSession) {
    const auto session = AddSession();
    const uint64_t swapchain = HandleOf(Create(session->handle));
    EXPECT_EQ(Send(DestroySwapchainRequest {{swapchain}}).result, XR_SUCCESS);
    EXPECT_EQ(Send(DestroySwapchainRequest {{swapchain}}).result, XR_ERROR_HANDLE_INVALID);
    EXPECT_EQ(Acquire(swapchain).first, XR_ERROR_HANDLE_INVALID);
    for (const auto& texture : device_->textures) EXPECT_TRUE(texture->destroyed);
    std::lock_guard lock(session->swapchainsLock);
    EXPECT_TRUE(session->swapchains.empty());
}

// A layer still waiting to be drawn holds its swapchain weakly and asks it whether it exists.
TEST_F(SwapchainTest, ASwapchainTakenFromTheRegistryNoLongerExistsForLayersStillWaiting) {
    const struct {
        const char* what;
        std::function<void(uint64_t session, uint64_t swapchain)> remove;
        bool othersStay;
    } cases[] = {
        {"destroyed", [&](uint64_t, uint64_t swapchain) { Send(DestroySwapchainRequest {{swapchain}}); }, true},
        {"with its session", [&](uint64_t session, uint64_t) { state_.swapchains.EraseOfSession(session); }, true},
        {"at runtime stop", [&](uint64_t, uint64_t) { state_.swapchains.Clear(); }, false},
    };
    for (const auto& c : cases) {
        const auto session = AddSession();
        const uint64_t handle = HandleOf(Create(session->handle));
        const auto swapchain = state_.swapchains.Find(handle);
        const auto other = state_.swapchains.Find(HandleOf(Create(AddSession()->handle)));
        ASSERT_TRUE(swapchain && other);
        EXPECT_TRUE(swapchain->Exists());
        c.remove(session->handle, handle);
        EXPECT_FALSE(swapchain->Exists()) << c.what;
        EXPECT_EQ(other->Exists(), c.othersStay) << c.what;
    }
}

TEST_F(SwapchainTest, ImagesThatStoppedPartWayAreTheOnlyOnesShownAndTurned) {
    device_->refuseTextureAt = 2;
    const uint64_t two = CreateOn(gpu::Api::D3D11);
    EXPECT_EQ(Enumerate(two, 3).handles.size(), 2u);
    EXPECT_EQ(Acquire(two), Pair(XR_SUCCESS, 1u));
    EXPECT_EQ(Acquire(two), Pair(XR_SUCCESS, 0u));  // never an index without an image
    EXPECT_EQ(Acquire(two).first, XR_ERROR_CALL_ORDER_INVALID);

    device_->calls = 0;
    device_->refuseTextureAt = -1;
    device_->refuseShareAt = 1;  // D3D12: the second name cannot be given
    const uint64_t one = CreateOn(gpu::Api::D3D12);
    EXPECT_EQ(Enumerate(one, 3).names.size(), 1u);
    EXPECT_EQ(Acquire(one), Pair(XR_SUCCESS, 0u));
    EXPECT_EQ(Wait(one), XR_SUCCESS);
    EXPECT_EQ(Release(one), XR_SUCCESS);
}

TEST_F(SwapchainTest, ASwapchainWithoutAnyImageIsRefused) {
    const auto session = AddSession();
    for (int* refuse : {&device_->refuseTextureAt, &device_->refuseViewsAt, &device_->refuseShareAt}) {
        device_->calls = 0;
        *refuse = 0;
        EXPECT_EQ(Create(session->handle).result, XR_ERROR_RUNTIME_FAILURE);
        *refuse = -1;
    }
    state_.graphics.d3d11Device.reset();
    EXPECT_EQ(Create(session->handle).result, XR_ERROR_RUNTIME_FAILURE);
    EXPECT_EQ(Create(session->handle + 999).result, XR_ERROR_HANDLE_INVALID);
    std::lock_guard lock(session->swapchainsLock);
    EXPECT_TRUE(session->swapchains.empty());
}

TEST_F(SwapchainTest, SwapchainsCreatedAtOnceGetDistinctNames) {
    const uint64_t session = AddSession(gpu::Api::D3D12)->handle;
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back([&] { Create(session); });
    for (auto& thread : threads) thread.join();
    std::set<std::u16string> names;
    for (const auto& texture : device_->textures) names.insert(texture->name);
    EXPECT_EQ(names.size(), 12u);
}

#if !defined(_WIN32)
// The service log is process-wide; natively every test runs in its own process.
TEST_F(SwapchainTest, CreationIsLogged) {
    const uint64_t session = AddSession(gpu::Api::D3D12)->handle;
    Create(session, 28, 33);
    device_->refuseTextureAt = device_->calls + 1;
    Create(session);
    Create(session + 999);
    ServiceLogger().Flush();
    char today[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(today, sizeof today, "server_%Y-%m-%d.log", std::localtime(&now));
    const std::string log = ReadFile(environment_.Path("local/Norvik/OpenXR/Logs/") + today);
    EXPECT_NE(log.find("CreateSwapchain : SUCCESS\n\tWidth : 640\n\tHeight : 480\n\tFormat : 28\n\tUsage Flags : 33"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("CREATE SWAPCHAIN IMAGE FAILD! REASON: -2147467259"), std::string::npos);
    EXPECT_NE(log.find("CreateSwapchain : ERROR_HANDLE_INVALID"), std::string::npos);
}
#endif

TEST_F(SwapchainTest, TruncatedRequestsAreAnsweredWithAFailure) {
    for (const Op op : {Op::EnumerateSwapchainFormats, Op::CreateSwapchain, Op::DestroySwapchain, Op::EnumerateSwapchainImages,
                        Op::AcquireSwapchainImage, Op::WaitSwapchainImage, Op::ReleaseSwapchainImage,
                        Op::GetReferenceSpaceBoundsRect, Op::EnumerateReferenceSpaces, Op::CreateReferenceSpace,
                        Op::CreateActionSpace, Op::DestroySpace, Op::LocateSpace, Op::LocateViews}) {
        std::array<uint8_t, 7> bytes {0, 0, 0, 0, 1, 2, 3};
        const auto code = static_cast<uint32_t>(op);
        std::memcpy(bytes.data(), &code, 4);
        const Answer answer = SendBytes(bytes.data(), bytes.size());
        EXPECT_TRUE(XR_FAILED(answer.result)) << code;
        EXPECT_EQ(answer.reply.size(), 4u);
    }
}

}  // namespace
}  // namespace qor::test
