// The Windows text painter: GDI renders the text's coverage into memory, which is blended onto
// the back buffer's pixels through a staging copy on the texture's own Direct3D 11 device.
// Faces: "Segoe UI" for the Latin fonts, "Microsoft YaHei" for the other scripts, at the size
// the name gives ("SegoeUI26I.font": 26 pixels, italic); GDI substitutes a face it has when
// these are missing. A TrueType file placed at the font's own name under
// "<PROGRAMDATA>\OEM\Plexaview\Font\" is added for this process first.
#pragma once

#include "weaver/text_painter.h"

#include <memory>

namespace qor::winpipe {
class DisplayLogWriter;
}

namespace qor::plexa {

// `log` may be null (log off). The painter is used from one thread, the one drawing the frame
// on the back buffer's device.
std::unique_ptr<TextPainter> CreateGdiTextPainter(std::shared_ptr<winpipe::DisplayLogWriter> log);

}  // namespace qor::plexa
