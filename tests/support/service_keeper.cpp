#include "tests/support/service_keeper.h"

#include "platform/pipe.h"
#include "platform/system.h"
#include "protocol/layouts.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>

namespace qor::test {

uint64_t KeepServiceRunning() {
    protocol::CreateInstanceRequest request;
    request.info.type = XR_TYPE_INSTANCE_CREATE_INFO;
    std::snprintf(request.applicationName.text.data(), request.applicationName.text.size(), "test keeper");
    request.apiVersion = XR_MAKE_VERSION(1, 0, 17);
    const std::u16string path = platform::Utf8ToUtf16(platform::ExecutablePath());
    std::copy_n(path.begin(), std::min(path.size(), request.executablePath.text.size() - 1),
                request.executablePath.text.begin());
    std::array<uint8_t, protocol::kMaxRequestSize> bytes {};
    const uint32_t size = protocol::EncodeRequest(request, bytes.data(), bytes.size());
    std::array<uint8_t, protocol::kMaxReplySize> reply {};
    uint32_t replySize = 0;
    if (platform::TransactPipe("NorvikOpenXRPipe", bytes.data(), size, reply.data(), reply.size(), &replySize, 500) !=
        platform::PipeStatus::Ok) {
        return 0;
    }
    protocol::HandleReply handle;
    XrResult result = XR_ERROR_RUNTIME_FAILURE;
    if (replySize >= 4) std::memcpy(&result, reply.data(), 4);
    if (result != XR_SUCCESS || !protocol::DecodeReply(reply.data(), replySize, &handle)) return 0;
    return handle.handle;
}

}  // namespace qor::test
