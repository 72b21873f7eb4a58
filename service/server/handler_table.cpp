// The dispatch rows, one per operation of the list: each decodes its request once and hands
// it to the operation's handler.
#include "service/server/handlers.h"
#include "service/server/qor_server.h"

#include <array>
#include <new>

namespace qor {

namespace {
enum class ShortBody { Refused, HandleInvalid, Unread };

constexpr XrResult ShortBodyResult(ShortBody rule) {
    return rule == ShortBody::HandleInvalid ? XR_ERROR_HANDLE_INVALID : XR_ERROR_VALIDATION_FAILURE;
}

template <typename Request, XrResult (*Handler)(const Caller&, const Request&, Reply&), ShortBody rule>
XrResult Decoded(const Caller& caller, const uint8_t* request, uint32_t size, uint8_t* replyBytes, uint32_t* replySize) {
    Request message {};
    if (rule != ShortBody::Unread && !protocol::DecodeRequest(request, size, &message)) return ShortBodyResult(rule);
    Reply reply {replyBytes, replySize};
    // The one exception a handler's work can meet is an allocation failure.
    try {
        return Handler(caller, message, reply);
    } catch (const std::bad_alloc&) {
        return XR_ERROR_OUT_OF_MEMORY;
    }
}

#define NORVIK_HANDLER_ROW(Name, Code, Function, Request, Reply, Scope, Short)                          \
    HandlerEntry {static_cast<uint32_t>(protocol::Op::Name),                                            \
                  &Decoded<protocol::Request, &Handle##Name, ShortBody::Short>},
constexpr std::array kHandlers = {NORVIK_OPERATIONS(NORVIK_HANDLER_ROW)};
#undef NORVIK_HANDLER_ROW
}  // namespace

std::span<const HandlerEntry> HandlerTable() { return kHandlers; }

}  // namespace qor
