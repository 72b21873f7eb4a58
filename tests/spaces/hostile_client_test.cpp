// What a careless or hostile client meets: another process's handles are unknown to it, every
// kind of object it can make in a loop is bounded, and threads that turn one swapchain's
// ring at once cannot break it.
#include "service/core/instance_registry.h"
#include "tests/spaces/fixture.h"

#include <atomic>
#include <thread>

namespace qor::test {
namespace {

constexpr uint64_t kColor = XR_SWAPCHAIN_USAGE_COLOR_ATTACHMENT_BIT;
constexpr XrPosef kIdentity {{0, 0, 0, 1}, {0, 0, 0}};

// A client in another process than the one that made the objects.
class OtherProcess final : public platform::PipeClient {
public:
    uint32_t ProcessId() const override { return platform::ProcessId() + 1; }
    bool Gone() override { return false; }
    bool AttachToReply(platform::Descriptor) override { return false; }
    void EndConnection() override {}
};

class HostileClientTest : public ServiceFixture {
protected:
    template <typename Request>
    XrResult SendFromOtherProcess(const Request& request) {
        std::array<uint8_t, kMaxRequestSize> bytes {};
        const uint32_t size = EncodeRequest(request, bytes.data(), bytes.size());
        std::array<uint8_t, kMaxReplySize> reply {};
        uint32_t replySize = 0;
        OtherProcess other;
        server_.Dispatch(other, bytes.data(), size, reply.data(), &replySize);
        XrResult result;
        std::memcpy(&result, reply.data(), sizeof result);
        return result;
    }
    uint64_t CreateInstance() {
        CreateInstanceRequest request;
        request.info.type = XR_TYPE_INSTANCE_CREATE_INFO;
        request.applicationName.text[0] = 'a';
        request.apiVersion = XR_MAKE_VERSION(1, 0, 17);
        return HandleOf(Send(request));
    }
    CreateSessionRequest SessionOf(uint64_t instance) {
        CreateSessionRequest request {instance, {XR_TYPE_SESSION_CREATE_INFO, 0}, 0, systemId_, {}};
        request.binding = {true, {{XR_TYPE_GRAPHICS_BINDING_D3D11_KHR, 0}, 0x1234, {false, 0}}};
        return request;
    }
    CreateSwapchainRequest SwapchainOf(uint64_t session, uint32_t width = 4, uint32_t height = 4, uint32_t array = 1) {
        return {session, {XR_TYPE_SWAPCHAIN_CREATE_INFO, 0}, 0, kColor, 29, 1, width, height, 1, array, 1};
    }
    CreateReferenceSpaceRequest SpaceOf(uint64_t session) {
        return {session, {XR_TYPE_REFERENCE_SPACE_CREATE_INFO, 0}, XR_REFERENCE_SPACE_TYPE_LOCAL, kIdentity};
    }
    void TearDown() override {
        for (const uint64_t instance : instances_) Send(DestroyInstanceRequest {{instance}});
        ServiceFixture::TearDown();
    }
    std::vector<uint64_t> instances_;
};

TEST_F(HostileClientTest, AnotherProcessesHandlesAreUnknownToIt) {
    const uint64_t instance = CreateInstance();
    instances_.push_back(instance);
    const uint64_t session = AddSession()->handle;
    const uint64_t swapchain = HandleOf(Send(SwapchainOf(session)));
    const uint64_t space = HandleOf(Send(SpaceOf(session)));
    const struct {
        const char* what;
        XrResult result;
    } cases[] = {
        {"poll events", SendFromOtherProcess(PollEventRequest {{instance}})},
        {"get system", SendFromOtherProcess(GetSystemRequest {instance, {XR_TYPE_SYSTEM_GET_INFO, 0}, 1})},
        {"create session", SendFromOtherProcess(SessionOf(instance))},
        {"begin session", SendFromOtherProcess(BeginSessionRequest {session, {XR_TYPE_SESSION_BEGIN_INFO, 0}, 2})},
        {"wait frame", SendFromOtherProcess(WaitFrameRequest {session, {}})},
        {"create swapchain", SendFromOtherProcess(SwapchainOf(session))},
        {"enumerate images", SendFromOtherProcess(EnumerateSwapchainImagesRequest {swapchain, 3})},
        {"acquire", SendFromOtherProcess(AcquireSwapchainImageRequest {swapchain, {}})},
        {"create space", SendFromOtherProcess(SpaceOf(session))},
        {"locate space", SendFromOtherProcess(LocateSpaceRequest {space, space, 1, XR_TYPE_SPACE_LOCATION, 0})},
        {"destroy space", SendFromOtherProcess(DestroySpaceRequest {{space}})},
        {"destroy swapchain", SendFromOtherProcess(DestroySwapchainRequest {{swapchain}})},
        {"destroy session", SendFromOtherProcess(DestroySessionRequest {{session}})},
        {"destroy instance", SendFromOtherProcess(DestroyInstanceRequest {{instance}})},
    };
    for (const auto& c : cases) EXPECT_EQ(c.result, XR_ERROR_HANDLE_INVALID) << c.what;
    // The owner's objects are all still there.
    EXPECT_EQ(Send(LocateSpaceRequest {space, space, 1, XR_TYPE_SPACE_LOCATION, 0}).result, XR_SUCCESS);
    EXPECT_EQ(Send(DestroySwapchainRequest {{swapchain}}).result, XR_SUCCESS);
    EXPECT_EQ(Send(DestroySessionRequest {{session}}).result, XR_SUCCESS);
    EXPECT_EQ(Send(PollEventRequest {{instance}}).result, XR_EVENT_UNAVAILABLE);
}

TEST_F(HostileClientTest, ObjectsMadeInALoopAreBounded) {
    const uint64_t instance = CreateInstance();
    instances_.push_back(instance);
    for (size_t i = 0; i < kMaxSessionsPerInstance; ++i) ASSERT_EQ(Send(SessionOf(instance)).result, XR_SUCCESS);
    EXPECT_EQ(Send(SessionOf(instance)).result, XR_ERROR_LIMIT_REACHED) << "sessions of one instance";

    const uint64_t session = AddSession()->handle;
    for (uint32_t i = 0; i < kMaxSpacesPerSession; ++i) ASSERT_EQ(Send(SpaceOf(session)).result, XR_SUCCESS);
    EXPECT_EQ(Send(SpaceOf(session)).result, XR_ERROR_LIMIT_REACHED) << "spaces of one session";

    for (uint32_t i = 0; i < kMaxSwapchainsPerSession; ++i) ASSERT_EQ(Send(SwapchainOf(session)).result, XR_SUCCESS);
    EXPECT_EQ(Send(SwapchainOf(session)).result, XR_ERROR_LIMIT_REACHED) << "swapchains of one session";

    // Sizes are refused before any memory is taken: the device never sees them.
    const int texturesBefore = device_->calls;
    const uint64_t other = AddSession()->handle;
    EXPECT_EQ(Send(SwapchainOf(other, 65536, 65536, 2048)).result, XR_ERROR_OUT_OF_MEMORY) << "one huge image";
    XrResult result = XR_SUCCESS;
    int made = 0;
    for (; made < 16 && result == XR_SUCCESS; ++made) result = Send(SwapchainOf(AddSession()->handle, 8192, 8192)).result;
    EXPECT_EQ(result, XR_ERROR_OUT_OF_MEMORY) << "the process's swapchains together";
    EXPECT_EQ(made - 1, static_cast<int>(kMaxSwapchainBytesPerProcess / (3 * kMaxSwapchainImageBytes)));
    EXPECT_EQ(device_->calls - texturesBefore, 3 * (made - 1));

    // An application that never polls loses its oldest events, and is told so.
    const auto record = state_.instances.Find(instance);
    const XrEventDataBuffer event {XR_TYPE_EVENT_DATA_BUFFER};
    for (size_t i = 0; i < 3 * kMaxQueuedEvents; ++i) QueueEvent(*record, &event, sizeof event);
    EXPECT_LE(record->eventQueue.size(), kMaxQueuedEvents);
    std::vector<uint8_t> taken;
    ASSERT_TRUE(TakeEvent(*record, &taken));
    XrEventDataEventsLost lost {};
    while (TakeEvent(*record, &taken)) std::memcpy(&lost, taken.data(), std::min(taken.size(), sizeof lost));
    EXPECT_EQ(lost.type, XR_TYPE_EVENT_DATA_EVENTS_LOST);
    EXPECT_GE(lost.lostEventCount, 2 * kMaxQueuedEvents);
}

// Acquire, wait and release from several threads at once: the ring must neither be corrupted
// nor index outside its images (the sanitizers watch).
TEST_F(HostileClientTest, ConcurrentRingCallsKeepTheRingWhole) {
    const uint64_t swapchain = HandleOf(Send(SwapchainOf(AddSession()->handle)));
    std::atomic<bool> go {false};
    std::vector<std::thread> threads;
    std::atomic<int> succeeded {0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            while (!go) std::this_thread::yield();
            for (int i = 0; i < 2000; ++i) {
                XrResult result = XR_SUCCESS;
                switch ((i + t) % 3) {
                    case 0: result = Send(AcquireSwapchainImageRequest {swapchain, {}}).result; break;
                    case 1:
                        result = Send(WaitSwapchainImageRequest {swapchain, {XR_TYPE_SWAPCHAIN_IMAGE_WAIT_INFO, 0}, 1}).result;
                        break;
                    default: result = Send(ReleaseSwapchainImageRequest {swapchain, {}}).result; break;
                }
                if (result == XR_SUCCESS) ++succeeded;
                else EXPECT_EQ(result, XR_ERROR_CALL_ORDER_INVALID);
            }
        });
    }
    go = true;
    for (auto& thread : threads) thread.join();
    EXPECT_GT(succeeded, 0);
    // Drained in order, the ring still turns.
    while (Send(WaitSwapchainImageRequest {swapchain, {XR_TYPE_SWAPCHAIN_IMAGE_WAIT_INFO, 0}, 1}).result == XR_SUCCESS ||
           Send(ReleaseSwapchainImageRequest {swapchain, {}}).result == XR_SUCCESS) {
    }
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(Send(AcquireSwapchainImageRequest {swapchain, {}}).result, XR_SUCCESS) << i;
        ASSERT_EQ(Send(WaitSwapchainImageRequest {swapchain, {XR_TYPE_SWAPCHAIN_IMAGE_WAIT_INFO, 0}, 1}).result, XR_SUCCESS);
        ASSERT_EQ(Send(ReleaseSwapchainImageRequest {swapchain, {}}).result, XR_SUCCESS);
    }
}

}  // namespace
}  // namespace qor::test
