#include "protocol/op_codes.h"
#include "protocol/wire.h"
#include "service/server/qor_server.h"
#include "service/server/service_state.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

namespace qor {
namespace {

struct Reply {
    int32_t result = 0;
    std::vector<uint8_t> body;
    uint32_t size = 0;
};

class DispatchTest : public ::testing::Test {
protected:
    Reply Send(const std::vector<uint8_t>& request) {
        std::array<uint8_t, protocol::kMaxReplySize> reply {};
        uint32_t size = 0;
        server_.Dispatch(request.data(), static_cast<uint32_t>(request.size()), reply.data(), &size);
        Reply out;
        out.size = size;
        if (size >= 4) std::memcpy(&out.result, reply.data(), 4);
        if (size > 4) out.body.assign(reply.begin() + 4, reply.begin() + size);
        return out;
    }
    Reply SendCode(uint32_t code, size_t bodyBytes = 0) {
        std::vector<uint8_t> request(4 + bodyBytes, 0);
        std::memcpy(request.data(), &code, 4);
        return Send(request);
    }

    ServiceState state_;
    QorServer server_ {state_};
};

TEST_F(DispatchTest, LivenessAndUnlistedCodesSucceedWithAnEmptyBody) {
    for (uint32_t code : {0u, 12345u, 1u, 9999u, 100037u, 0xFFFFFFFFu}) {
        const Reply reply = SendCode(code);
        EXPECT_EQ(reply.size, 4u) << code;
        EXPECT_EQ(reply.result, XR_SUCCESS) << code;
    }
}

TEST_F(DispatchTest, ApiLayersAreAnsweredInlineWithCountZero) {
    const Reply reply = SendCode(10000, 4);
    EXPECT_EQ(reply.result, XR_SUCCESS);
    ASSERT_EQ(reply.size, 8u);
    EXPECT_EQ(reply.body, std::vector<uint8_t>(4, 0));
}

TEST_F(DispatchTest, ReservedExtensionCodesAreUnsupported) {
    for (uint32_t code = 100000; code <= 100036; ++code) {
        if (code == 100003 || code == 100004) continue;
        const Reply reply = SendCode(code);
        EXPECT_EQ(reply.result, XR_ERROR_FUNCTION_UNSUPPORTED) << code;
        EXPECT_EQ(reply.size, 4u) << code;
    }
}

TEST_F(DispatchTest, EveryTableCodeReachesItsHandler) {
    // Each listed code has a handler (a code missing here would answer XR_SUCCESS).
    for (const auto& info : protocol::AllOperations()) {
        const auto code = static_cast<uint32_t>(info.op);
        if (code == 0 || code == 10000) continue;
        // These answer without looking at the request at all.
        if (code == 20002 || code == 100003 || code == 100004) continue;
        const Reply reply = SendCode(code);
        EXPECT_NE(reply.result, XR_SUCCESS) << info.function << " answered an empty request with success";
        EXPECT_GE(reply.size, 4u);
    }
}

TEST_F(DispatchTest, RequestsTooShortForACodeAreRefused) {
    for (size_t size : {0u, 1u, 3u}) {
        const Reply reply = Send(std::vector<uint8_t>(size, 0));
        EXPECT_EQ(reply.size, 4u);
        EXPECT_EQ(reply.result, XR_ERROR_VALIDATION_FAILURE);
    }
}

TEST_F(DispatchTest, ArbitraryRequestsAlwaysGetAReplyWithinBounds) {
    std::mt19937 random(12345);
    const auto operations = protocol::AllOperations();
    for (int i = 0; i < 2000; ++i) {
        std::vector<uint8_t> request(random() % 200);
        for (auto& byte : request) byte = static_cast<uint8_t>(random());
        if (request.size() >= 4 && i % 2 == 0) {
            const auto code = static_cast<uint32_t>(operations[random() % operations.size()].op);
            std::memcpy(request.data(), &code, 4);
        }
        const Reply reply = Send(request);
        ASSERT_GE(reply.size, 4u);
        ASSERT_LE(reply.size, protocol::kMaxReplySize);
    }
}

}  // namespace
}  // namespace qor
