// The platform-free parts of showing a frame in the display window: scaling the stage
// texture (or its left half) to the window, and the frame-rate text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qor::basic {

// Where red, green and blue sit in a 4-byte pixel of a DXGI format, and whether a view of it
// decodes sRGB when sampled.
struct PixelLayout {
    uint8_t red = 0;
    uint8_t green = 1;
    uint8_t blue = 2;
    bool srgb = false;
};

// The R8G8B8A8 and B8G8R8A8 families; nothing for formats the window cannot show.
std::optional<PixelLayout> LayoutOfFormat(uint32_t dxgiFormat);

// Display mode 1 shows the left half (the left eye); every other mode the whole frame.
bool ShowsLeftHalfOnly(uint32_t displayMode);

// Scales `source` (rows of width × 4 bytes) to `target` (0xFFRRGGBB words, rows of
// targetWidth), the whole frame or its left half, by nearest sampling at pixel centres. The
// window draws what a sampling view of the format gives: sRGB formats are decoded to linear
// values, as a shader view of the sRGB stage texture written to a UNORM back buffer does.
void ScaleFrame(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight, const PixelLayout& layout,
                bool leftHalfOnly, uint32_t* target, uint32_t targetWidth, uint32_t targetHeight);

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
