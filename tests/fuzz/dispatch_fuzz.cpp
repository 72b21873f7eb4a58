// Feeds arbitrary pipe messages to QorServer::Dispatch. Whatever a client sends, the reply
// must hold at least the 4-byte result and fit the 8192-byte reply buffer, or the pipe
// instance would send garbage or write past its buffer.
#include "platform/pipe.h"
#include "protocol/wire.h"
#include "service/server/qor_server.h"
#include "service/server/service_state.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

// Undefined behaviour counts as a finding, not a line on stderr the fuzzer never reads.
extern "C" const char* __ubsan_default_options() { return "halt_on_error=1:print_stacktrace=1"; }

namespace {
inline void Require(bool holds) {
    if (!holds) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The pipe never delivers more than one buffer's worth.
    if (size > qor::platform::kPipeBufferSize) return -1;

    // Exactly the reply buffer's size on the heap, so AddressSanitizer sees a write past it.
    // The filler makes a reply that claims bytes it never wrote stand out in a debugger.
    auto reply = std::make_unique<uint8_t[]>(qor::protocol::kMaxReplySize);
    std::memset(reply.get(), 0xA5, qor::protocol::kMaxReplySize);
    uint32_t replySize = 0;  // as the pipe instance hands it over

    // A fresh server per input keeps every finding reproducible from its one input.
    qor::ServiceState state;
    qor::QorServer server(state);
    server.Dispatch(data, static_cast<uint32_t>(size), reply.get(), &replySize);

    Require(replySize >= qor::protocol::kReplyBodyOffset);
    Require(replySize <= qor::protocol::kMaxReplySize);
    return 0;
}
