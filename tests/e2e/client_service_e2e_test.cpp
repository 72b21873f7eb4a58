// The staged client service run as an ordinary process: an application that finds no XR
// service gets one through it, at most one is started however often it is asked, and
// malformed requests end only their own connection.
#include "display/winpipe/window_pipe_message.h"
#include "platform/pipe.h"
#include "platform/registry.h"
#include "protocol/pipe_names.h"
#include "tests/support/child_process.h"
#include "tests/support/service_pipe.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>
#include <openxr/openxr.h>

#include <signal.h>

#include <cstring>
#include <fstream>
#include <sstream>

// The Khronos loader keeps some of its records until the process ends.
extern "C" const char* __lsan_default_suppressions() { return "leak:libopenxr_loader.so\n"; }

namespace qor::test {
namespace {

using namespace std::chrono_literals;
const std::string kStage = NORVIK_STAGE_DIR;

std::string ReadText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

class ClientServiceEndToEnd : public ::testing::Test {
protected:
    // Starts "QorClientService run" with "RuntimeDir" pointing at `runtimeDir`.
    void StartClientService(const std::string& runtimeDir) {
        environment_.Set("NORVIK_DEBUG_OUTPUT", "1");
        environment_.Set("NORVIK_CAPTURE_DIR", environment_.Path("capture"));
        ASSERT_TRUE(platform::RegistryWriteString(platform::RegistryRoot::LocalMachine,
                                                  "SOFTWARE\\Norvik\\Norvik XR Service", "RuntimeDir", runtimeDir));
        client_ = std::make_unique<ChildProcess>(kStage + "/QorClientService", std::vector<std::string> {"run"},
                                                 Trace());
        ASSERT_TRUE(WaitUntil([] { return platform::OpenPipeConnection(protocol::kClientServicePipeName, 500) != nullptr; }));
    }

    std::string Trace() const { return environment_.Path("client.err"); }

    // One request on its own connection; true when the service ended the connection unanswered.
    static bool EndsTheConnection(const winpipe::Bytes& request) {
        auto connection = platform::OpenPipeConnection(protocol::kClientServicePipeName, 500);
        if (!connection || connection->Write(request.data(), static_cast<uint32_t>(request.size())) != platform::PipeStatus::Ok) {
            return false;
        }
        uint8_t reply[16];
        uint32_t size = 0;
        return connection->Read(reply, sizeof reply, &size) == platform::PipeStatus::Broken;
    }

    static void SendStartRequest() {
        auto connection = platform::OpenPipeConnection(protocol::kClientServicePipeName, 500);
        ASSERT_TRUE(connection);
        const winpipe::Bytes request = winpipe::EncodeRequest(0, {});
        ASSERT_EQ(connection->Write(request.data(), static_cast<uint32_t>(request.size())), platform::PipeStatus::Ok);
    }

    void StopClientService() {
        client_->Signal(SIGTERM);
        EXPECT_EQ(client_->WaitForExit(10s), 0) << ReadText(Trace());
    }

    TempEnvironment environment_;
    std::unique_ptr<ChildProcess> client_;
};

TEST_F(ClientServiceEndToEnd, ApplicationWithNoServiceGetsExactlyOneThroughTheClientService) {
    StartClientService(kStage);
    ASSERT_FALSE(ServiceAnswers());
    environment_.Set("XR_RUNTIME_JSON", kStage + "/norvik_openxr_runtime.json");

    XrInstanceCreateInfo createInfo {XR_TYPE_INSTANCE_CREATE_INFO};
    std::strcpy(createInfo.applicationInfo.applicationName, "started for me");
    createInfo.applicationInfo.apiVersion = XR_MAKE_VERSION(1, 0, 17);
    XrInstance instance = XR_NULL_HANDLE;
    ASSERT_EQ(xrCreateInstance(&createInfo, &instance), XR_SUCCESS);
    EXPECT_TRUE(ServiceAnswers());

    // More requests, while it runs: none starts another.
    for (int i = 0; i < 5; ++i) SendStartRequest();
    ASSERT_TRUE(WaitUntil([&] { return Count(ReadText(Trace()), "process_OpenQorRuntime(): Exit") >= 6; }));
    EXPECT_EQ(Count(ReadText(Trace()), "process_OpenQorRuntime(): started"), 1u) << ReadText(Trace());
    EXPECT_EQ(xrDestroyInstance(instance), XR_SUCCESS);

    // Left Alt + M + B closes the XR service, which is no child of this test.
    std::ofstream(environment_.Path("pipe/keys-down")) << "164\n77\n66\n";
    EXPECT_TRUE(WaitUntil([] { return Liveness() == platform::PipeStatus::NotFound; }, 20s));
    StopClientService();
}

TEST_F(ClientServiceEndToEnd, MalformedRequestsEndOnlyTheirConnection) {
    StartClientService(environment_.Path("no such folder"));
    const uint8_t twoBytes[] = {0, 0};
    EXPECT_TRUE(EndsTheConnection(winpipe::Bytes(twoBytes, twoBytes + 2)));
    EXPECT_TRUE(EndsTheConnection(winpipe::EncodeRequest(1, {})));
    const uint8_t overrun[] = {0, 0, 1, 200, 0, 0, 0, 'x'};  // an argument longer than the message
    EXPECT_TRUE(EndsTheConnection(winpipe::Bytes(overrun, overrun + sizeof overrun)));

    // The listener still takes start requests; a program that cannot be started is logged.
    SendStartRequest();
    ASSERT_TRUE(WaitUntil([&] { return Count(ReadText(Trace()), "process_OpenQorRuntime(): Exit") == 1; }));
    EXPECT_NE(ReadText(Trace()).find("Could not start"), std::string::npos) << ReadText(Trace());
    EXPECT_FALSE(ServiceAnswers());
    StopClientService();
}

}  // namespace
}  // namespace qor::test
