// The fast weave's row kernel, built once for the baseline x86-64 (portable C++, the loops
// vectorised by the compiler) and once for AVX2 (explicit intrinsics). Both give the same bytes.
//
// Per physical subpixel k of a row the kernel takes the 32-bit phase x = phase + k * step (a
// fraction of a lens pitch, wrapping), keeps the top 16 bits of its distance from a boundary,
// and turns that into a weight w in [0, 256] for the left view:
//     a(x) = h ^ (h >> 15), h = int32(x) >> 16     (|x| in 2^-16 pitch, ones' complement)
//     f = 32767 - 2 a(x - 2^30)                    (one phase: > 0 where frac(u) < 1/2)
//     f = a(rightPhase + k rightStep) - a(x)       (per eye: > 0 nearer the left eye's centre)
//     w = clamp(128 + ((f * slope + 2^14) >> 15), 0, 256)
// f is a signed distance in 2^-17 pitch with the rounding centred, so the weight carries at
// most about slope / 2^16 units of phase error besides its rounding. The blend is
//     out = r + (((l - r) * w + 128) >> 8)  (== (l w + r (256 - w) + 128) >> 8), alpha 255.
#pragma once

#include <cstdint>

namespace lens::detail {

struct RowJob {
    const uint8_t* left = nullptr;   // the left view's row, RGBA8: `width` texels, or (width + 1) / 2 when doubled
    const uint8_t* right = nullptr;  // the right view's row
    uint8_t* out = nullptr;
    int width = 0;            // output pixels
    bool doubled = false;     // each source texel gives two output pixels (views half the output's width)
    uint32_t phase = 0;       // 32-bit fraction of a lens pitch at physical subpixel 0
    uint32_t step = 0;        // per physical subpixel
    uint32_t rightPhase = 0;  // per-eye mode: the right eye's, `phase` being the left eye's
    uint32_t rightStep = 0;
    int32_t slope = 0;        // 64 / blend band (in lens pitches), 1..32767
    bool perEye = false;
    bool bgr = false;
};

void WeaveRowBaseline(const RowJob& job);
void WeaveRowAvx2(const RowJob& job);

}  // namespace lens::detail
