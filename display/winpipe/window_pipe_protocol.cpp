#include "display/winpipe/window_pipe_protocol.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace qor::winpipe {

static_assert(sizeof(EyePosition) == kEyePositionRecordSize);

EyePositionRecord EncodeEyePosition(const EyePosition& eye) {
    EyePositionRecord record;
    std::memcpy(record.data(), &eye.x, 4);
    std::memcpy(record.data() + 4, &eye.y, 4);
    std::memcpy(record.data() + 8, &eye.z, 4);
    return record;
}

std::optional<EyePosition> DecodeEyePosition(ByteView record) {
    if (record.size() != kEyePositionRecordSize) return std::nullopt;
    EyePosition eye;
    std::memcpy(&eye.x, record.data(), 4);
    std::memcpy(&eye.y, record.data() + 4, 4);
    std::memcpy(&eye.z, record.data() + 8, 4);
    return eye;
}

Bytes StoreEyePositionsRequest(const EyePair& eyes) {
    const EyePositionRecord left = EncodeEyePosition(eyes.left);
    const EyePositionRecord right = EncodeEyePosition(eyes.right);
    return EncodeRequest(kCommandStoreEyePositions, {left, right});
}

Bytes EyePositionsReply(const EyePair& eyes) {
    const EyePositionRecord left = EncodeEyePosition(eyes.left);
    const EyePositionRecord right = EncodeEyePosition(eyes.right);
    return EncodeReply({left, right});
}

namespace {
// The record at `offset`; bytes beyond the buffer count as zero.
EyePosition EyeAt(ByteView buffer, size_t offset) {
    EyePositionRecord record {};
    if (offset < buffer.size()) {
        const size_t available = std::min<size_t>(kEyePositionRecordSize, buffer.size() - offset);
        std::memcpy(record.data(), buffer.data() + offset, available);
    }
    return *DecodeEyePosition(record);
}
}  // namespace

EyePair EyePairFromReplyBuffer(ByteView buffer) {
    return EyePair {EyeAt(buffer, kLeftEyeReplyOffset), EyeAt(buffer, kRightEyeReplyOffset)};
}

HandleText HandleTextOf(uint64_t sharedHandle) {
    HandleText text {};
    char* begin = reinterpret_cast<char*>(text.data());
    // At most 10 digits: the terminating zero bytes always fit.
    std::to_chars(begin, begin + kHandleTextSize, static_cast<uint32_t>(sharedHandle & 0xFFFFFFFFu));
    return text;
}

}  // namespace qor::winpipe
