// The staged window service run as a service (NORVIK_SERVICE=1): its pipe's framing rules,
// the eye positions shared between connections, the side-by-side status, and a weaving window
// it started being ended when the service stops. Then the whole display side: an application
// through the Khronos loader, the API layer, the runtime, the XR service and the lenticular
// driver locating views from the eyes stored in the window service, and the driver handing
// the compositor's stage buffer to the window service, which starts the weaving window.
#include "display/winpipe/window_pipe_message.h"
#include "gpu/device.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "tests/support/child_process.h"
#include "tests/support/service_pipe.h"
#include "tests/support/soft_session.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>
#include <openxr/openxr.h>

#include <signal.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

// The Debian loader keeps a little memory per created instance until the process ends.
extern "C" const char* __lsan_default_suppressions() { return "leak:libopenxr_loader.so\n"; }

namespace qor::test {
namespace {

using namespace std::chrono_literals;
using winpipe::Bytes;
constexpr const char* kPipe = "Plexaview_NamedPipe";

// One request on a fresh connection; nothing when the service closed it without a reply.
std::optional<Bytes> Request(const Bytes& request) {
    auto connection = platform::OpenPipeConnection(kPipe, 500);
    if (!connection || connection->Write(request.data(), static_cast<uint32_t>(request.size())) != platform::PipeStatus::Ok) {
        return std::nullopt;
    }
    Bytes reply(64);
    uint32_t size = 0;
    if (connection->Read(reply.data(), static_cast<uint32_t>(reply.size()), &size) != platform::PipeStatus::Ok) return std::nullopt;
    reply.resize(size);
    return reply;
}

std::string CommandLineOf(uint32_t id) {
    std::ifstream file("/proc/" + std::to_string(id) + "/cmdline");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::replace(text.begin(), text.end(), '\0', ' ');
    return text;
}

// The stand-in weaving windows started from `program` (other tests run their own elsewhere).
std::vector<uint32_t> OurWeavingWindows(const std::string& program) {
    std::vector<uint32_t> ours;
    for (const uint32_t id : platform::ProcessesNamed("Plexa")) {
        if (platform::ProcessModulePath(id) == program) ours.push_back(id);
    }
    return ours;
}

class WindowServiceEndToEnd : public ::testing::Test {
protected:
    // The service from a folder of its own, with a stand-in weaving window beside it: a copy
    // of sleep named like the weaving window, which sleeps for as many seconds as its handle.
    void SetUp() override {
        const std::string folder = environment_.Path("bin");
        std::filesystem::create_directories(folder);
        std::filesystem::copy_file(std::string(NORVIK_STAGE_DIR) + "/PlexaSvc", folder + "/PlexaSvc");
        std::filesystem::copy_file("/bin/sleep", folder + "/Plexa");
        environment_.Set("NORVIK_SERVICE", "1");
        service_ = std::make_unique<ChildProcess>(folder + "/PlexaSvc", std::vector<std::string> {},
                                                  environment_.Path("service.err"));
        ASSERT_TRUE(WaitUntil([] { return platform::OpenPipeConnection(kPipe, 500) != nullptr; }));
    }

    // The stand-in ignores the close message the real weaving window obeys: whatever is left
    // of it goes with the test.
    void TearDown() override {
        for (const uint32_t id : OurWeavingWindows(environment_.Path("bin/Plexa"))) {
            if (const auto window = platform::IdentifyProcess(id)) platform::TerminateProcess(*window, 0, 2000);
        }
    }

    TempEnvironment environment_;
    std::unique_ptr<ChildProcess> service_;
};

TEST_F(WindowServiceEndToEnd, FramingEyePositionsStatusAndTheWeavingWindowsEnd) {
    // Three bytes are a whole request; malformed ones end their connection unanswered.
    EXPECT_EQ(Request({1, 0, 0}), Bytes({1, 4, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(Request({6, 0, 0}));
    EXPECT_FALSE(Request({5, 0, 1, 9, 0, 0, 0, 1}));
    EXPECT_FALSE(Request({5, 0}));

    // A wrong argument count gets no reply, and the same connection still serves the next request.
    {
        auto connection = platform::OpenPipeConnection(kPipe, 500);
        ASSERT_TRUE(connection);
        const Bytes three = winpipe::EncodeRequest(2, {winpipe::ByteView(), winpipe::ByteView(), winpipe::ByteView()});
        ASSERT_EQ(connection->Write(three.data(), static_cast<uint32_t>(three.size())), platform::PipeStatus::Ok);
        const Bytes fetch = winpipe::EncodeRequest(5, {});
        ASSERT_EQ(connection->Write(fetch.data(), static_cast<uint32_t>(fetch.size())), platform::PipeStatus::Ok);
        uint8_t reply[64];
        uint32_t size = 0;
        ASSERT_EQ(connection->ReadWithin(reply, sizeof reply, &size, 5000), platform::PipeStatus::Ok);
        EXPECT_EQ(size, 33u);  // the fetch's reply, with nothing before it
    }

    // Eye positions stored on one connection are fetched on another, exactly.
    const float left[3] = {-32, 10, 650}, right[3] = {32, 10, 651};
    EXPECT_EQ(Request(winpipe::EncodeRequest(4, {winpipe::BytesOf(left), winpipe::BytesOf(right)})), winpipe::IntegerReply(0));
    const auto fetched = Request(winpipe::EncodeRequest(5, {winpipe::BytesOf(int32_t {1})}));
    ASSERT_TRUE(fetched);
    ASSERT_EQ(fetched->size(), 33u);
    EXPECT_EQ(std::memcmp(fetched->data() + 5, left, 12), 0);
    EXPECT_EQ(std::memcmp(fetched->data() + 21, right, 12), 0);

    const uint8_t status = 2;
    EXPECT_EQ(Request(winpipe::EncodeRequest(3, {winpipe::ByteView(&status, 1)})), winpipe::IntegerReply(0));
    EXPECT_EQ(platform::RegistryReadDword(platform::RegistryRoot::LocalMachine,
                                          "SOFTWARE\\Norvik\\Tavrix\\TavrixDisplayService", "SBSFeatureStatus"),
              1u);

    // The weaving window starts with the handle text, and ends with the service.
    Bytes handle(20, 0);
    std::memcpy(handle.data(), "1073744386", 10);
    EXPECT_EQ(Request(winpipe::EncodeRequest(2, {handle, winpipe::BytesOf(int32_t {1})})), winpipe::IntegerReply(0));
    std::vector<uint32_t> windows;
    ASSERT_TRUE(WaitUntil([&] {
        windows = OurWeavingWindows(environment_.Path("bin/Plexa"));
        return windows.size() == 1;
    }));
    EXPECT_NE(CommandLineOf(windows[0]).find("Plexa 1073744386"), std::string::npos) << CommandLineOf(windows[0]);
    const auto window = platform::IdentifyProcess(windows[0]);
    ASSERT_TRUE(window);
    EXPECT_EQ(Request(winpipe::EncodeRequest(2, {handle})), winpipe::IntegerReply(-1));

    service_->Signal(SIGTERM);
    EXPECT_EQ(service_->WaitForExit(10s), 0);
    EXPECT_FALSE(platform::ProcessRunning(*window));
}

// The panel frustum the API layer gives a view at `position` (metres, no height offset).
XrFovf PanelFrustum(const XrVector3f& position) {
    constexpr double kHalfWidth = 172.675, kHalfHeight = 97.13;
    const float x = position.x * 1000, y = position.y * 1000, z = position.z * 1000;
    return {-std::atan(static_cast<float>(x + kHalfWidth) / z), std::atan(static_cast<float>(kHalfWidth - x) / z),
            std::atan(static_cast<float>(kHalfHeight - y) / z), -std::atan(static_cast<float>(y + kHalfHeight) / z)};
}

TEST_F(WindowServiceEndToEnd, ApplicationViewsFollowTheStoredEyesAndItsFramesStartTheWeavingWindow) {
    const std::string stage = NORVIK_STAGE_DIR;
    // The lens runtime the driver's presence check loads, the loader's implicit-layer folder
    // holding the staged API layer, and the staged runtime.
    environment_.Set("LD_LIBRARY_PATH", NORVIK_LENS_RUNTIME_DIR);
    for (const char* variable : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) {
        environment_.Set(variable, environment_.Path(std::string("xdg/") + variable));
    }
    const std::string install = std::string("bash '") + NORVIK_SOURCE_DIR + "/scripts/install-api-layer.sh' '" + stage + "' >/dev/null";
    ASSERT_EQ(std::system(install.c_str()), 0);
    environment_.Set("XR_RUNTIME_JSON", stage + "/norvik_openxr_runtime.json");

    const float left[3] = {-32, 0, 600}, right[3] = {32, 0, 600};
    ASSERT_EQ(Request(winpipe::EncodeRequest(4, {winpipe::BytesOf(left), winpipe::BytesOf(right)})), winpipe::IntegerReply(0));
    auto xrService = StartStagedService(environment_, stage);
    ASSERT_TRUE(xrService) << "the XR service never answered";

    SoftSession app;
    ASSERT_NO_FATAL_FAILURE(CreateSoftSession("display-side", &app));
    const XrInstance instance = app.instance;
    const XrSession session = app.session;
    XrReferenceSpaceCreateInfo spaceInfo {XR_TYPE_REFERENCE_SPACE_CREATE_INFO};
    spaceInfo.referenceSpaceType = XR_REFERENCE_SPACE_TYPE_LOCAL;
    spaceInfo.poseInReferenceSpace.orientation.w = 1;
    XrSpace space = XR_NULL_HANDLE;
    ASSERT_EQ(xrCreateReferenceSpace(session, &spaceInfo, &space), XR_SUCCESS);

    // The views stand at the stored eyes, in metres, with the panel frustum from each eye.
    XrViewLocateInfo locateInfo {XR_TYPE_VIEW_LOCATE_INFO};
    locateInfo.viewConfigurationType = XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO;
    locateInfo.space = space;
    XrViewState viewState {XR_TYPE_VIEW_STATE};
    XrView views[2] = {{XR_TYPE_VIEW}, {XR_TYPE_VIEW}};
    uint32_t count = 0;
    ASSERT_EQ(xrLocateViews(session, &locateInfo, &viewState, 2, &count, views), XR_SUCCESS);
    ASSERT_EQ(count, 2u);
    const float expectedX[2] = {-0.032f, 0.032f};
    for (int i = 0; i < 2; ++i) {
        EXPECT_NEAR(views[i].pose.position.x, expectedX[i], 1e-5) << i;
        EXPECT_NEAR(views[i].pose.position.y, 0.0f, 1e-5) << i;
        EXPECT_NEAR(views[i].pose.position.z, 0.6f, 1e-5) << i;
        const XrFovf expected = PanelFrustum(views[i].pose.position);
        EXPECT_NEAR(views[i].fov.angleLeft, expected.angleLeft, 1e-5) << i;
        EXPECT_NEAR(views[i].fov.angleRight, expected.angleRight, 1e-5) << i;
        EXPECT_NEAR(views[i].fov.angleUp, expected.angleUp, 1e-5) << i;
        EXPECT_NEAR(views[i].fov.angleDown, expected.angleDown, 1e-5) << i;
        EXPECT_EQ(views[i].pose.orientation.w, 1.0f) << i;
    }
    EXPECT_GT(views[0].fov.angleRight, views[1].fov.angleRight);  // each eye sees the panel from its own side

    // Frames: the compositor presents its stage buffer, and the window service starts the
    // weaving window with the buffer's handle on its command line.
    // The command line is read while waiting: a process seen a moment earlier may be gone by
    // the time it is read, and then reads as empty.
    std::vector<uint32_t> windows;
    std::string commandLine;
    EXPECT_TRUE(WaitUntil(
        [&] {
            RunEmptyFrame(app);
            windows = OurWeavingWindows(environment_.Path("bin/Plexa"));
            commandLine = windows.size() == 1 ? CommandLineOf(windows[0]) : std::string();
            return !commandLine.empty();
        },
        std::chrono::seconds(30)))
        << windows.size() << " weaving windows";
    if (!commandLine.empty()) {
        const size_t at = commandLine.find("Plexa ");
        ASSERT_NE(at, std::string::npos) << commandLine;
        const unsigned long handle = std::strtoul(commandLine.c_str() + at + 6, nullptr, 10);
        EXPECT_GT(handle, 0ul) << commandLine;
    }

    EXPECT_EQ(xrDestroySpace(space), XR_SUCCESS);
    EXPECT_EQ(xrDestroySession(session), XR_SUCCESS);
    EXPECT_EQ(xrDestroyInstance(instance), XR_SUCCESS);
    xrService->Signal(SIGTERM);
    EXPECT_EQ(xrService->WaitForExit(std::chrono::seconds(30)), 0);
    service_->Signal(SIGTERM);
    EXPECT_EQ(service_->WaitForExit(10s), 0);
}

}  // namespace
}  // namespace qor::test
