// The text seam of the weaving window's messages: sprite fonts drawn with a sprite batch on
// Windows; SDL2_ttf with DejaVu on POSIX (text_painter_sdl.h).
#pragma once

#include "gpu/device.h"

#include <string_view>

namespace qor::plexa {

struct Rgba {
    float r = 0;
    float g = 0;
    float b = 0;
    float a = 0;
};

class TextPainter {
public:
    virtual ~TextPainter() = default;
    // Opens the font file of this name ("SegoeUI32.font", ...) ahead of drawing; false when it
    // cannot be opened.
    virtual bool LoadFont(std::string_view fontName) = 0;
    // Blends the UTF-8 text in the font onto the back buffer, its top-left corner at (x, y)
    // pixels, clipped to the texture. A font that cannot be opened draws nothing.
    virtual void DrawText(gpu::Texture& backBuffer, std::string_view fontName, std::string_view text, float x, float y,
                          const Rgba& colour) = 0;
};

}  // namespace qor::plexa
