// Decodes the input as a window-pipe request and as a reply, and checks each against a
// walk of the same bytes in 64-bit arithmetic: the same verdict, and arguments that point
// exactly at their data inside the message. The message is the fuzzer's whole buffer, so a
// read past its end hits the redzone.
#include "display/winpipe/window_pipe_message.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

// Undefined behaviour counts as a finding, not a line on stderr the fuzzer never reads.
extern "C" const char* __ubsan_default_options() { return "halt_on_error=1:print_stacktrace=1"; }

namespace {

using qor::winpipe::ByteView;

inline void Require(bool holds) {
    if (!holds) __builtin_trap();
}

struct Span {
    uint64_t offset;
    uint64_t length;
};

// The argument records from `offset` on, or nothing when one does not fit.
std::optional<std::vector<Span>> Walk(const uint8_t* data, uint64_t size, uint64_t offset, uint64_t count) {
    std::vector<Span> spans;
    for (uint64_t i = 0; i < count; ++i) {
        if (offset + 4 > size) return std::nullopt;
        const uint64_t length = uint64_t {data[offset]} | uint64_t {data[offset + 1]} << 8 |
                                uint64_t {data[offset + 2]} << 16 | uint64_t {data[offset + 3]} << 24;
        offset += 4;
        if (offset + length > size) return std::nullopt;
        spans.push_back({offset, length});
        offset += length;
    }
    return spans;
}

void CheckSame(const uint8_t* data, const std::vector<ByteView>& arguments, const std::vector<Span>& spans) {
    Require(arguments.size() == spans.size());
    for (size_t i = 0; i < spans.size(); ++i) {
        Require(arguments[i].data() == data + spans[i].offset);
        Require(arguments[i].size() == spans[i].length);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ByteView message(data, size);

    const auto request = qor::winpipe::DecodeRequest(message);
    const auto requestSpans = size < 3 ? std::nullopt : Walk(data, size, 3, data[2]);
    Require(request.has_value() == requestSpans.has_value());
    if (request) {
        uint16_t command;
        std::memcpy(&command, data, sizeof command);
        Require(request->command == command);
        CheckSame(data, request->arguments, *requestSpans);
    }

    const auto reply = qor::winpipe::DecodeReply(message);
    const auto replySpans = size < 1 ? std::nullopt : Walk(data, size, 1, data[0]);
    Require(reply.has_value() == replySpans.has_value());
    if (reply) CheckSame(data, *reply, *replySpans);

    const auto integer = qor::winpipe::ReadIntegerReply(message);
    Require(integer.has_value() == (reply && !reply->empty() && (*reply)[0].size() == 4));
    if (integer) Require(std::memcmp(&*integer, data + 5, 4) == 0);
    return 0;
}
