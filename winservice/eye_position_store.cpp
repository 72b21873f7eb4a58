#include "winservice/eye_position_store.h"

#include <algorithm>

namespace qor::winservice {

bool EyePositionStore::Store(winpipe::ByteView left, winpipe::ByteView right) {
    if (left.size() != kEyeRecordSize || right.size() != kEyeRecordSize) return false;
    std::lock_guard lock(mutex_);
    std::copy(left.begin(), left.end(), left_.begin());
    std::copy(right.begin(), right.end(), right_.begin());
    return true;
}

winpipe::Bytes EyePositionStore::FetchReply() const {
    std::lock_guard lock(mutex_);
    return winpipe::EncodeReply({winpipe::ByteView(left_), winpipe::ByteView(right_)});
}

}  // namespace qor::winservice
