#include "platform/pipe.h"
#include "platform/system.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
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
    // Echoes the request with a one-byte prefix; requests starting with 'G' wait at the gate,
    // 'W' until the client is gone, 'P' answer the client's process id, 'D' attach
    // descriptors_ to the reply, 'N' get no reply and 'E' end the connection.
    void StartEchoServer(uint32_t instances, uint32_t requestWaitMs = kDefaultRequestWaitMs) {
        server_ = CreateMessagePipeServer();
        PipeServerOptions options;
        options.name = name_;
        options.instances = instances;
        options.access = PipeAccess::EveryoneAndAppContainers;
        options.requestWaitMs = requestWaitMs;
        ASSERT_TRUE(server_->Start(options, [this](PipeClient& client, const uint8_t* request, uint32_t size,
                                                   uint8_t* reply, uint32_t* replySize) {
            ++served_;
            if (size > 0 && request[0] == 'G') gate_.Wait();
            if (size > 0 && request[0] == 'W') {
                while (!client.Gone()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
                ++sawGone_;
            }
            if (size > 0 && request[0] == 'P') {
                const uint32_t id = client.ProcessId();
                std::memcpy(reply, &id, sizeof id);
                *replySize = sizeof id;
                return;
            }
            if (size > 0 && (request[0] == 'N' || request[0] == 'E')) {
                if (request[0] == 'E') client.EndConnection();
                return;
            }
            if (size > 0 && request[0] == 'D') {
                for (auto& descriptor : descriptors_) attached_ += client.AttachToReply(std::move(descriptor)) ? 1 : 0;
            }
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
    std::atomic<int> sawGone_ {0};
    Descriptors descriptors_;  // handed to the reply of a 'D' request
    int attached_ = 0;
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
    // A request the handler leaves unanswered sends nothing: the next reply is the next request's.
    ASSERT_EQ(connection->Write("N", 1), PipeStatus::Ok);
    ASSERT_EQ(connection->Write("four", 4), PipeStatus::Ok);
    char reply[64];
    uint32_t size = 0;
    ASSERT_EQ(connection->Read(reply, sizeof reply, &size), PipeStatus::Ok);
    EXPECT_EQ(std::string(reply, size), ">four");
    // A handler that ends the connection closes it without a reply.
    ASSERT_EQ(connection->Write("E", 1), PipeStatus::Ok);
    EXPECT_EQ(connection->Read(reply, sizeof reply, &size), PipeStatus::Broken);
    EXPECT_EQ(Call("five"), ">five");
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

TEST_F(PipeTest, HandlerKnowsItsClientAndWhenItLeaves) {
    StartEchoServer(1);
    std::string id = Call("P");
    ASSERT_EQ(id.size(), sizeof(uint32_t));
    uint32_t process = 0;
    std::memcpy(&process, id.data(), sizeof process);
    EXPECT_EQ(process, ProcessId());
    // A client that leaves while its request is handled: the handler sees it and the instance
    // serves the next client.
    {
        auto connection = OpenPipeConnection(name_, 500);
        ASSERT_TRUE(connection);
        ASSERT_EQ(connection->Write("W", 1), PipeStatus::Ok);
        ASSERT_TRUE(WaitUntil([&] { return served_ == 2; }));
    }
    ASSERT_TRUE(WaitUntil([&] { return sawGone_ == 1; }));
    EXPECT_EQ(Call("next"), ">next");
    // A stop does not wait for a client that stays: its handler sees it gone too.
    auto staying = OpenPipeConnection(name_, 500);
    ASSERT_TRUE(staying);
    ASSERT_EQ(staying->Write("W", 1), PipeStatus::Ok);
    ASSERT_TRUE(WaitUntil([&] { return served_ == 4; }));
    server_->Stop();
    EXPECT_EQ(sawGone_, 2);
}

TEST_F(PipeTest, SilentClientsLoseTheirInstanceAfterTheRequestWait) {
    StartEchoServer(1, 200);
    auto silent = OpenPipeConnection(name_, 500);
    ASSERT_TRUE(silent);
    EXPECT_EQ(Call("served", kWaitForever), ">served");
    uint8_t byte = 0;
    uint32_t size = 0;
    EXPECT_EQ(silent->Read(&byte, 1, &size), PipeStatus::Broken);
    EXPECT_EQ(served_, 1);
}

#if !defined(_WIN32)
TEST_F(PipeTest, DescriptorsTravelBesideTheReplyUpToTheLimit) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    Descriptor writeEnd(ends[1]);
    for (uint32_t i = 0; i <= kMaxMessageDescriptors; ++i) descriptors_.emplace_back(::dup(ends[0]));
    ::close(ends[0]);
    StartEchoServer(1);
    const char request = 'D';
    uint8_t reply[16];
    uint32_t size = 0;
    Descriptors received;
    ASSERT_EQ(TransactPipe(name_, &request, 1, reply, sizeof reply, &size, 500, &received), PipeStatus::Ok);
    EXPECT_EQ(attached_, static_cast<int>(kMaxMessageDescriptors));
    ASSERT_EQ(received.size(), kMaxMessageDescriptors);
    ASSERT_EQ(::write(writeEnd.Get(), "z", 1), 1);
    char byte = 0;
    EXPECT_EQ(::read(received.back().Get(), &byte, 1), 1);
    EXPECT_EQ(byte, 'z');
    EXPECT_EQ(::fcntl(received.front().Get(), F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
}

TEST_F(PipeTest, ClientsOfAnotherUserAreRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can act as another user here";
    StartEchoServer(1);
    // Open the folder to others, as a careless administrator might: the peer check still holds.
    const std::string path = PipePath(name_);
    ASSERT_EQ(::chmod(environment_.Root().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(path.substr(0, path.rfind('/')).c_str(), 0755), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        // Only system calls between fork and exit: the parent has other threads.
        if (::setuid(65534) != 0) ::_exit(2);
        const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), std::min(path.size(), sizeof address.sun_path - 1));
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(3);
        if (::send(fd, "x", 1, MSG_NOSIGNAL) != 1) ::_exit(0);  // dropped before the request
        char reply[16];
        ::_exit(::recv(fd, reply, sizeof reply, 0) > 0 ? 1 : 0);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: served, 2: setuid failed, 3: could not connect";
    EXPECT_EQ(served_, 0);
    EXPECT_EQ(Call("own"), ">own");
}
#endif

}  // namespace
}  // namespace qor::platform
