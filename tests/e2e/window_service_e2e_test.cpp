// The staged window service run as a service (NORVIK_SERVICE=1): its pipe's framing rules,
// the eye positions shared between connections, the side-by-side status, and a weaving window
// it started being ended when the service stops.
#include "display/winpipe/window_pipe_message.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "tests/support/child_process.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <cstring>
#include <filesystem>
#include <fstream>

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

}  // namespace
}  // namespace qor::test
