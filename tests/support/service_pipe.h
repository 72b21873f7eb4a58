// Raw requests to a running service's pipe, as the runtime library sends them, and the staged
// service started for a test.
#pragma once

#include "platform/pipe.h"
#include "protocol/messages.h"
#include "tests/support/child_process.h"
#include "tests/support/test_env.h"

#include <openxr/openxr.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qor::test {

constexpr const char* kServicePipe = "NorvikOpenXRPipe";

struct ServiceReply {
    platform::PipeStatus status = platform::PipeStatus::Failed;
    XrResult result = XR_ERROR_RUNTIME_FAILURE;
    std::vector<uint8_t> bytes;  // the whole reply, result included
    platform::Descriptors descriptors;
};

// Sends `size` encoded request bytes; `waitMs` is how long to wait for a free pipe instance.
ServiceReply TransactService(const uint8_t* request, uint32_t size, uint32_t waitMs);

template <typename Request>
ServiceReply CallService(const Request& request, uint32_t waitMs = 500) {
    std::array<uint8_t, protocol::kMaxRequestSize> bytes {};
    const uint32_t size = protocol::EncodeRequest(request, bytes.data(), bytes.size());
    return TransactService(bytes.data(), size, waitMs);
}

// The handle of a successful create or get reply (a test failure otherwise).
uint64_t HandleOf(const ServiceReply& reply);

// The liveness request (code 0).
platform::PipeStatus Liveness(uint32_t waitMs = 500);
bool ServiceAnswers();

// Points "RuntimeDir" at `stage`, captures frames into the environment, starts the staged
// service (its standard error in "service.err") and waits until it answers; null when it
// never does.
std::unique_ptr<ChildProcess> StartStagedService(TempEnvironment& environment, const std::string& stage);

// The XR service closes itself once no application has an instance for two watchdog checks
// (about 10 s). Tests that keep a started service idle for longer make this process its
// application first: an instance created with this process's own executable path. Returns
// the instance handle, 0 when the service refused.
uint64_t KeepServiceRunning();

}  // namespace qor::test
