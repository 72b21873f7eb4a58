// Message pipes: Windows named pipes in message mode, or their POSIX stand-in
// (SOCK_SEQPACKET sockets under $NORVIK_PIPE_DIR). One message is one read and one write.
#pragma once

#include "platform/descriptor.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace qor::platform {

// The size of every pipe buffer in this system; a message is at most this long.
constexpr uint32_t kPipeBufferSize = 8192;

// Waiting without limit for a free pipe instance (NMPWAIT_WAIT_FOREVER).
constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

// Where the pipe of this name lives: "\\.\pipe\NAME" on Windows, "$NORVIK_PIPE_DIR/NAME" on POSIX.
std::string PipePath(std::string_view name);

// The folder that isolates one running system on POSIX (sockets, locks, window endpoints);
// created with mode 0700 on first use. On Windows the folder is only used for files that
// stand in for kernel objects, so it is the temp folder.
std::string PipeFolder();

enum class PipeStatus {
    Ok,
    NotFound,     // no server has created the pipe
    Timeout,      // no free instance within the wait, or no message within a read's wait
    MoreData,     // the message was longer than the reader's buffer
    Broken,       // the peer closed or the transfer failed
    TooLarge,     // the message does not fit the pipe buffer
    Failed,       // any other failure
};
const char* PipeStatusName(PipeStatus status);

// Who may connect to a server's instances.
enum class PipeAccess {
    // Everyone and "ALL APPLICATION PACKAGES" get full access (the service pipe).
    EveryoneAndAppContainers,
    // The default descriptor of the creating process.
    Default,
};

// A client that connects writes its request at once; one that sends nothing for this long is
// idle or hostile, and its instance is given to the next client.
constexpr uint32_t kDefaultRequestWaitMs = 3000;

struct PipeServerOptions {
    std::string name;             // pipe name without any prefix, e.g. "NorvikOpenXRPipe"
    uint32_t instances = 1;       // one thread per instance
    uint32_t defaultTimeoutMs = 5000;
    PipeAccess access = PipeAccess::Default;
    // How long a connected instance waits for each request (and for its reply to be taken)
    // before it drops the client.
    uint32_t requestWaitMs = kDefaultRequestWaitMs;
};

// The client of one request as the server sees it, handed to the handler with the request.
class PipeClient {
public:
    // The client's process (POSIX: the peer credentials of the connection; Windows:
    // GetNamedPipeClientProcessId); 0 when unknown.
    virtual uint32_t ProcessId() const = 0;
    // True once the client has closed its end or the server is stopping: nobody will read
    // the reply, so a handler that waits gives up.
    virtual bool Gone() = 0;
    // Sends a descriptor beside the reply (POSIX); false when kMaxMessageDescriptors are
    // attached already or the descriptor is not valid.
    virtual bool AttachToReply(Descriptor descriptor) = 0;
    // Ends the connection once the handler returns, with no reply: for a request so malformed
    // that nothing after it on the same connection can be trusted.
    virtual void EndConnection() = 0;

protected:
    ~PipeClient() = default;
};

// Called for each request message on the instance's own thread. `replySize` is 0 on entry;
// the callee sets it to the number of bytes of `reply` to send (at most kPipeBufferSize). A
// reply size of 0 sends nothing: the connection waits for the client's next request.
using PipeRequestHandler = std::function<void(PipeClient& client, const uint8_t* request, uint32_t requestSize,
                                              uint8_t* reply, uint32_t* replySize)>;

// A server with N instances, each served by its own thread with fixed request and reply
// buffers. An instance serves one connection at a time and keeps answering requests on it
// until the client closes, falls silent for `requestWaitMs` or does not take its reply in
// that time; a request longer than the buffer is dropped without a reply and the instance
// serves the next client. On POSIX only clients of this user are served.
class MessagePipeServer {
public:
    virtual ~MessagePipeServer() = default;
    // Creates the instances and their threads. Returns false at the first failure; the
    // instances created so far keep running.
    virtual bool Start(const PipeServerOptions& options, PipeRequestHandler handler) = 0;
    // Stops every instance thread and closes the pipe; a handler still running sees its
    // client Gone() and is waited for. Safe to call more than once.
    virtual void Stop() = 0;
    virtual uint32_t RunningInstances() const = 0;
};
std::unique_ptr<MessagePipeServer> CreateMessagePipeServer();

// One transacted exchange: connect (waiting up to `waitMs` for a free instance, or
// kWaitForever), write the request, read one reply message into `reply`, close. Descriptors
// that came beside the reply are handed to `received` when given, else closed.
PipeStatus TransactPipe(std::string_view name, const void* request, uint32_t requestSize, void* reply,
                        uint32_t replyCapacity, uint32_t* replySize, uint32_t waitMs,
                        Descriptors* received = nullptr);

// A connection-style client: open with busy-wait, message read mode, then any number of
// writes and reads until it is closed. On Windows the handle is opened overlapped so that a
// read can be bounded.
class PipeConnection {
public:
    virtual ~PipeConnection() = default;
    virtual PipeStatus Write(const void* data, uint32_t size) = 0;
    // Reads one message; MoreData when it was longer than `capacity` (the message is lost).
    PipeStatus Read(void* buffer, uint32_t capacity, uint32_t* size) {
        return ReadWithin(buffer, capacity, size, kWaitForever);
    }
    // The same, waiting at most `waitMs` for the message (kWaitForever: without limit);
    // Timeout when none came. A message that comes later would answer the next read, so the
    // connection is of no further use after a time-out: close it.
    virtual PipeStatus ReadWithin(void* buffer, uint32_t capacity, uint32_t* size, uint32_t waitMs) = 0;
};
// Opens a connection, retrying while every instance is busy for up to `busyWaitMs`
// (kWaitForever: without limit). Returns null with `status` set on failure.
std::unique_ptr<PipeConnection> OpenPipeConnection(std::string_view name, uint32_t busyWaitMs,
                                                   PipeStatus* status = nullptr);

}  // namespace qor::platform
