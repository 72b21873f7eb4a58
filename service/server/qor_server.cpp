#include "service/server/qor_server.h"

#include "protocol/op_codes.h"
#include "protocol/wire.h"
#include "platform/system.h"

#include <algorithm>
#include <cstring>

namespace qor {

namespace {
const HandlerEntry* FindHandler(uint32_t code) {
    const auto table = HandlerTable();
    const auto found = std::lower_bound(table.begin(), table.end(), code,
                                        [](const HandlerEntry& entry, uint32_t c) { return entry.code < c; });
    return (found != table.end() && found->code == code) ? &*found : nullptr;
}

XrResult Route(const Caller& caller, const uint8_t* request, uint32_t requestSize, uint8_t* reply, uint32_t* replySize) {
    // A message too short to hold an operation code is malformed; it is refused rather than
    // read past its end.
    if (requestSize < sizeof(uint32_t)) return XR_ERROR_VALIDATION_FAILURE;
    uint32_t code;
    std::memcpy(&code, request, sizeof code);

    if (protocol::IsReservedExtensionCode(code)) return XR_ERROR_FUNCTION_UNSUPPORTED;
    if (const HandlerEntry* entry = FindHandler(code)) return entry->handler(caller, request, requestSize, reply, replySize);
    return XR_SUCCESS;  // the liveness probe and every unlisted code
}

// A request of this process: never gone, and descriptors have no one to go to.
class LocalClient final : public platform::PipeClient {
public:
    uint32_t ProcessId() const override { return platform::ProcessId(); }
    bool Gone() override { return false; }
    bool AttachToReply(platform::Descriptor) override { return false; }
    void EndConnection() override {}  // there is no connection to end
};
}  // namespace

void QorServer::Dispatch(const uint8_t* request, uint32_t requestSize, uint8_t* reply, uint32_t* replySize) {
    LocalClient client;
    Dispatch(client, request, requestSize, reply, replySize);
}

void QorServer::Dispatch(platform::PipeClient& client, const uint8_t* request, uint32_t requestSize, uint8_t* reply,
                         uint32_t* replySize) {
    *replySize = protocol::kReplyBodyOffset;
    XrResult result;
    try {
        result = Route(Caller {state_, client}, request, requestSize, reply, replySize);
    } catch (...) {
        // Nothing may escape onto the pipe thread; the caller gets a plain failure.
        result = XR_ERROR_RUNTIME_FAILURE;
        *replySize = protocol::kReplyBodyOffset;
    }
    if (*replySize == 0) *replySize = protocol::kReplyBodyOffset;
    if (*replySize > protocol::kMaxReplySize) {
        result = XR_ERROR_RUNTIME_FAILURE;
        *replySize = protocol::kReplyBodyOffset;
    }
    std::memcpy(reply, &result, sizeof result);
}

}  // namespace qor
