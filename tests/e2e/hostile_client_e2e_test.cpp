// The staged service against clients that misbehave through its real socket: one that
// resizes the images it was given, ones that walk away from a blocked xrWaitFrame or never
// send, and other processes that use or leave behind an application's handles.
#include "platform/pipe.h"
#include "platform/registry.h"
#include "protocol/layouts.h"
#include "tests/support/child_process.h"
#include "tests/support/service_pipe.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>

namespace qor::test {
namespace {

using namespace protocol;
using platform::PipeStatus;
const std::string kStage = NORVIK_STAGE_DIR;

CreateInstanceRequest InstanceRequest() {
    CreateInstanceRequest request;
    request.info.type = XR_TYPE_INSTANCE_CREATE_INFO;
    std::snprintf(request.applicationName.text.data(), request.applicationName.text.size(), "hostile");
    request.apiVersion = XR_MAKE_VERSION(1, 0, 17);
    return request;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char pair[3];
    for (const uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

// The argument qor_probe takes for a request: "CODE:HEXBODY".
template <typename Request>
std::string ProbeArgument(const Request& request) {
    std::array<uint8_t, kMaxRequestSize> bytes {};
    const uint32_t size = EncodeRequest(request, bytes.data(), bytes.size());
    return std::to_string(static_cast<uint32_t>(protocol::OperationOf<Request>::op)) + ":" + Hex({bytes.begin() + 4, bytes.begin() + size});
}

std::set<std::string> SharedMemoryObjects() {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) names.insert(entry.path().filename());
    return names;
}

class HostileClientEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        sharedBefore_ = SharedMemoryObjects();
        service_ = StartStagedService(environment_, kStage);
        ASSERT_TRUE(service_) << "the service never answered";
        ASSERT_NE(KeepServiceRunning(), 0u);
    }
    void TearDown() override {
        if (service_) StopService();
    }

    // SIGTERM, and the time the service took to exit with code 0.
    std::chrono::milliseconds StopService() {
        const auto start = std::chrono::steady_clock::now();
        service_->Signal(SIGTERM);
        EXPECT_EQ(service_->WaitForExit(std::chrono::seconds(30)), 0);
        service_.reset();
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    }

    // An instance with a running D3D11 session on the basic driver's system.
    uint64_t RunningSession(uint64_t* instance = nullptr) {
        const uint64_t created = HandleOf(CallService(InstanceRequest()));
        if (instance != nullptr) *instance = created;
        const uint64_t system = HandleOf(CallService(GetSystemRequest {created, {XR_TYPE_SYSTEM_GET_INFO, 0},
                                                                XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY}));
        CreateSessionRequest request {created, {XR_TYPE_SESSION_CREATE_INFO, 0}, 0, system, {}};
        request.binding = {true, {{XR_TYPE_GRAPHICS_BINDING_D3D11_KHR, 0}, 0x1234, {false, 0}}};
        const uint64_t session = HandleOf(CallService(request));
        EXPECT_EQ(CallService(BeginSessionRequest {session, {XR_TYPE_SESSION_BEGIN_INFO, 0},
                                            XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO})
                      .result,
                  XR_SUCCESS);
        return session;
    }

    std::vector<std::string> Probe(const std::vector<std::string>& arguments) {
        const std::string out = environment_.Path("probe.out");
        ChildProcess probe(std::string(NORVIK_QOR_PROBE), arguments, "", out);
        EXPECT_EQ(probe.WaitForExit(std::chrono::seconds(30)).has_value(), true);
        std::vector<std::string> results;
        const std::string text = ReadFile(out);
        const std::regex result(R"(result (-?\d+))");
        for (auto it = std::sregex_iterator(text.begin(), text.end(), result); it != std::sregex_iterator(); ++it) {
            results.push_back((*it)[1]);
        }
        std::filesystem::remove(out);
        return results;
    }

    TempEnvironment environment_;
    std::set<std::string> sharedBefore_;
    std::unique_ptr<ChildProcess> service_;
};

TEST_F(HostileClientEndToEnd, ImagesCannotBeResizedByTheirClientAndStopLeavesNothingShared) {
    const uint64_t session = RunningSession();
    const uint64_t swapchain = HandleOf(CallService(CreateSwapchainRequest {
        session, {XR_TYPE_SWAPCHAIN_CREATE_INFO, 0}, 0, XR_SWAPCHAIN_USAGE_COLOR_ATTACHMENT_BIT, 29, 1, 64, 64, 1, 1, 1}));
    ServiceReply images = CallService(EnumerateSwapchainImagesRequest {swapchain, 3});
    ASSERT_EQ(images.result, XR_SUCCESS);
    ASSERT_EQ(images.descriptors.size(), 3u) << "each image's object comes beside the reply";
    for (const auto& descriptor : images.descriptors) {
        EXPECT_NE(::ftruncate(descriptor.Get(), 0), 0);
        const std::string path = "/proc/self/fd/" + std::to_string(descriptor.Get());
        const int reopened = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(reopened, 0);
        EXPECT_NE(::ftruncate(reopened, 0), 0);
        struct stat status {};
        EXPECT_EQ(::fstat(reopened, &status), 0);
        EXPECT_GT(status.st_size, 64 * 64 * 4);
        ::close(reopened);
    }
    // A frame that shows the images: the service draws them and stays up.
    for (int frame = 0; frame < 3; ++frame) {
        ASSERT_EQ(CallService(WaitFrameRequest {session, {}}).result, XR_SUCCESS);
        ASSERT_EQ(CallService(BeginFrameRequest {session, {}}).result, XR_SUCCESS);
        ASSERT_EQ(CallService(AcquireSwapchainImageRequest {swapchain, {}}).result, XR_SUCCESS);
        ASSERT_EQ(CallService(WaitSwapchainImageRequest {swapchain, {XR_TYPE_SWAPCHAIN_IMAGE_WAIT_INFO, 0}, 1}).result,
                  XR_SUCCESS);
        ASSERT_EQ(CallService(ReleaseSwapchainImageRequest {swapchain, {}}).result, XR_SUCCESS);
        XrCompositionLayerProjectionView views[2] {{XR_TYPE_COMPOSITION_LAYER_PROJECTION_VIEW},
                                                    {XR_TYPE_COMPOSITION_LAYER_PROJECTION_VIEW}};
        for (auto& view : views) {
            view.pose = {{0, 0, 0, 1}, {0, 0, 0}};
            view.fov = {-0.5f, 0.5f, 0.4f, -0.4f};
            view.subImage = {reinterpret_cast<XrSwapchain>(swapchain), {{0, 0}, {64, 64}}, 0};
        }
        XrCompositionLayerProjection layer {XR_TYPE_COMPOSITION_LAYER_PROJECTION};
        layer.viewCount = 2;
        layer.views = views;
        std::array<uint8_t, kMaxRequestSize> buffer {};
        PacketWriter writer(buffer.data(), buffer.size());
        ASSERT_TRUE(WriteProjectionLayer(writer, layer));
        const std::vector<uint8_t> layers(buffer.begin(), buffer.begin() + writer.size());
        ASSERT_EQ(CallService(EndFrameRequest {session, {XR_TYPE_FRAME_END_INFO, 0}, 1000, XR_ENVIRONMENT_BLEND_MODE_OPAQUE,
                                        1, {layers}})
                      .result,
                  XR_SUCCESS);
    }
    images.descriptors.clear();
    StopService();
    EXPECT_EQ(SharedMemoryObjects(), sharedBefore_) << "nothing of the service stays in /dev/shm";
}

TEST_F(HostileClientEndToEnd, AbandonedFrameWaitsEndAndAStopIsPromptWhateverClientsDo) {
    const uint64_t session = RunningSession();
    ASSERT_EQ(CallService(WaitFrameRequest {session, {}}).result, XR_SUCCESS);
    // More clients than pipe instances block in xrWaitFrame and leave: each instance comes free.
    std::array<uint8_t, kMaxRequestSize> wait {};
    const uint32_t size = EncodeRequest(WaitFrameRequest {session, {}}, wait.data(), wait.size());
    for (uint32_t i = 0; i < 40; ++i) {
        auto connection = platform::OpenPipeConnection(kServicePipe, 10000);
        ASSERT_TRUE(connection) << i;
        ASSERT_EQ(connection->Write(wait.data(), size), PipeStatus::Ok);
    }
    EXPECT_TRUE(ServiceAnswers());
    // Two waits whose clients stay, and one that never sends: the stop does not wait for them.
    auto first = platform::OpenPipeConnection(kServicePipe, 500);
    auto second = platform::OpenPipeConnection(kServicePipe, 500);
    auto silent = platform::OpenPipeConnection(kServicePipe, 500);
    ASSERT_TRUE(first && second && silent);
    ASSERT_EQ(first->Write(wait.data(), size), PipeStatus::Ok);
    ASSERT_EQ(second->Write(wait.data(), size), PipeStatus::Ok);
    EXPECT_LT(StopService(), std::chrono::milliseconds(2000));
}

TEST_F(HostileClientEndToEnd, IdleConnectionsAreDroppedSoOthersAreServed) {
    std::vector<std::unique_ptr<platform::PipeConnection>> idle;
    for (int i = 0; i < 32; ++i) {
        idle.push_back(platform::OpenPipeConnection(kServicePipe, 500));
        ASSERT_TRUE(idle.back()) << i;
    }
    std::atomic<bool> served {false};
    std::thread caller([&] { served = Liveness(platform::kWaitForever) == PipeStatus::Ok; });
    const bool inTime = WaitUntil([&] { return served.load(); }, std::chrono::seconds(15));
    uint8_t byte = 0;
    uint32_t read = 0;
    EXPECT_EQ(idle.front()->Read(&byte, 1, &read), PipeStatus::Broken) << "the server closed the idle connection";
    idle.clear();  // frees the instances in any case, so the caller ends
    caller.join();
    EXPECT_TRUE(inTime);
}

TEST_F(HostileClientEndToEnd, OtherProcessesCannotUseHandlesAndExitedOnesMakeRoom) {
    uint64_t instance = 0;
    const uint64_t session = RunningSession(&instance);
    const auto results = Probe({ProbeArgument(DestroySessionRequest {{session}}),
                                ProbeArgument(DestroyInstanceRequest {{instance}})});
    EXPECT_EQ(results, (std::vector<std::string> {"-12", "-12"}));
    // Processes that exit with their instances alive fill every place but ours ...
    for (int i = 0; i < 10; ++i) EXPECT_EQ(Probe({ProbeArgument(InstanceRequest())}), std::vector<std::string> {"0"}) << i;
    // ... and ours is still there, with its session.
    EXPECT_EQ(CallService(EndSessionRequest {{session}}).result, XR_ERROR_SESSION_NOT_STOPPING);
    EXPECT_EQ(CallService(DestroyInstanceRequest {{instance}}).result, XR_SUCCESS);
}

}  // namespace
}  // namespace qor::test
