// The platform-free parts of showing a frame in the display window: which part of the stage
// texture is shown, and the frame-rate text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qor::basic {

// Display mode 1 shows the left half (the left eye); every other mode the whole frame.
bool ShowsLeftHalfOnly(uint32_t displayMode);

// The frame rate shown in the window, from a millisecond tick count: each frame adds
// 1000 / (ticks since the previous frame); once the sum passes 1000 the text becomes
// sum / frames, and both start again. The first frame only starts the clock; a frame in the
// same millisecond as the previous one counts as 1 ms apart.
class FrameRateCounter {
public:
    // True when the text changed.
    bool OnFrame(uint64_t tickMilliseconds);
    const std::string& Text() const { return text_; }

private:
    std::optional<uint64_t> previousTick_;
    uint64_t sum_ = 0;
    uint64_t frames_ = 0;
    std::string text_ = "0";
};

}  // namespace qor::basic
