// The fast weave's row kernel, built once for the baseline x86-64 and once for AVX2.
#pragma once

#include <cstdint>

namespace lens::detail {

struct RowJob {
    const uint8_t* left = nullptr;   // the left view's row, RGBA8 at the output width
    const uint8_t* right = nullptr;  // the right view's row
    uint8_t* out = nullptr;
    int width = 0;
    uint32_t phase = 0;       // 32-bit fraction of a lens pitch at physical subpixel 0
    uint32_t step = 0;        // per physical subpixel
    uint32_t rightPhase = 0;  // per-eye mode: the right eye's, `phase` being the left eye's
    uint32_t rightStep = 0;
    int32_t ramp = 0;         // weight units (of 256) per 2^-16 lens pitch, times 2^16
    bool perEye = false;
    bool bgr = false;
};

void WeaveRowBaseline(const RowJob& job);
void WeaveRowAvx2(const RowJob& job);

}  // namespace lens::detail
