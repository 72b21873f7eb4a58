// The POSIX text painter: SDL2_ttf. A TrueType file placed at the font's own name under
// "<PROGRAMDATA>/OEM/Plexaview/Font/" is used first; otherwise DejaVu Sans stands in at the
// size the name gives ("SegoeUI26I.font": 26 pixels, italic).
#pragma once

#include "weaver/text_painter.h"

#include <memory>

namespace qor::winpipe {
class DisplayLogWriter;
}

namespace qor::plexa {

// The DejaVu file every font falls back to.
inline constexpr const char* kStandInFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// `log` may be null (log off).
std::unique_ptr<TextPainter> CreateSdlTextPainter(std::shared_ptr<winpipe::DisplayLogWriter> log);

}  // namespace qor::plexa
