// The runtime library's side of the service pipe: per-thread buffers, one transacted
// exchange per call, the start request to the client service and the liveness probing.
#pragma once

#include "platform/descriptor.h"
#include "protocol/pipe_names.h"

#include <openxr/openxr.h>

#include <chrono>
#include <cstdint>

namespace qor::runtime {

using protocol::kClientServicePipeName;
using protocol::kServicePipeName;
constexpr uint32_t kInstanceWaitMs = 500;
constexpr uint32_t kBufferSize = 8192;

// Bytes 0-8191 hold the request being built, bytes 8192-16383 receive the reply.
struct ThreadBuffer {
    uint8_t request[kBufferSize];
    uint8_t reply[kBufferSize];
};

// The calling thread's buffer, allocated zero-filled on first use; null when the
// allocation fails.
ThreadBuffer* CurrentThreadBuffer();
void FreeThreadBuffer();

struct Exchange {
    bool done = false;                          // the transacted call itself succeeded
    XrResult result = XR_ERROR_RUNTIME_FAILURE;  // the reply's result when done
    uint32_t replySize = 0;
    // What the service sent beside the reply (the shared objects of swapchain images on POSIX).
    platform::Descriptors descriptors;
};

// Sends `requestSize` bytes of the buffer's request and receives the reply, waiting
// `waitMs` for a free pipe instance (kWaitForever for xrWaitFrame).
Exchange Transact(ThreadBuffer& buffer, uint32_t requestSize, uint32_t waitMs);

// Command 0 with no arguments to the client service; every failure is silent. True when the
// client service took the request.
bool SendStartRequest();
// One liveness probe (code 0, 500 ms wait); true when the service answered XR_SUCCESS.
bool ProbeService();

struct ProbeCadence {
    std::chrono::milliseconds interval;
    uint32_t startRequestEvery;  // failed probes in a row before the start request is repeated
};
constexpr ProbeCadence kProcessProbeCadence {std::chrono::milliseconds(200), 51};
constexpr ProbeCadence kThreadProbeCadence {std::chrono::milliseconds(50), 21};

// Probes until the service answers (true) or `limit` has passed (false).
bool ProbeUntilAnswered(const ProbeCadence& cadence, std::chrono::milliseconds limit);

// How long loading waits for the service before it completes without one. The product
// default is 30 s; NORVIK_RUNTIME_START_LIMIT_MS changes it (tests use short limits).
std::chrono::milliseconds StartLimit();
// How long loading waits when the start request reached no client service either: the XR
// service may still be starting from a script, but nothing will start it for the library.
constexpr std::chrono::milliseconds kUnstartedServiceLimit {5000};
// A new thread waits at most this long (the start limit, but no more than 5 s): the
// service either runs already or has just been given the whole start limit.
std::chrono::milliseconds ThreadStartLimit();

}  // namespace qor::runtime
