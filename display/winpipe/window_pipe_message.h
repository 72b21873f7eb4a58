// The framing of the display side's pipe messages (the window service's pipe, and the client
// service's, which takes the same requests): a request is a 16-bit command and counted
// arguments, a reply counted arguments alone. Little-endian, no padding.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

namespace qor::winpipe {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

// command (u16) + argument count (u8)
constexpr uint32_t kRequestHeaderSize = 3;
// argument count (u8)
constexpr uint32_t kReplyHeaderSize = 1;
// every argument's length (u32) comes before its data
constexpr uint32_t kArgumentLengthSize = 4;

// A request as it arrived; the arguments point into the message the caller still holds.
struct WindowPipeRequest {
    uint16_t command = 0;
    std::vector<ByteView> arguments;
};

// Nothing when the message is shorter than its header or an argument runs past its end.
// Bytes after the last argument are ignored. Which commands exist is the server's business.
std::optional<WindowPipeRequest> DecodeRequest(ByteView message);
// Empty when more than 255 arguments are given (the count is one byte) or one is 4 GiB or longer.
Bytes EncodeRequest(uint16_t command, std::initializer_list<ByteView> arguments);

// A reply's arguments, decoded with the same bounds as a request's.
std::optional<std::vector<ByteView>> DecodeReply(ByteView message);
// Empty on the same limits as EncodeRequest.
Bytes EncodeReply(std::initializer_list<ByteView> arguments);

// The 9-byte reply carrying one 32-bit integer.
Bytes IntegerReply(int32_t value);
// The integer of such a reply; nothing unless its first argument is exactly 4 bytes.
std::optional<int32_t> ReadIntegerReply(ByteView message);

// Views of a value's bytes, for building arguments.
template <typename T>
ByteView BytesOf(const T& value) {
    return ByteView(reinterpret_cast<const uint8_t*>(&value), sizeof value);
}

}  // namespace qor::winpipe
