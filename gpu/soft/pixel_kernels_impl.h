// The kernels' loops, compiled once per kernel set (see pixel_kernels_*.cpp): written so that
// the compiler can vectorise them for the set's instructions.
#pragma once

#include "gpu/soft/pixel_kernels.h"

#include <bit>
#include <cstring>

namespace qor::gpu::soft::NORVIK_KERNEL_SET {

inline void MapRowLoop(const uint32_t* in, uint32_t* out, int count, const ByteMaps& maps) {
    const uint32_t* m0 = maps.channel[0];
    const uint32_t* m1 = maps.channel[1];
    const uint32_t* m2 = maps.channel[2];
    const uint32_t* m3 = maps.channel[3];
    if (m3 != nullptr) {
        for (int k = 0; k < count; ++k) {
            const uint32_t t = in[k];
            out[k] = m0[t & 0xFF] | m1[(t >> 8) & 0xFF] | m2[(t >> 16) & 0xFF] | m3[t >> 24];
        }
    } else {
        for (int k = 0; k < count; ++k) {
            const uint32_t t = in[k];
            out[k] = m0[t & 0xFF] | m1[(t >> 8) & 0xFF] | m2[(t >> 16) & 0xFF] | (out[k] & 0xFF000000u);
        }
    }
}

inline void PairRow(const uint32_t* top, const uint32_t* bottom, uint32_t* out, int count, const PairMaps& maps) {
    uint32_t keep = 0xFFFFFFFFu;
    for (int c = 0; c < 4; ++c) {
        if (maps.table[c] != nullptr) keep &= ~(0xFFu << maps.shift[c]);
    }
    for (int k = 0; k < count; ++k) {
        const uint32_t upper = top[k], lower = bottom[k];
        uint32_t pixel = out[k] & keep;
        for (int c = 0; c < 4; ++c) {
            if (maps.table[c] == nullptr) continue;
            const uint32_t index = ((upper >> (8 * c)) & 0xFF) | (((lower >> (8 * c)) & 0xFF) << 8);
            pixel |= uint32_t(maps.table[c][index]) << maps.shift[c];
        }
        out[k] = pixel;
    }
}

inline void DecodeRow(const uint32_t* texels, int count, const float* const tables[4], float* const planes[4]) {
    for (int c = 0; c < 4; ++c) {
        float* plane = planes[c];
        const float* table = tables[c];
        if (plane == nullptr) continue;
        const int shift = 8 * c;
        for (int k = 0; k < count; ++k) plane[k] = table[(texels[k] >> shift) & 0xFF];
    }
}

inline void LerpRow(const float* a, const float* b, float w, float* out, int count) {
    for (int k = 0; k < count; ++k) out[k] = a[k] + (b[k] - a[k]) * w;
}

inline void ResampleRow(const float* c, const int32_t* i0, const int32_t* i1, const float* w, float* out, int count) {
    for (int k = 0; k < count; ++k) {
        const float a = c[i0[k]];
        out[k] = a + (c[i1[k]] - a) * w[k];
    }
}

inline uint32_t EncodeIndexOf(float v) {
    v = v > 0.0f ? v : 0.0f;  // NaN too
    v = v < 1.0f ? v : 1.0f;
    return std::bit_cast<uint32_t>(v) >> kEncodeShift;
}

inline void EncodePixels(const float* const values[4], const uint8_t* const tables[4], uint32_t* out, int count) {
    uint32_t keep = 0;
    for (int t = 0; t < 4; ++t) {
        if (values[t] == nullptr) keep |= 0xFFu << (8 * t);
    }
    for (int k = 0; k < count; ++k) {
        uint32_t pixel = out[k] & keep;
        for (int t = 0; t < 4; ++t) {
            if (values[t] != nullptr) pixel |= uint32_t(tables[t][EncodeIndexOf(values[t][k])]) << (8 * t);
        }
        out[k] = pixel;
    }
}

}  // namespace qor::gpu::soft::NORVIK_KERNEL_SET
