// One forwarded call: encode into the thread's buffer, exchange, decode the reply.
#pragma once

#include "platform/pipe.h"
#include "protocol/fields.h"
#include "protocol/messages.h"
#include "runtime/lifecycle.h"
#include "runtime/service_link.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace qor::runtime {

// Which results carry a reply body the library reads.
enum class BodyRule {
    Success,                     // XR_SUCCESS
    SuccessOrLossPending,        // also XR_SESSION_LOSS_PENDING
    SuccessOrBoundsUnavailable,  // also XR_SESSION_LOSS_PENDING and XR_SPACE_BOUNDS_UNAVAILABLE
    AnySuccess,                  // every success code
    Always,                      // even errors (zeros when the exchange failed)
};

class Call {
public:
    Call() : buffer_(BufferForCall()) {}

    // False when the thread has no buffer (allocation failed).
    bool Ready() const { return buffer_ != nullptr; }
    uint8_t* RequestBuffer() { return buffer_->request; }
    static constexpr uint32_t kRequestCapacity = protocol::kMaxRequestSize;

    // Encodes a request of the generic layouts and exchanges it.
    template <typename Request>
    XrResult Send(const Request& request, uint32_t waitMs = kInstanceWaitMs) {
        return SendEncoded(protocol::EncodeRequest(request, RequestBuffer(), kRequestCapacity), waitMs);
    }
    // Exchanges `size` bytes already written into RequestBuffer(); 0 means it did not fit.
    XrResult SendEncoded(uint32_t size, uint32_t waitMs = kInstanceWaitMs) {
        if (size == 0) return XR_ERROR_RUNTIME_FAILURE;  // 8192 bytes or more are never sent
        exchange_ = Transact(*buffer_, size, waitMs);
        return Result();
    }

    bool Exchanged() const { return exchange_.done; }
    XrResult Result() const { return exchange_.done ? exchange_.result : XR_ERROR_RUNTIME_FAILURE; }

    bool ReadsBody(BodyRule rule) const {
        if (rule == BodyRule::Always) return true;
        if (!exchange_.done) return false;
        const XrResult result = exchange_.result;
        switch (rule) {
            case BodyRule::Success: return result == XR_SUCCESS;
            case BodyRule::SuccessOrLossPending: return result == XR_SUCCESS || result == XR_SESSION_LOSS_PENDING;
            case BodyRule::SuccessOrBoundsUnavailable:
                return ReadsBody(BodyRule::SuccessOrLossPending) || result == XR_SPACE_BOUNDS_UNAVAILABLE;
            case BodyRule::AnySuccess: return XR_SUCCEEDED(result);
            case BodyRule::Always: return true;
        }
        return false;
    }

    // Decodes the reply body; bytes the reply does not have read as zeros.
    template <typename Reply>
    bool Decode(Reply* reply) const {
        return protocol::DecodeReply(buffer_->reply, exchange_.done ? exchange_.replySize : protocol::kMaxReplySize, reply);
    }
    const uint8_t* ReplyBytes() const { return buffer_->reply; }
    uint32_t ReplySize() const { return exchange_.done ? exchange_.replySize : 0; }
    // What came beside the reply; it stays with the call until taken.
    platform::Descriptors TakeDescriptors() { return std::move(exchange_.descriptors); }

private:
    ThreadBuffer* buffer_;
    Exchange exchange_;
};

// Runs `body` with a ready call; a thread without a buffer gets XR_ERROR_OUT_OF_MEMORY and
// nothing is sent.
template <typename Body>
XrResult WithCall(Body&& body) {
    Call call;
    if (!call.Ready()) return XR_ERROR_OUT_OF_MEMORY;
    return body(call);
}

// A call answered by its result alone.
template <typename Request>
XrResult SendRequest(const Request& request) {
    return WithCall([&](Call& call) { return call.Send(request); });
}

// The reply body the operation list pairs with a request.
template <typename Request>
using ReplyOf = typename protocol::OperationOf<Request>::ReplyType;

// A call with a reply body: when `rule` lets it be read, it is decoded and handed to `read`,
// which may refuse it by returning false (XR_ERROR_VALIDATION_FAILURE). Otherwise, and after
// a reply `read` takes, the answer is the call's result.
template <typename Request, typename Read>
XrResult SendAndRead(const Request& request, BodyRule rule, Read&& read, uint32_t waitMs = kInstanceWaitMs) {
    return WithCall([&](Call& call) {
        call.Send(request, waitMs);
        if (!call.ReadsBody(rule)) return call.Result();
        ReplyOf<Request> reply;
        call.Decode(&reply);
        if constexpr (std::is_void_v<decltype(read(reply))>) {
            read(reply);
            return call.Result();
        } else {
            return read(reply) ? call.Result() : XR_ERROR_VALIDATION_FAILURE;
        }
    });
}

// A returned record is accepted only with the expected type and a zero next.
inline bool RecordIs(const protocol::StructHeader& header, XrStructureType expected) {
    return header.type == static_cast<uint32_t>(expected) && header.next == 0;
}

inline uint64_t HandleValue(const void* handle) { return reinterpret_cast<uint64_t>(handle); }
template <typename Handle>
uint64_t HandleValue(Handle handle) {
    if constexpr (std::is_pointer_v<Handle>) {
        return reinterpret_cast<uint64_t>(handle);
    } else {
        return static_cast<uint64_t>(handle);
    }
}
template <typename Handle>
Handle AsHandle(uint64_t value) {
    if constexpr (std::is_pointer_v<Handle>) {
        return reinterpret_cast<Handle>(value);
    } else {
        return static_cast<Handle>(value);
    }
}

// A call whose request is one handle and whose reply is only the result.
template <typename Request, typename Handle>
XrResult SendHandle(Handle handle) {
    Request request;
    request.handle = HandleValue(handle);
    return SendRequest(request);
}

// A call answered by a handle (or an id), stored when `rule` lets the body be read.
template <typename Request, typename Handle>
XrResult SendForHandle(const Request& request, BodyRule rule, Handle* out) {
    return SendAndRead(request, rule,
                       [&](const protocol::HandleReply& reply) { *out = AsHandle<Handle>(reply.handle); });
}

// The input structure's (type, next) as it travels.
template <typename Structure>
protocol::StructHeader HeaderOf(const Structure& structure) {
    return {static_cast<uint32_t>(structure.type), reinterpret_cast<uint64_t>(structure.next)};
}

// The check the library makes on an input structure before anything is sent: its own type.
// Structures chained on it that the runtime does not know are ignored.
template <typename Structure>
bool IsInput(const Structure* structure, XrStructureType expected) {
    return structure != nullptr && structure->type == expected;
}

// Copies a fixed character array of a reply into the application's array of the same size.
template <size_t N>
void CopyChars(char (&out)[N], const protocol::Chars<N>& in) {
    std::memcpy(out, in.text.data(), N);
    out[N - 1] = '\0';
}

// A counted string: its length goes to `count`, its bytes only into a buffer that holds the
// whole of it.
inline void CopyCountedString(const protocol::CountedStringReply& reply, uint32_t capacity, uint32_t* count,
                              char* buffer) {
    *count = reply.text.length;
    if (capacity != 0 && buffer != nullptr && reply.text.withText && capacity >= reply.text.length) {
        std::memcpy(buffer, reply.text.text.data(), reply.text.text.size());
        buffer[reply.text.text.size()] = '\0';
    }
}

}  // namespace qor::runtime
