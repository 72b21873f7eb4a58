#include "weaver/text_faces.h"

#include "display/winpipe/display_log_writer.h"
#include "gpu/device.h"
#include "platform/system.h"
#include "weaver/messages.h"

#include <algorithm>
#include <cmath>

namespace qor::plexa {

namespace {

constexpr std::string_view kLogContext = "OUTPUTMANAGER::TextPainter():";

constexpr FontFace kFaces[] = {
    {kLatinTitleFont, 32, false, Script::Latin}, {kLatinBodyFont, 26, false, Script::Latin},
    {kLatinKeyFont, 26, true, Script::Latin},    {kOtherTitleFont, 32, false, Script::Other},
    {kOtherBodyFont, 26, false, Script::Other},  {kOtherKeyFont, 26, true, Script::Other},
    {kWarningFont, 16, false, Script::Latin},    {kEmbeddedFont, 16, false, Script::Latin},
};

uint8_t Mix(float source, uint8_t destination, float alpha) {
    return static_cast<uint8_t>(std::lround(source * 255.0f * alpha + destination * (1.0f - alpha)));
}

float Unit(float value) { return value > 0 ? (value < 1 ? value : 1) : 0; }  // NaN gives 0

}  // namespace

const FontFace* FaceNamed(std::string_view name) {
    for (const FontFace& face : kFaces) {
        if (face.name == name) return &face;
    }
    return nullptr;
}

std::string PlacedFontPath(std::string_view fontName) {
    return platform::JoinPath(platform::ProgramDataFolder(), "\\OEM\\Plexaview\\Font\\" + std::string(fontName));
}

std::optional<ChannelOrder> ChannelsOf(uint32_t dxgiFormat) {
    switch (dxgiFormat) {
    case gpu::format::kB8G8R8A8Unorm:
    case gpu::format::kB8G8R8A8Typeless:
    case gpu::format::kB8G8R8A8UnormSrgb:
        return ChannelOrder {2, 1, 0};
    case gpu::format::kR8G8B8A8Unorm:
    case gpu::format::kR8G8B8A8Typeless:
    case gpu::format::kR8G8B8A8UnormSrgb:
        return ChannelOrder {0, 1, 2};
    default:
        return std::nullopt;
    }
}

std::optional<PixelRect> TextCorner(float x, float y) {
    constexpr float kFar = 1 << 20;
    if (!(std::fabs(x) < kFar && std::fabs(y) < kFar)) return std::nullopt;
    return PixelRect {static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)), 0, 0};
}

std::optional<PixelRect> ClipToTexture(const PixelRect& corner, int width, int height, uint32_t textureWidth,
                                       uint32_t textureHeight) {
    // 64-bit sums: a corner near the bound plus a wide box does not overflow.
    const int64_t left = std::max<int64_t>(corner.left, 0);
    const int64_t top = std::max<int64_t>(corner.top, 0);
    const int64_t right = std::min<int64_t>(int64_t(corner.left) + std::max(width, 0), textureWidth);
    const int64_t bottom = std::min<int64_t>(int64_t(corner.top) + std::max(height, 0), textureHeight);
    if (left >= right || top >= bottom) return std::nullopt;
    return PixelRect {int(left), int(top), int(right - left), int(bottom - top)};
}

void BlendCoverage(const CoverageView& coverage, const TexelView& texels, ChannelOrder order, int left, int top,
                   const Rgba& colour) {
    const Rgba clamped {Unit(colour.r), Unit(colour.g), Unit(colour.b), Unit(colour.a)};
    const int firstX = std::max(0, -left);
    const int firstY = std::max(0, -top);
    const int lastX = int(std::min<int64_t>(coverage.width, int64_t(texels.width) - left));
    const int lastY = int(std::min<int64_t>(coverage.height, int64_t(texels.height) - top));
    for (int y = firstY; y < lastY; ++y) {
        const uint8_t* in = coverage.first + size_t(y) * coverage.pitch + size_t(firstX) * coverage.step;
        uint8_t* out = texels.first + size_t(top + y) * texels.pitch + size_t(left + firstX) * 4;
        for (int x = firstX; x < lastX; ++x, in += coverage.step, out += 4) {
            const float alpha = static_cast<float>(*in) / 255.0f * clamped.a;
            if (alpha <= 0) continue;
            out[order.r] = Mix(clamped.r, out[order.r], alpha);
            out[order.g] = Mix(clamped.g, out[order.g], alpha);
            out[order.b] = Mix(clamped.b, out[order.b], alpha);
            out[3] = Mix(1.0f, out[3], alpha);
        }
    }
}

void PainterLog::Error(const std::string& message) const {
    if (log_) log_->Write(winpipe::DisplayLogLevel::Error, kLogContext, message);
}

void PainterLog::ErrorOnce(bool* logged, const std::string& message) const {
    if (*logged) return;
    *logged = true;
    Error(message);
}

}  // namespace qor::plexa
