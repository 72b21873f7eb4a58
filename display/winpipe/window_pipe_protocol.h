// The window service's pipe as its three users share it: the pipe name, the six commands,
// the eye-position record, the handle text of the open request and the reply buffers the
// clients read into.
#pragma once

#include "display/winpipe/window_pipe_message.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace qor::winpipe {

inline constexpr std::string_view kWindowServicePipeName = "Plexaview_NamedPipe";

// Command codes. The window service logs 0 to 3 under these names.
inline constexpr uint16_t kCommandSharedHandler = 0;
inline constexpr uint16_t kCommandCloseApp = 1;
inline constexpr uint16_t kCommandOpenApp = 2;
inline constexpr uint16_t kCommandSbsStatus = 3;
inline constexpr uint16_t kCommandStoreEyePositions = 4;
inline constexpr uint16_t kCommandFetchEyePositions = 5;
inline constexpr uint16_t kLastCommand = kCommandFetchEyePositions;

// Clients read each reply once into a zeroed buffer of this size: 13 bytes for the 9-byte
// integer replies, 50 for the 33-byte reply of command 5.
inline constexpr uint32_t kIntegerReplyBufferSize = 13;
inline constexpr uint32_t kEyePositionsReplyBufferSize = 50;

// One eye in millimetres, in the panel's frame. Pairs always travel left eye first.
struct EyePosition {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    bool operator==(const EyePosition&) const = default;
};
struct EyePair {
    EyePosition left;
    EyePosition right;
    bool operator==(const EyePair&) const = default;
};

// Three little-endian 32-bit floats x, y, z.
inline constexpr uint32_t kEyePositionRecordSize = 12;
using EyePositionRecord = std::array<uint8_t, kEyePositionRecordSize>;
EyePositionRecord EncodeEyePosition(const EyePosition& eye);
// Nothing unless the record is exactly 12 bytes.
std::optional<EyePosition> DecodeEyePosition(ByteView record);

// Command 4's request: the two records as its two arguments.
Bytes StoreEyePositionsRequest(const EyePair& eyes);
// Command 5's reply: the two records as its two arguments (33 bytes).
Bytes EyePositionsReply(const EyePair& eyes);

// Where a fetch reply's records lie: the data of its first and second argument.
inline constexpr uint32_t kLeftEyeReplyOffset = 5;
inline constexpr uint32_t kRightEyeReplyOffset = 21;
// The pair read at those fixed offsets of a reply buffer, as the driver reads it. A short
// or empty reply (the rest of the zeroed buffer) gives zeros for what did not arrive.
EyePair EyePairFromReplyBuffer(ByteView buffer);

// Command 2's first argument: the decimal text of the shared handle's low 32 bits, padded
// with zero bytes to 20.
inline constexpr uint32_t kHandleTextSize = 20;
using HandleText = std::array<uint8_t, kHandleTextSize>;
HandleText HandleTextOf(uint64_t sharedHandle);

}  // namespace qor::winpipe
