// The service pipe "NorvikOpenXRPipe": 32 instances, one thread each, every request handed
// to the RequestHandler and answered with one reply message.
#pragma once

#include "platform/pipe.h"
#include "protocol/pipe_names.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace qor {

using protocol::kServicePipeName;
constexpr uint32_t kServicePipeInstances = 32;
// The pipe's own default time-out: how long a client that asks for the default waits for a
// free instance.
constexpr uint32_t kServicePipeDefaultTimeoutMs = 5000;

// (the request's client, request bytes, request size, reply bytes, reply size in/out)
using RequestHandler = platform::PipeRequestHandler;

class PipeServer {
public:

    // Starts the 32 instances; false at the first failure (the instances made so far keep
    // running). The handler is stored once and called for every request.
    bool Start(RequestHandler handler);
    // Orderly stop at the end of the program: no request is served afterwards; handlers that
    // wait give up, so this returns promptly whatever the clients do.
    void Stop();
    ~PipeServer() { Stop(); }

private:
    std::mutex mutex_;
    std::unique_ptr<platform::MessagePipeServer> server_;
};

}  // namespace qor
