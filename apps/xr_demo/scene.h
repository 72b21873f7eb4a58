// A small stereo scene drawn on the CPU: a floor grid and boxes at different depths, seen
// from each eye, so the two images differ by the boxes' parallax.
#pragma once

#include <openxr/openxr.h>

#include <cstdint>
#include <vector>

namespace xr_demo {

struct EyeImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba;  // width × height × 4 bytes, rows top to bottom
};

// Draws the scene for one eye with its pose (in the LOCAL space) and field of view.
// `frame` moves the boxes a little so consecutive frames differ.
void RenderEye(const XrPosef& eye, const XrFovf& fov, uint32_t frame, EyeImage* image);

}  // namespace xr_demo
