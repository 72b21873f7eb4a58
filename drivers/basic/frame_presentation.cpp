#include "drivers/basic/frame_presentation.h"

#include <string>

namespace qor::basic {

bool ShowsLeftHalfOnly(uint32_t displayMode) { return displayMode == 1; }

bool FrameRateCounter::OnFrame(uint64_t tickMilliseconds) {
    if (!previousTick_) {
        previousTick_ = tickMilliseconds;
        return false;
    }
    const uint64_t elapsed = tickMilliseconds > *previousTick_ ? tickMilliseconds - *previousTick_ : 1;
    previousTick_ = tickMilliseconds;
    sum_ += 1000 / elapsed;
    ++frames_;
    if (sum_ <= 1000) return false;
    std::string text = std::to_string(sum_ / frames_);
    sum_ = 0;
    frames_ = 0;
    const bool changed = text != text_;
    text_ = std::move(text);
    return changed;
}

}  // namespace qor::basic
