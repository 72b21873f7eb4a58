// The client side of one request on the window service's pipe (or the client service's,
// which takes the same framing): a fresh connection, one write, one read, close.
#pragma once

#include "display/winpipe/window_pipe_message.h"
#include "display/winpipe/window_pipe_protocol.h"
#include "platform/pipe.h"

#include <cstdint>
#include <memory>
#include <string_view>

namespace qor::winpipe {

enum class PipeClientStatus {
    Ok,           // a reply arrived
    OpenFailed,   // the pipe could not be opened (every instance busy is waited out, never reported)
    WriteFailed,  // the request did not go out whole
    ReadFailed,   // the read failed: the server closed, or the reply was longer than the buffer
    NoReply,      // nothing arrived within the reply wait
};
const char* PipeClientStatusName(PipeClientStatus status);

// The service answers a request at once or, for a malformed one, never (it keeps the
// connection), so a reply is waited for as long as the pipe's default time-out and no longer.
inline constexpr uint32_t kReplyWaitMs = 1000;

struct PipeClientReply {
    PipeClientStatus status = PipeClientStatus::OpenFailed;
    // The zeroed reply buffer of the size asked for: the reply's bytes first when one arrived,
    // zeros after them; all zeros when none did.
    Bytes buffer;
    uint32_t size = 0;  // bytes that arrived

    bool Ok() const { return status == PipeClientStatus::Ok; }
    ByteView Received() const { return ByteView(buffer).first(size); }
};

class PipeClientConnection {
public:
    // Opens the pipe for reading and writing in message read mode. While every instance is
    // busy it waits for a free one (without limit unless `busyWaitMs` says otherwise) and opens
    // again; any other failure ends the attempt.
    explicit PipeClientConnection(std::string_view pipeName = kWindowServicePipeName,
                                  uint32_t busyWaitMs = platform::kWaitForever);
    PipeClientConnection(const PipeClientConnection&) = delete;
    PipeClientConnection& operator=(const PipeClientConnection&) = delete;

    bool IsOpen() const { return connection_ != nullptr; }
    platform::PipeStatus OpenStatus() const { return openStatus_; }

    // One request with a single write; true only when all its bytes were written.
    bool Write(ByteView request);
    // One reply with a single read into a zeroed buffer of `bufferSize` bytes, waiting at
    // most `waitMs`. After NoReply the connection is closed: a late reply must not answer a
    // later request.
    PipeClientReply Read(uint32_t bufferSize, uint32_t waitMs = kReplyWaitMs);
    void Close() { connection_.reset(); }

private:
    std::unique_ptr<platform::PipeConnection> connection_;
    platform::PipeStatus openStatus_ = platform::PipeStatus::Failed;
};

// The whole exchange on a fresh connection: open, write `request`, read one reply into a
// zeroed buffer of `bufferSize` bytes (kIntegerReplyBufferSize or
// kEyePositionsReplyBufferSize), close. No step is repeated.
PipeClientReply SendRequest(ByteView request, uint32_t bufferSize,
                            std::string_view pipeName = kWindowServicePipeName);

}  // namespace qor::winpipe
