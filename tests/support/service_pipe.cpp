#include "tests/support/service_pipe.h"

#include "platform/registry.h"
#include "platform/system.h"
#include "protocol/layouts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace qor::test {

ServiceReply TransactService(const uint8_t* request, uint32_t size, uint32_t waitMs) {
    std::array<uint8_t, protocol::kMaxReplySize> reply {};
    uint32_t replySize = 0;
    ServiceReply answer;
    answer.status = platform::TransactPipe(kServicePipe, request, size, reply.data(), reply.size(), &replySize, waitMs,
                                           &answer.descriptors);
    if (answer.status == platform::PipeStatus::Ok && replySize >= 4) std::memcpy(&answer.result, reply.data(), 4);
    answer.bytes.assign(reply.begin(), reply.begin() + replySize);
    return answer;
}

uint64_t HandleOf(const ServiceReply& reply) {
    protocol::HandleReply handle;
    EXPECT_EQ(reply.result, XR_SUCCESS);
    EXPECT_TRUE(protocol::DecodeReply(reply.bytes.data(), reply.bytes.size(), &handle));
    return handle.handle;
}

platform::PipeStatus Liveness(uint32_t waitMs) {
    const uint32_t code = 0;
    uint8_t reply[protocol::kMaxReplySize];
    uint32_t size = 0;
    return platform::TransactPipe(kServicePipe, &code, sizeof code, reply, sizeof reply, &size, waitMs);
}

bool ServiceAnswers() { return Liveness() == platform::PipeStatus::Ok; }

std::unique_ptr<ChildProcess> StartStagedService(TempEnvironment& environment, const std::string& stage) {
    if (!platform::RegistryWriteString(platform::RegistryRoot::LocalMachine, "SOFTWARE\\Norvik\\Norvik XR Service",
                                       "RuntimeDir", stage)) {
        return nullptr;
    }
    environment.Set("NORVIK_CAPTURE_DIR", environment.Path("capture"));
    std::filesystem::create_directories(environment.Path("capture"));
    auto service = std::make_unique<ChildProcess>(stage + "/Norvik XR Service", std::vector<std::string> {},
                                                  environment.Path("service.err"));
    if (!WaitUntil(ServiceAnswers)) return nullptr;
    return service;
}

uint64_t KeepServiceRunning() {
    protocol::CreateInstanceRequest request;
    request.info.type = XR_TYPE_INSTANCE_CREATE_INFO;
    std::snprintf(request.applicationName.text.data(), request.applicationName.text.size(), "test keeper");
    request.apiVersion = XR_MAKE_VERSION(1, 0, 17);
    const std::u16string path = platform::Utf8ToUtf16(platform::ExecutablePath());
    std::copy_n(path.begin(), std::min(path.size(), request.executablePath.text.size() - 1),
                request.executablePath.text.begin());
    const ServiceReply reply = CallService(request);
    protocol::HandleReply handle;
    if (reply.result != XR_SUCCESS || !protocol::DecodeReply(reply.bytes.data(), reply.bytes.size(), &handle)) return 0;
    return handle.handle;
}

}  // namespace qor::test
