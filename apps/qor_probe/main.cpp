// qor_probe: asks the XR service over its pipe and prints what it answers.
//   qor_probe [--wait MS] [--hold] CODE[:HEXBODY] ...
// Each argument is one request: an operation code, optionally followed by body bytes in hex.
// --wait retries the first request until the service answers or MS milliseconds pass.
// --hold keeps the process (and so what it created) alive after the requests until it is
// killed, as an application that stops answering would.
#include "platform/pipe.h"
#include "protocol/op_codes.h"
#include "protocol/wire.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
static void pause() { ::Sleep(INFINITE); }
#else
#include <unistd.h>
#endif
#include <vector>

namespace {

bool ParseRequest(const std::string& argument, std::vector<uint8_t>* request) {
    const size_t colon = argument.find(':');
    const std::string codeText = argument.substr(0, colon);  // `end` points into it
    char* end = nullptr;
    const unsigned long code = std::strtoul(codeText.c_str(), &end, 10);
    if (end == nullptr || *end != '\0' || codeText.empty()) return false;
    const auto code32 = static_cast<uint32_t>(code);
    request->assign(reinterpret_cast<const uint8_t*>(&code32), reinterpret_cast<const uint8_t*>(&code32) + 4);
    if (colon == std::string::npos) return true;
    const std::string hex = argument.substr(colon + 1);
    if (hex.size() % 2 != 0) return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const std::string pair = hex.substr(i, 2);
        request->push_back(static_cast<uint8_t>(std::strtoul(pair.c_str(), &end, 16)));
        if (*end != '\0') return false;
    }
    return true;
}

const char* ResultName(int32_t result) {
    switch (result) {
        case XR_SUCCESS: return "XR_SUCCESS";
        case XR_ERROR_VALIDATION_FAILURE: return "XR_ERROR_VALIDATION_FAILURE";
        case XR_ERROR_RUNTIME_FAILURE: return "XR_ERROR_RUNTIME_FAILURE";
        case XR_ERROR_FUNCTION_UNSUPPORTED: return "XR_ERROR_FUNCTION_UNSUPPORTED";
        default: return "";
    }
}

qor::platform::PipeStatus Exchange(const std::vector<uint8_t>& request, uint8_t* reply, uint32_t* replySize) {
    return qor::platform::TransactPipe("NorvikOpenXRPipe", request.data(), static_cast<uint32_t>(request.size()),
                                       reply, qor::protocol::kMaxReplySize, replySize, 500);
}

}  // namespace

int main(int argc, char** argv) {
    int waitMs = 0;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--wait") == 0) {
        waitMs = std::atoi(argv[2]);
        first = 3;
    }
    bool hold = false;
    if (first < argc && std::strcmp(argv[first], "--hold") == 0) {
        hold = true;
        ++first;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: qor_probe [--wait MS] CODE[:HEXBODY] ...\n");
        return 2;
    }
    int failures = 0;
    for (int i = first; i < argc; ++i) {
        std::vector<uint8_t> request;
        if (!ParseRequest(argv[i], &request)) {
            std::fprintf(stderr, "qor_probe: cannot read request '%s'\n", argv[i]);
            return 2;
        }
        uint8_t reply[qor::protocol::kMaxReplySize];
        uint32_t replySize = 0;
        auto status = Exchange(request, reply, &replySize);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(i == first ? waitMs : 0);
        while (status != qor::platform::PipeStatus::Ok && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            status = Exchange(request, reply, &replySize);
        }
        if (status != qor::platform::PipeStatus::Ok || replySize < 4) {
            std::printf("code %s: no reply (%s)\n", argv[i], qor::platform::PipeStatusName(status));
            ++failures;
            continue;
        }
        int32_t result;
        std::memcpy(&result, reply, 4);
        const auto* op = qor::protocol::FindOperation(static_cast<uint32_t>(std::strtoul(argv[i], nullptr, 10)));
        std::printf("code %s (%s): result %d %s, %u reply bytes:", argv[i], op ? op->function : "unlisted", result,
                    ResultName(result), replySize);
        for (uint32_t b = 0; b < replySize && b < 64; ++b) std::printf(" %02x", reply[b]);
        std::printf("%s\n", replySize > 64 ? " ..." : "");
        std::fflush(stdout);
    }
    while (hold) ::pause();
    return failures == 0 ? 0 : 1;
}
