// Interlacing a side-by-side stereo image for a slanted lenticular panel, from the tracked
// eyes (van Berkel's subpixel-to-view mapping, two views steered by eye position).
//
// The lens layer sits a gap g in front of the pixels. The ray from the eye midpoint through a
// subpixel at q crosses the lens plane at phase
//     u = (qx - s qy) / P_eff(z) + ((x - s y) g / z - x0) / P_L,   P_eff(z) = P_L z / (z - g)
// (in lens pitches; lens centres at whole u). An eye sees a subpixel when its ray passes through
// a lens centre. The left eye's phase is about a quarter below the midpoint's, so the left view
// goes where frac(u) < 1/2 and the right view elsewhere, blended over a narrow band around the
// two boundaries.
#pragma once

#include "lenssdk/eye_source.h"
#include "lenssdk/lens_api.h"

#include <cstddef>
#include <cstdint>

namespace lens {

struct WeaveSettings {
    double lensPitchSubpixels = 6.0;  // P_L, horizontal, in subpixels
    double slant = 1.0 / 3.0;         // s: horizontal lens shift per unit of height
    double gapMm = 0.83;              // g
    double offsetMm = 0.0;            // x0: lens-centre offset at the panel centre
    double blendBand = 0.04;          // width of each blend, in lens pitches
    bool bgr = false;                 // subpixel order left to right
    double panelWidthMm = 344.2;
    int panelWidthPixels = 3840;

    double PixelPitchMm() const { return panelWidthMm / panelWidthPixels; }
    double SubpixelWidthMm() const { return PixelPitchMm() / 3; }
    double LensPitchMm() const { return lensPitchSubpixels * SubpixelWidthMm(); }
    // Head movement in x that steps the phase by one whole lens pitch.
    double LobeWidthMm(double z) const { return LensPitchMm() * z / gapMm; }
};

// Eyes closer together in depth than this share one phase, taken at their midpoint.
constexpr double kPerEyeDepthDifferenceMm = 4.0;
// Eyes are kept at least this far in front of the panel (never at or behind the lens plane).
constexpr double kNearestEyeDistanceMm = 50.0;

// The eyes the weaver uses: non-finite input gives the simulated viewer at rest, and z is
// kept at kNearestEyeDistanceMm or more.
LENS_CORE_API EyePair UsableEyes(const EyePair& eyes);

// Whether the eyes are far enough apart in depth (kPerEyeDepthDifferenceMm) to need a phase each.
LENS_CORE_API bool UsesPerEyePhases(const EyePair& eyes);

// Whether the settings describe a panel and lenses the weave can work with (finite, positive
// pitches and sizes, a gap in front of the nearest eyes); the weaves refuse any others.
LENS_CORE_API bool UsableSettings(const WeaveSettings& settings);

// Phase of the ray from `eye` through panel point (qx, qy) mm at the lens plane.
LENS_CORE_API double LensPhase(const WeaveSettings& settings, double qx, double qy, const Vec3& eye);

// Share of the left view (0..1) a subpixel at (qx, qy) mm shows for these eyes.
LENS_CORE_API double LeftShare(const WeaveSettings& settings, double qx, double qy, const EyePair& eyes);

// Panel position (mm from the centre, y up) of subpixel `channel` of output pixel (col, row)
// in a width x height frame that fills the panel's centre at its pixel pitch.
LENS_CORE_API void SubpixelPosition(const WeaveSettings& settings, int width, int height, int col, int row,
                                   int channel, double& qx, double& qy);

struct ImageView {
    const uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    std::size_t stride = 0;  // bytes per row
};

struct MutableImageView {
    uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    std::size_t stride = 0;
};

// Both weave an RGBA8 side-by-side image (left half = left view) into an RGBA8 frame. Each
// view is scaled to the output by nearest sampling: the panel shows whole source texels, no
// filtering cost on the fast path. The output's alpha is opaque. Empty or too small images
// (or a source narrower than two pixels) give false and leave the output untouched.
//
// The reference: every subpixel in double precision.
LENS_CORE_API bool WeaveReference(const WeaveSettings& settings, const EyePair& eyes, const ImageView& sideBySide,
                                  const MutableImageView& out);
// The fast path: per row, a 32-bit fixed-point phase at the row start and a constant step per
// subpixel; per subpixel, a phase add, the distance to a boundary in 16 bits, a clamp into a
// weight, and a blend (lenssdk/weave_rows.h). Views half the output's width are doubled inside
// the row kernel. Rows are woven in bands on the worker pool. Matches the reference within 1
// per channel (bands narrower than 1/512 of a lens pitch widen to that; under about 1/256 of a
// pitch the weight's 2^-16 pitch phase steps may, rarely, put a subpixel 2 off).
LENS_CORE_API bool WeaveFast(const WeaveSettings& settings, const EyePair& eyes, const ImageView& sideBySide,
                             const MutableImageView& out);

// The row kernels WeaveFast uses: kBest is AVX2 where the CPU runs it, else the portable
// build. Both give the same bytes.
enum class WeaveKernels { kBest, kBaseline, kAvx2 };
LENS_CORE_API bool CpuRunsAvx2Weave();
// For tests and benchmarks: the kernels WeaveFast uses from now on (the whole process). False,
// changing nothing, for kAvx2 where the CPU or the build has no AVX2 kernels.
LENS_CORE_API bool UseWeaveKernels(WeaveKernels set);

}  // namespace lens
