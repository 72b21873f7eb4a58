// What one eye sees of a woven frame through the lens layer, and how much of that light comes
// from the other eye's view. The lens model here traces rays on its own, apart from the
// weaver's phase arithmetic, so it can check it.
#pragma once

#include "lenssdk/weaver_math.h"
#include "lenssdk/lens_api.h"

#include <cstdint>
#include <vector>

namespace lens {

enum class Eye { kLeft, kRight };

// Offset, in lens pitches from the nearest lens centre, where the ray from `eye` to the panel
// point (qx, qy) crosses the lens plane; and the width one subpixel spans there.
LENS_CORE_API double RayLensOffset(const WeaveSettings& settings, double qx, double qy, const Vec3& eye);
LENS_CORE_API double SubpixelSpan(const WeaveSettings& settings, const Vec3& eye);

// How much of a subpixel the eye sees (0..1): the overlap of the subpixel with a window one
// subpixel wide centred on the lens centre, both as seen along the eye's rays.
LENS_CORE_API double Visibility(const WeaveSettings& settings, double qx, double qy, const Vec3& eye);

// The frame as the eye sees it: each pixel's channel shows the nearby subpixels of that colour
// the eye sees through their lenses, weighted by how much of each it sees. RGBA8, same size.
LENS_CORE_API std::vector<uint8_t> SeenByEye(const WeaveSettings& settings, const ImageView& woven, const Vec3& eye);

// The share (0..1) of light reaching `which` eye, at `eye`, from the wrong view, for a frame
// woven for `tracked`: weaves white left against black right and sums what the eye sees.
// The frame fills the panel's centre at width x height pixels; 0 for an empty frame.
LENS_CORE_API double Crosstalk(const WeaveSettings& settings, const EyePair& tracked, const Vec3& eye, Eye which,
                                 int width, int height);

}  // namespace lens
