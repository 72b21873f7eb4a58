// The capture files of the POSIX display window: with NORVIK_CAPTURE_DIR set, every frame the
// window presents is also written there as a PNG.
#pragma once

#include <cstdint>
#include <string>

namespace qor::basic {

// "<folder>/<title>_<number, six digits at least>.png".
std::string CaptureFilePath(const std::string& folder, const std::string& title, uint64_t number);

// Writes `argb` (0xAARRGGBB words, rows of `width`) as an 8-bit RGB PNG at `path`. The file is
// written under a temporary name and renamed into place, so a reader never sees part of one.
// libpng's fast write: no row filters, light deflate. False on any failure.
bool WriteCapturePng(const std::string& path, const uint32_t* argb, uint32_t width, uint32_t height);

}  // namespace qor::basic
