// What every operation handler sees, and the handler of every operation of the service pipe
// (declared from the operation list; each is defined beside the state it works on).
#pragma once

#include "platform/pipe.h"
#include "protocol/messages.h"

#include <openxr/openxr.h>

#include <cstdint>
#include <span>

namespace qor {

struct ServiceState;

// Who sent a request and what it works on: the service's state and the pipe client it came
// from (its process, whether it is still connected, descriptors for the reply).
struct Caller {
    ServiceState& state;
    platform::PipeClient& client;
};

// The reply under construction: the result slot comes first, and handlers append their body
// at *size.
struct Reply {
    uint8_t* bytes;
    uint32_t* size;

    template <typename Message>
    bool Encode(const Message& message) {
        return protocol::EncodeReply(message, bytes, size);
    }
};

// The two-call rule of every enumeration: the count always, the elements when the capacity
// holds them; a capacity below the count answers XR_ERROR_SIZE_INSUFFICIENT with the count.
template <typename Element>
XrResult AnswerEnumeration(Reply& reply, uint32_t capacity, std::span<const Element> elements) {
    protocol::EnumerationReply<Element> answer;
    answer.count = static_cast<uint32_t>(elements.size());
    if (capacity != 0 && capacity < answer.count) {
        reply.Encode(answer);
        return XR_ERROR_SIZE_INSUFFICIENT;
    }
    if (capacity != 0) answer.items.items = elements;
    return reply.Encode(answer) ? XR_SUCCESS : XR_ERROR_RUNTIME_FAILURE;
}

// A handler gets its request already decoded (the dispatcher answers a short one).
#define NORVIK_DECLARE_HANDLER(Name, Code, Function, Request, ...) \
    XrResult Handle##Name(const Caller& caller, const protocol::Request& message, Reply& reply);
NORVIK_OPERATIONS(NORVIK_DECLARE_HANDLER)
#undef NORVIK_DECLARE_HANDLER

}  // namespace qor
