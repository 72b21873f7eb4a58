// The inner loops of the soft device's rectangle draws, one row at a time. Each exists twice:
// a baseline build that runs on every CPU (and is the reference the equality tests compare
// with), and an AVX2 build chosen at run time where the CPU has AVX2 and FMA.
#pragma once

#include <cstdint>

namespace qor::gpu::soft {

// What a source texel's bytes become in the target, each table giving a source byte's value
// already moved to its place in the 32-bit target pixel.
struct ByteMaps {
    const uint32_t* channel[4];  // source bytes 0-3; channel[3] null keeps the target's alpha
};

// What a pair of source texels, one above the other, becomes in the target for one vertical
// weight: each table is indexed by (byte of the upper texel) | (byte of the lower one) << 8
// and gives the target byte, moved left by `shift` bits.
struct PairMaps {
    const uint8_t* table[4];  // source bytes 0-3; null: that target byte keeps its value
    int shift[4];
};
constexpr uint32_t kPairEntries = 1u << 16;

// Turns a linear value in [0, 1] (clamped) into a target byte: `table` has an entry for every
// float in that range by the top bits of its representation (see EncodeIndex).
constexpr int kEncodeShift = 13;
constexpr uint32_t kEncodeEntries = (0x3F800000u >> kEncodeShift) + 1;

struct PixelKernels {
    // out[k] = maps of in[k]'s bytes, or'ed (keeping out[k]'s alpha when channel[3] is null).
    void (*mapRow)(const uint32_t* in, uint32_t* out, int count, const ByteMaps& maps);
    // out[k] from top[k] and bottom[k] through the pair tables. Tables have kPairEntries + 3
    // entries, the last three padding for 4-byte reads.
    void (*pairRow)(const uint32_t* top, const uint32_t* bottom, uint32_t* out, int count, const PairMaps& maps);
    // planes[c][k] = table_c[byte c of texel k] for 4-byte texels; a null plane is skipped.
    void (*decodeRow)(const uint32_t* texels, int count, const float* const tables[4], float* const planes[4]);
    // out[k] = a[k] + (b[k] - a[k]) * w.
    void (*lerpRow)(const float* a, const float* b, float w, float* out, int count);
    // out[k] = c[i0[k]] + (c[i1[k]] - c[i0[k]]) * w[k].
    void (*resampleRow)(const float* c, const int32_t* i0, const int32_t* i1, const float* w, float* out, int count);
    // Byte t of out[k] = tables[t][index of clamp(values[t][k], 0, 1)]; a byte whose values
    // are null keeps what out[k] had. Tables have kEncodeEntries + 3 entries, the last three
    // padding for 4-byte reads.
    void (*encodePixels)(const float* const values[4], const uint8_t* const tables[4], uint32_t* out, int count);
};

enum class KernelSet { Baseline, Avx2 };

// The kernels of a set; the AVX2 set only where the CPU runs it (else the baseline).
const PixelKernels& Kernels(KernelSet set);
// What the soft device uses: the best the CPU runs, unless UseKernels said otherwise.
const PixelKernels& ActiveKernels();
bool CpuRunsAvx2();
// For tests and benchmarks: the set the soft device's draws use from now on.
void UseKernels(KernelSet set);

}  // namespace qor::gpu::soft
