#include "display/winpipe/window_pipe_message.h"

#include <bit>
#include <cstring>
#include <limits>

namespace qor::winpipe {

// Fields are copied as they lie in memory; the wire is little-endian.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr size_t kMaxArguments = std::numeric_limits<uint8_t>::max();

// The count is one byte and each length four.
bool Encodable(std::initializer_list<ByteView> arguments) {
    if (arguments.size() > kMaxArguments) return false;
    for (const ByteView argument : arguments) {
        if (argument.size() > std::numeric_limits<uint32_t>::max()) return false;
    }
    return true;
}

// Reads `count` length-prefixed arguments starting at `offset`.
std::optional<std::vector<ByteView>> DecodeArguments(ByteView message, size_t offset, size_t count) {
    std::vector<ByteView> arguments;
    arguments.reserve(count);
    for (size_t index = 0; index < count; ++index) {
        if (message.size() - offset < kArgumentLengthSize) return std::nullopt;
        uint32_t length;
        std::memcpy(&length, message.data() + offset, sizeof length);
        offset += kArgumentLengthSize;
        if (length > message.size() - offset) return std::nullopt;
        arguments.push_back(message.subspan(offset, length));
        offset += length;
    }
    return arguments;
}

void AppendArguments(Bytes& out, std::initializer_list<ByteView> arguments) {
    for (const ByteView argument : arguments) {
        const auto length = static_cast<uint32_t>(argument.size());
        const auto* lengthBytes = reinterpret_cast<const uint8_t*>(&length);
        out.insert(out.end(), lengthBytes, lengthBytes + sizeof length);
        out.insert(out.end(), argument.begin(), argument.end());
    }
}

}  // namespace

std::optional<WindowPipeRequest> DecodeRequest(ByteView message) {
    if (message.size() < kRequestHeaderSize) return std::nullopt;
    WindowPipeRequest request;
    std::memcpy(&request.command, message.data(), sizeof request.command);
    auto arguments = DecodeArguments(message, kRequestHeaderSize, message[2]);
    if (!arguments) return std::nullopt;
    request.arguments = std::move(*arguments);
    return request;
}

Bytes EncodeRequest(uint16_t command, std::initializer_list<ByteView> arguments) {
    if (!Encodable(arguments)) return {};
    Bytes out(kRequestHeaderSize);
    std::memcpy(out.data(), &command, sizeof command);
    out[2] = static_cast<uint8_t>(arguments.size());
    AppendArguments(out, arguments);
    return out;
}

std::optional<std::vector<ByteView>> DecodeReply(ByteView message) {
    if (message.size() < kReplyHeaderSize) return std::nullopt;
    return DecodeArguments(message, kReplyHeaderSize, message[0]);
}

Bytes EncodeReply(std::initializer_list<ByteView> arguments) {
    if (!Encodable(arguments)) return {};
    Bytes out {static_cast<uint8_t>(arguments.size())};
    AppendArguments(out, arguments);
    return out;
}

Bytes IntegerReply(int32_t value) { return EncodeReply({BytesOf(value)}); }

std::optional<int32_t> ReadIntegerReply(ByteView message) {
    const auto arguments = DecodeReply(message);
    if (!arguments || arguments->empty() || (*arguments)[0].size() != sizeof(int32_t)) return std::nullopt;
    int32_t value;
    std::memcpy(&value, (*arguments)[0].data(), sizeof value);
    return value;
}

}  // namespace qor::winpipe
