// The latest pair of eye positions, as the weaving window stores them and the lenticular
// driver fetches them: two 12-byte records (x, y, z floats in millimetres), left first.
#pragma once

#include "display/winpipe/window_pipe_protocol.h"

#include <array>
#include <cstdint>
#include <mutex>

namespace qor::winservice {

constexpr size_t kEyeRecordSize = winpipe::kEyePositionRecordSize;

class EyePositionStore {
public:
    // Replaces the pair; refused (false, the pair unchanged) unless both records are exactly
    // one record long, so that nothing beyond the two records is ever written.
    bool Store(winpipe::ByteView left, winpipe::ByteView right);
    // The reply of a fetch: the two records as two arguments, zeros before any store.
    winpipe::Bytes FetchReply() const;

private:
    mutable std::mutex mutex_;
    std::array<uint8_t, kEyeRecordSize> left_ {};
    std::array<uint8_t, kEyeRecordSize> right_ {};
};

}  // namespace qor::winservice
