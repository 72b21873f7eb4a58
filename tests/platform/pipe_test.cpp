#include "platform/pipe.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qor::platform {
namespace {

using test::WaitUntil;

// Blocks handlers until released, so tests can keep every instance busy.
class Gate {
public:
    void Wait() {
        std::unique_lock lock(mutex_);
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
        --waiting_;
    }
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    int Waiting() {
        std::lock_guard lock(mutex_);
        return waiting_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int waiting_ = 0;
    bool open_ = false;
};

class PipeTest : public ::testing::Test {
protected:
    // Echoes the request with a one-byte prefix; requests starting with 'G' wait at the gate.
    void StartEchoServer(uint32_t instances) {
        server_ = CreateMessagePipeServer();
        PipeServerOptions options;
        options.name = name_;
        options.instances = instances;
        options.access = PipeAccess::EveryoneAndAppContainers;
        ASSERT_TRUE(server_->Start(options, [this](const uint8_t* request, uint32_t size, uint8_t* reply,
                                                   uint32_t* replySize) {
            ++served_;
            if (size > 0 && request[0] == 'G') gate_.Wait();
            reply[0] = '>';
            std::memcpy(reply + 1, request, std::min<uint32_t>(size, kPipeBufferSize - 1));
            *replySize = std::min<uint32_t>(size + 1, kPipeBufferSize);
        }));
        EXPECT_EQ(server_->RunningInstances(), instances);
    }

    std::string Call(const std::string& text, uint32_t waitMs = 500, PipeStatus* status = nullptr) {
        uint8_t reply[kPipeBufferSize];
        uint32_t size = 0;
        const PipeStatus result =
            TransactPipe(name_, text.data(), static_cast<uint32_t>(text.size()), reply, sizeof reply, &size, waitMs);
        if (status) *status = result;
        return result == PipeStatus::Ok ? std::string(reinterpret_cast<char*>(reply), size) : std::string();
    }

    void TearDown() override {
        gate_.Open();
        if (server_) server_->Stop();
    }

    test::TempEnvironment environment_;
    std::string name_ = test::UniqueName("NorvikTestPipe");
    std::unique_ptr<MessagePipeServer> server_;
    std::atomic<int> served_ {0};
    Gate gate_;
};

TEST_F(PipeTest, TransactedCallsGetOneReplyMessageEach) {
    StartEchoServer(2);
    EXPECT_EQ(Call("hello"), ">hello");
    EXPECT_EQ(Call(std::string(1, '\0')), std::string(">") + '\0');
    const std::string large(8191, 'x');
    EXPECT_EQ(Call(large), ">" + large);
    EXPECT_EQ(served_, 3);
}

TEST_F(PipeTest, NoServerMeansNotFound) {
    PipeStatus status;
    Call("x", 500, &status);
    EXPECT_EQ(status, PipeStatus::NotFound);
}

TEST_F(PipeTest, ReplyLongerThanTheBufferIsReportedNotCut) {
    StartEchoServer(1);
    uint8_t reply[8];
    uint32_t size = 99;
    EXPECT_EQ(TransactPipe(name_, "0123456789", 10, reply, sizeof reply, &size, 500), PipeStatus::MoreData);
    EXPECT_EQ(Call("next"), ">next");
}

TEST_F(PipeTest, OverlongRequestGetsNoReplyAndTheNextClientIsServed) {
    StartEchoServer(1);
    PipeStatus status;
    auto connection = OpenPipeConnection(name_, 500, &status);
    ASSERT_TRUE(connection) << PipeStatusName(status);
    const std::vector<uint8_t> overlong(kPipeBufferSize + 1, 'a');
    ASSERT_EQ(connection->Write(overlong.data(), static_cast<uint32_t>(overlong.size())), PipeStatus::Ok);
    uint8_t reply[kPipeBufferSize];
    uint32_t size = 0;
    EXPECT_NE(connection->Read(reply, sizeof reply, &size), PipeStatus::Ok);
    connection.reset();
    EXPECT_EQ(served_, 0);
    EXPECT_EQ(Call("after"), ">after");
}

TEST_F(PipeTest, ClientThatClosesWithoutWritingDoesNotBlockTheInstance) {
    StartEchoServer(1);
    for (int i = 0; i < 3; ++i) {
        auto connection = OpenPipeConnection(name_, 500);
        ASSERT_TRUE(connection);
    }
    EXPECT_EQ(Call("still"), ">still");
}

TEST_F(PipeTest, ConnectionKeepsServingRequestsUntilClosed) {
    StartEchoServer(1);
    auto connection = OpenPipeConnection(name_, 500);
    ASSERT_TRUE(connection);
    for (const std::string text : {"one", "two", "three"}) {
        ASSERT_EQ(connection->Write(text.data(), static_cast<uint32_t>(text.size())), PipeStatus::Ok);
        char reply[64];
        uint32_t size = 0;
        ASSERT_EQ(connection->Read(reply, sizeof reply, &size), PipeStatus::Ok);
        EXPECT_EQ(std::string(reply, size), ">" + text);
    }
}

TEST_F(PipeTest, ConnectionReadReportsOverlongMessageAndStaysOnBoundaries) {
    StartEchoServer(1);
    auto connection = OpenPipeConnection(name_, 500);
    ASSERT_TRUE(connection);
    const std::string text = "0123456789";
    ASSERT_EQ(connection->Write(text.data(), static_cast<uint32_t>(text.size())), PipeStatus::Ok);
    char small[4];
    uint32_t size = 0;
    EXPECT_EQ(connection->Read(small, sizeof small, &size), PipeStatus::MoreData);
    ASSERT_EQ(connection->Write("ab", 2), PipeStatus::Ok);
    char reply[64];
    ASSERT_EQ(connection->Read(reply, sizeof reply, &size), PipeStatus::Ok);
    EXPECT_EQ(std::string(reply, size), ">ab");
}

TEST_F(PipeTest, EveryInstanceServesAtOnceAndExtraClientsWaitForAFreeOne) {
    constexpr int kInstances = 4;
    StartEchoServer(kInstances);
    std::vector<std::thread> clients;
    std::atomic<int> answered {0};
    // One client more than there are instances; the last waits without limit.
    for (int i = 0; i <= kInstances; ++i) {
        clients.emplace_back([&, i] {
            if (Call("G" + std::to_string(i), kWaitForever) == ">G" + std::to_string(i)) ++answered;
        });
    }
    ASSERT_TRUE(WaitUntil([&] { return gate_.Waiting() == kInstances; }));
    EXPECT_EQ(answered, 0);
    gate_.Open();
    for (auto& client : clients) client.join();
    EXPECT_EQ(answered, kInstances + 1);
}

TEST_F(PipeTest, ClientGivesUpWhenNoInstanceFreesWithinItsWait) {
    StartEchoServer(1);
    std::thread holder([&] { Call("G", kWaitForever); });
    ASSERT_TRUE(WaitUntil([&] { return gate_.Waiting() == 1; }));
    // A queued connection may take one waiting client; the ones after it time out.
    std::vector<std::thread> waiting;
    std::atomic<int> timedOut {0};
    for (int i = 0; i < 3; ++i) {
        waiting.emplace_back([&] {
            PipeStatus status;
            Call("x", 300, &status);
            if (status == PipeStatus::Timeout) ++timedOut;
        });
    }
    ASSERT_TRUE(WaitUntil([&] { return timedOut > 0; }));
    gate_.Open();
    holder.join();
    for (auto& client : waiting) client.join();
    EXPECT_EQ(Call("later"), ">later");
}

TEST_F(PipeTest, StopEndsServingAndCanBeRepeated) {
    StartEchoServer(2);
    EXPECT_EQ(Call("a"), ">a");
    server_->Stop();
    server_->Stop();
    PipeStatus status;
    Call("b", 100, &status);
    EXPECT_NE(status, PipeStatus::Ok);
}

}  // namespace
}  // namespace qor::platform
