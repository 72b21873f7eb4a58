#include "display/winpipe/pipe_client_connection.h"
#include "platform/pipe.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qor::winpipe {
namespace {

// A small window service: 4 stores the pair, 5 returns it, 1 answers 0, and every other
// request gets no reply while the client stays connected.
class PipeClientConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = platform::CreateMessagePipeServer();
        platform::PipeServerOptions options;
        options.name = name_;
        options.instances = 2;
        ASSERT_TRUE(server_->Start(options, [this](platform::PipeClient& client, const uint8_t* request,
                                                   uint32_t size, uint8_t* reply, uint32_t* replySize) {
            const auto decoded = DecodeRequest(ByteView(request, size));
            Bytes answer;
            if (decoded && decoded->command == kCommandStoreEyePositions && decoded->arguments.size() == 2) {
                std::lock_guard lock(mutex_);
                eyes_ = {*DecodeEyePosition(decoded->arguments[0]), *DecodeEyePosition(decoded->arguments[1])};
                answer = IntegerReply(0);
            } else if (decoded && decoded->command == kCommandFetchEyePositions) {
                std::lock_guard lock(mutex_);
                answer = EyePositionsReply(eyes_);
            } else if (decoded && decoded->command == kCommandCloseApp) {
                answer = IntegerReply(0);
            } else {
                while (!client.Gone()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
                return;
            }
            std::copy(answer.begin(), answer.end(), reply);
            *replySize = static_cast<uint32_t>(answer.size());
        }));
    }
    void TearDown() override { server_->Stop(); }

    test::TempEnvironment environment_;
    std::string name_ = test::UniqueName("Plexaview_NamedPipe");
    std::unique_ptr<platform::MessagePipeServer> server_;
    std::mutex mutex_;
    EyePair eyes_;
};

TEST_F(PipeClientConnectionTest, OneRequestPerConnectionGetsItsReplyOrAClearFailure) {
    const int32_t one = 1;
    const EyePair eyes {{-31.5f, 2.0f, 598.0f}, {32.5f, 2.5f, 601.0f}};
    const struct {
        const char* name;
        Bytes request;
        uint32_t bufferSize;
        PipeClientStatus status;
        uint32_t size;
    } cases[] = {
        {"close app", EncodeRequest(kCommandCloseApp, {BytesOf(one)}), kIntegerReplyBufferSize, PipeClientStatus::Ok, 9},
        {"store eye positions", StoreEyePositionsRequest(eyes), kIntegerReplyBufferSize, PipeClientStatus::Ok, 9},
        {"fetch eye positions", EncodeRequest(kCommandFetchEyePositions, {BytesOf(one)}),
         kEyePositionsReplyBufferSize, PipeClientStatus::Ok, 33},
        {"reply longer than the buffer", EncodeRequest(kCommandFetchEyePositions, {}), kIntegerReplyBufferSize,
         PipeClientStatus::ReadFailed, 0},
        // The service keeps such a connection without answering; the client gives up.
        {"no reply", EncodeRequest(kCommandSharedHandler, {}), kIntegerReplyBufferSize, PipeClientStatus::NoReply, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PipeClientReply reply = SendRequest(c.request, c.bufferSize, name_);
        EXPECT_EQ(reply.status, c.status) << PipeClientStatusName(reply.status);
        EXPECT_EQ(reply.size, c.size);
        ASSERT_EQ(reply.buffer.size(), c.bufferSize);
        for (size_t i = reply.size; i < c.bufferSize; ++i) ASSERT_EQ(reply.buffer[i], 0) << i;
    }
    const PipeClientReply fetched =
        SendRequest(EncodeRequest(kCommandFetchEyePositions, {BytesOf(one)}), kEyePositionsReplyBufferSize, name_);
    EXPECT_EQ(EyePairFromReplyBuffer(fetched.buffer), eyes);
    EXPECT_EQ(ReadIntegerReply(SendRequest(EncodeRequest(kCommandCloseApp, {}), 13, name_).Received()), 0);

    const PipeClientReply absent = SendRequest(EncodeRequest(kCommandCloseApp, {}), 13, name_ + "Absent");
    EXPECT_EQ(absent.status, PipeClientStatus::OpenFailed);
    EXPECT_EQ(absent.buffer, Bytes(13, 0));
}

TEST_F(PipeClientConnectionTest, AConnectionWithoutAReplyIsClosedAfterItsWait) {
    PipeClientConnection connection(name_);
    ASSERT_TRUE(connection.IsOpen()) << platform::PipeStatusName(connection.OpenStatus());
    ASSERT_TRUE(connection.Write(EncodeRequest(kCommandOpenApp, {})));
    EXPECT_EQ(connection.Read(kIntegerReplyBufferSize, 100).status, PipeClientStatus::NoReply);
    EXPECT_FALSE(connection.IsOpen());
    EXPECT_FALSE(connection.Write(EncodeRequest(kCommandCloseApp, {})));
    EXPECT_EQ(connection.Read(kIntegerReplyBufferSize).status, PipeClientStatus::ReadFailed);
}

}  // namespace
}  // namespace qor::winpipe
