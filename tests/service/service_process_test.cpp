// The staged "Norvik XR Service" program, started on a temporary folder.
#include "platform/pipe.h"
#include "platform/system.h"
#include "protocol/wire.h"
#include "tests/support/child_process.h"
#include "tests/support/service_pipe.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <regex>
#include <thread>
#include <vector>

namespace qor {
namespace {

using platform::PipeStatus;
const std::string kProgram = std::string(NORVIK_STAGE_DIR) + "/Norvik XR Service";

struct Answer {
    PipeStatus status = PipeStatus::Failed;
    int32_t result = 0;
    std::vector<uint8_t> body;
};

Answer Ask(uint32_t code, uint32_t waitMs = 500) {
    uint8_t reply[protocol::kMaxReplySize];
    uint32_t size = 0;
    Answer answer;
    answer.status = platform::TransactPipe("NorvikOpenXRPipe", &code, 4, reply, sizeof reply, &size, waitMs);
    if (answer.status == PipeStatus::Ok && size >= 4) {
        std::memcpy(&answer.result, reply, 4);
        answer.body.assign(reply + 4, reply + size);
    }
    return answer;
}

class ServiceProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        service_ = std::make_unique<test::ChildProcess>(kProgram, std::vector<std::string> {},
                                                        environment_.Path("service.err"));
        ASSERT_TRUE(service_->Started());
        ASSERT_TRUE(test::WaitUntil([] { return Ask(0).status == PipeStatus::Ok; }))
            << "the service never answered on its pipe";
        ASSERT_NE(test::KeepServiceRunning(), 0u);
    }

    test::TempEnvironment environment_;
    std::unique_ptr<test::ChildProcess> service_;
};

TEST_F(ServiceProcessTest, AnswersTheBasicRequests) {
    Answer answer = Ask(0);
    EXPECT_EQ(answer.result, XR_SUCCESS);
    EXPECT_TRUE(answer.body.empty());
    answer = Ask(12345);
    EXPECT_EQ(answer.result, XR_SUCCESS);
    EXPECT_TRUE(answer.body.empty());
    answer = Ask(100005);
    EXPECT_EQ(answer.result, XR_ERROR_FUNCTION_UNSUPPORTED);
    answer = Ask(10000);
    EXPECT_EQ(answer.result, XR_SUCCESS);
    EXPECT_EQ(answer.body, std::vector<uint8_t>(4, 0));
}

TEST_F(ServiceProcessTest, OverlongRequestGetsNoReplyAndTheNextClientIsServed) {
    auto connection = platform::OpenPipeConnection("NorvikOpenXRPipe", 500);
    ASSERT_TRUE(connection);
    std::vector<uint8_t> overlong(8193, 0);
    ASSERT_EQ(connection->Write(overlong.data(), static_cast<uint32_t>(overlong.size())), PipeStatus::Ok);
    uint8_t reply[protocol::kMaxReplySize];
    uint32_t size = 0;
    EXPECT_NE(connection->Read(reply, sizeof reply, &size), PipeStatus::Ok);
    EXPECT_EQ(Ask(0).status, PipeStatus::Ok);
}

TEST_F(ServiceProcessTest, ThirtyThreeClientsAtOnceAreAllServed) {
    constexpr int kClients = 33;
    std::atomic<int> served {0};
    std::atomic<int> ready {0};
    std::vector<std::thread> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.emplace_back([&] {
            ++ready;
            while (ready < kClients) std::this_thread::yield();
            // Without limit, as xrWaitFrame waits; the others would be refused after 500 ms.
            if (Ask(0, platform::kWaitForever).status == PipeStatus::Ok) ++served;
        });
    }
    for (auto& client : clients) client.join();
    EXPECT_EQ(served, kClients);
}

TEST_F(ServiceProcessTest, SecondCopyExitsAtOnceAndTheFirstKeepsAnswering) {
    test::ChildProcess second(kProgram);
    ASSERT_TRUE(second.Started());
    EXPECT_EQ(second.WaitForExit(std::chrono::seconds(30)), 0);
    EXPECT_EQ(Ask(0).status, PipeStatus::Ok);
}

TEST_F(ServiceProcessTest, WritesTheStartupLineToTheDailyServerLog) {
    const std::string folder = environment_.Path("local/Norvik/OpenXR/Logs");
    const std::regex line(R"(\d{4}-\d{2}-\d{2}  \d{2}:\d{2}:\d{2}\tNorvik OpenXR runtime startup\.\n)");
    std::string content;
    ASSERT_TRUE(test::WaitUntil([&] {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("server_", 0) == 0) content = test::ReadFile(entry.path().string());
        }
        return std::regex_search(content, line);
    })) << content;
    // The file is named after today's local date (unless the test ran across midnight).
    char today[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(today, sizeof today, "server_%Y-%m-%d.log", std::localtime(&now));
    EXPECT_TRUE(platform::FileExists(folder + "/" + today));
}

TEST_F(ServiceProcessTest, TerminationSignalEndsTheMessageLoopCleanly) {
    service_->Signal(SIGTERM);
    EXPECT_EQ(service_->WaitForExit(std::chrono::seconds(30)), 0);
    EXPECT_NE(Ask(0).status, PipeStatus::Ok);
    EXPECT_FALSE(platform::FileExists(environment_.Path("pipe/NorvikOpenXRPipe")));
    // The lock went with the process: a new copy starts and answers.
    test::ChildProcess next(kProgram);
    EXPECT_TRUE(test::WaitUntil([] { return Ask(0).status == PipeStatus::Ok; }));
    next.Signal(SIGINT);
    EXPECT_EQ(next.WaitForExit(std::chrono::seconds(30)), 0);
}

}  // namespace
}  // namespace qor
