// The text seam of the weaving window's messages: GDI on Windows (text_painter_win32.h);
// SDL2_ttf with DejaVu on POSIX (text_painter_sdl.h).
#pragma once

#include "gpu/device.h"

#include <memory>
#include <string_view>

namespace qor::winpipe {
class DisplayLogWriter;
}

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
    // Opens the font of this name ("SegoeUI32.font", ...) ahead of drawing; false when it cannot
    // be opened (a name that is not one of the message fonts).
    virtual bool LoadFont(std::string_view fontName) = 0;
    // Blends the UTF-8 text in the font onto the back buffer, its top-left corner at (x, y)
    // pixels, clipped to the texture. A font that cannot be opened draws nothing.
    virtual void DrawText(gpu::Texture& backBuffer, std::string_view fontName, std::string_view text, float x, float y,
                          const Rgba& colour) = 0;
};

// The platform's painter: GDI on Windows, SDL2_ttf elsewhere. `log` may be null (log off).
std::unique_ptr<TextPainter> CreateTextPainter(std::shared_ptr<winpipe::DisplayLogWriter> log);

}  // namespace qor::plexa
