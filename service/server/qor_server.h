// QorServer: the service's request dispatch. Every pipe request goes through Dispatch, which
// presets the reply size to the 4-byte result, calls the operation's handler and stores its
// XrResult in reply bytes 0-3.
#pragma once

#include "platform/pipe.h"
#include "service/server/handlers.h"

#include <openxr/openxr.h>

#include <cstdint>
#include <span>

namespace qor {

// A dispatch row: reads the request body from byte 4 and appends the reply body at *replySize.
using OperationHandler = XrResult (*)(const Caller& caller, const uint8_t* request, uint32_t requestSize,
                                      uint8_t* reply, uint32_t* replySize);

struct HandlerEntry {
    uint32_t code;
    OperationHandler handler;
};

// The handler of every operation the service implements, in ascending code order.
std::span<const HandlerEntry> HandlerTable();

class QorServer {
public:
    explicit QorServer(ServiceState& state) : state_(state) {}

    // The RequestHandler bound to the pipe server. Never throws; every input gets a reply
    // of 4 to 8192 bytes.
    void Dispatch(platform::PipeClient& client, const uint8_t* request, uint32_t requestSize, uint8_t* reply,
                  uint32_t* replySize);
    // The same for a request of this process itself (tests, tools): it never goes away and
    // takes no descriptors.
    void Dispatch(const uint8_t* request, uint32_t requestSize, uint8_t* reply, uint32_t* replySize);

private:
    ServiceState& state_;
};

}  // namespace qor
