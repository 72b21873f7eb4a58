#include "drivers/basic/frame_presentation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace qor::basic {

namespace {

using ChannelTable = std::array<uint8_t, 256>;

const ChannelTable& IdentityTable() {
    static const ChannelTable table = [] {
        ChannelTable values {};
        for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<uint8_t>(i);
        return values;
    }();
    return table;
}

// What sampling an sRGB view gives and a UNORM target stores, rounded to nearest.
const ChannelTable& SrgbDecodeTable() {
    static const ChannelTable table = [] {
        ChannelTable values {};
        for (size_t i = 0; i < values.size(); ++i) {
            const double encoded = static_cast<double>(i) / 255.0;
            const double linear =
                encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
            values[i] = static_cast<uint8_t>(std::lround(linear * 255.0));
        }
        return values;
    }();
    return table;
}

}  // namespace

std::optional<PixelLayout> LayoutOfFormat(uint32_t dxgiFormat) {
    switch (dxgiFormat) {
        case 27:  // R8G8B8A8_TYPELESS
        case 28:  // R8G8B8A8_UNORM
            return PixelLayout {0, 1, 2, false};
        case 29:  // R8G8B8A8_UNORM_SRGB
            return PixelLayout {0, 1, 2, true};
        case 87:  // B8G8R8A8_UNORM
        case 88:  // B8G8R8X8_UNORM
        case 90:  // B8G8R8A8_TYPELESS
        case 92:  // B8G8R8X8_TYPELESS
            return PixelLayout {2, 1, 0, false};
        case 91:  // B8G8R8A8_UNORM_SRGB
        case 93:  // B8G8R8X8_UNORM_SRGB
            return PixelLayout {2, 1, 0, true};
        default:
            return std::nullopt;
    }
}

bool ShowsLeftHalfOnly(uint32_t displayMode) { return displayMode == 1; }

void ScaleFrame(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight, const PixelLayout& layout,
                bool leftHalfOnly, uint32_t* target, uint32_t targetWidth, uint32_t targetHeight) {
    if (source == nullptr || target == nullptr || sourceWidth == 0 || sourceHeight == 0 || targetWidth == 0 ||
        targetHeight == 0) {
        return;
    }
    // The texture coordinates run over u in [0, 1], or [0, 0.5] for the left half.
    const uint64_t span = leftHalfOnly ? std::max<uint32_t>(sourceWidth / 2, 1) : sourceWidth;
    std::vector<size_t> columnOffsets(targetWidth);
    for (uint64_t x = 0; x < targetWidth; ++x) {
        columnOffsets[x] = static_cast<size_t>(((2 * x + 1) * span) / (2 * uint64_t {targetWidth})) * 4;
    }
    const ChannelTable& table = layout.srgb ? SrgbDecodeTable() : IdentityTable();
    const size_t rowBytes = static_cast<size_t>(sourceWidth) * 4;
    for (uint64_t y = 0; y < targetHeight; ++y) {
        const uint64_t sourceRow = ((2 * y + 1) * sourceHeight) / (2 * uint64_t {targetHeight});
        const uint8_t* row = source + sourceRow * rowBytes;
        uint32_t* out = target + y * targetWidth;
        for (uint32_t x = 0; x < targetWidth; ++x) {
            const uint8_t* pixel = row + columnOffsets[x];
            out[x] = 0xFF000000u | (uint32_t {table[pixel[layout.red]]} << 16) |
                     (uint32_t {table[pixel[layout.green]]} << 8) | table[pixel[layout.blue]];
        }
    }
}

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
