// What the text painters of both platforms share: the faces the message fonts stand for, the
// place a font file may be put, the clipping of a text's box to the back buffer and the
// blending of glyph coverage onto 8-bit texels.
#pragma once

#include "weaver/text_painter.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qor::winpipe {
class DisplayLogWriter;
}

namespace qor::plexa {

// The painters' error lines in the display log (nothing when it is off); a failure that would
// repeat every frame is written once.
class PainterLog {
public:
    explicit PainterLog(std::shared_ptr<winpipe::DisplayLogWriter> log) : log_(std::move(log)) {}
    void Error(const std::string& message) const;
    // Writes `message` unless `*logged` is set, and sets it.
    void ErrorOnce(bool* logged, const std::string& message) const;

private:
    std::shared_ptr<winpipe::DisplayLogWriter> log_;
};

enum class Script { Latin, Other };

struct FontFace {
    std::string_view name;
    int pixels;  // the em height
    bool italic;
    Script script;
};

// The face of a message font; null for any other name.
const FontFace* FaceNamed(std::string_view name);

// Where a TrueType file of the font's own name is looked for first.
std::string PlacedFontPath(std::string_view fontName);

// Byte offsets of red, green and blue in a texel of the back buffer's format.
struct ChannelOrder {
    int r, g, b;
};

// The order of the 8-bit RGBA/BGRA formats; none for formats the painters cannot draw on.
std::optional<ChannelOrder> ChannelsOf(uint32_t dxgiFormat);

struct PixelRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// The whole-pixel corner of a text drawn at (x, y); none for NaN and for coordinates so far out
// that nothing could show (the bound also keeps the conversion to int defined).
std::optional<PixelRect> TextCorner(float x, float y);

// The part of a width × height box at `corner` that lies on a textureWidth × textureHeight
// texture; none when nothing of it does.
std::optional<PixelRect> ClipToTexture(const PixelRect& corner, int width, int height, uint32_t textureWidth,
                                       uint32_t textureHeight);

// One coverage sample (0-255) per pixel, `step` bytes apart in a row, rows `pitch` bytes apart.
struct CoverageView {
    const uint8_t* first = nullptr;
    size_t step = 1;
    size_t pitch = 0;
    int width = 0;
    int height = 0;
};

// 8-bit four-channel texels, rows `pitch` bytes apart.
struct TexelView {
    uint8_t* first = nullptr;
    size_t pitch = 0;
    int width = 0;
    int height = 0;
};

// Blends `colour`, weighted by the coverage, onto the texels, the coverage's corner at (left,
// top) of the texels; what falls outside either is left alone.
void BlendCoverage(const CoverageView& coverage, const TexelView& texels, ChannelOrder order, int left, int top,
                   const Rgba& colour);

}  // namespace qor::plexa
