#include "runtime/service_link.h"

#include "display/winpipe/window_pipe_message.h"
#include "platform/pipe.h"
#include "platform/system.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

namespace qor::runtime {

namespace {
// The client service's only command: start the XR service.
constexpr uint16_t kOpenRuntimeCommand = 0;
}  // namespace

Exchange Transact(ThreadBuffer& buffer, uint32_t requestSize, uint32_t waitMs) {
    Exchange exchange;
    if (requestSize < 4 || requestSize >= kBufferSize) return exchange;  // never sent
    uint32_t replySize = 0;
    const auto status = platform::TransactPipe(kServicePipeName, buffer.request, requestSize, buffer.reply,
                                               kBufferSize, &replySize, waitMs, &exchange.descriptors);
    if (status != platform::PipeStatus::Ok || replySize < 4) {
        // Outputs that are copied whatever happened see zeros, not an earlier call's reply.
        std::memset(buffer.reply, 0, kBufferSize);
        exchange.descriptors.clear();
        return exchange;
    }
    exchange.done = true;
    exchange.replySize = replySize;
    int32_t result;
    std::memcpy(&result, buffer.reply, sizeof result);
    exchange.result = static_cast<XrResult>(result);
    return exchange;
}

bool SendStartRequest() {
    // The client service drops silent clients, so its instances free up; the wait is bounded
    // all the same, so that a flood of clients there cannot hold an application's loading.
    constexpr uint32_t kBusyWaitMs = 5000;
    auto connection = platform::OpenPipeConnection(kClientServicePipeName, kBusyWaitMs);
    if (!connection) return false;
    const winpipe::Bytes startRequest = winpipe::EncodeRequest(kOpenRuntimeCommand, {});
    return connection->Write(startRequest.data(), static_cast<uint32_t>(startRequest.size())) == platform::PipeStatus::Ok;
}

bool ProbeService() {
    const uint32_t code = 0;
    uint8_t reply[kBufferSize];
    uint32_t replySize = 0;
    const auto status =
        platform::TransactPipe(kServicePipeName, &code, sizeof code, reply, sizeof reply, &replySize, kInstanceWaitMs);
    if (status != platform::PipeStatus::Ok || replySize < 4) return false;
    int32_t result;
    std::memcpy(&result, reply, sizeof result);
    return result == XR_SUCCESS;
}

bool ProbeUntilAnswered(const ProbeCadence& cadence, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    uint32_t failedInARow = 0;
    for (;;) {
        if (ProbeService()) return true;
        if (++failedInARow == cadence.startRequestEvery) {
            SendStartRequest();
            failedInARow = 0;
        }
        // The last probe falls on the deadline itself, so a service that starts late is not missed.
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(cadence.interval, deadline - now));
    }
}

std::chrono::milliseconds StartLimit() {
    if (const auto value = platform::GetEnv("NORVIK_RUNTIME_START_LIMIT_MS")) {
        char* end = nullptr;
        const long long ms = std::strtoll(value->c_str(), &end, 10);
        if (end != value->c_str() && *end == '\0' && ms >= 0) return std::chrono::milliseconds(ms);
    }
    return std::chrono::milliseconds(30000);
}

std::chrono::milliseconds ThreadStartLimit() { return std::min(StartLimit(), std::chrono::milliseconds(5000)); }

}  // namespace qor::runtime
