// The AVX2 row kernel: eight output pixels a step, the weights in 16-bit lanes, the blend as
// one rounding multiply per lane; the same bytes as the portable kernel (which weaves a row's
// last few pixels here too).
#include "lenssdk/weave_rows.h"

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {
#include "lenssdk/weave_rows_impl.h"

// A step covers output bytes 0..31 (pixels 0..7). The blend works on two vectors of 16-bit
// lanes in unpack order: V0 = bytes 0-7 | 16-23, V1 = bytes 8-15 | 24-31, which packus puts
// back in order. A vector's weights come from two vectors of 32-bit phases, the even lanes'
// from one and the odd lanes' from the other (see High16): phases P0 hold bytes
// {0,2,4,6,16,18,20,22}, P1 {1,3,5,7,17,19,21,23}; P2 and P3 the same 8 bytes (6 subpixels) on.
constexpr int kByteOfLane[2][8] = {{0, 2, 4, 6, 16, 18, 20, 22}, {1, 3, 5, 7, 17, 19, 21, 23}};

// Physical subpixel of output byte j (the alpha lane's is any: its weight is never used).
int SubpixelOf(int j, bool bgr) {
    const int pixel = j >> 2, lane = j & 3;
    if (lane == 3) return 3 * pixel + 1;
    return 3 * pixel + (bgr ? 2 - lane : lane);
}

// Lanes of int32(x) >> 16, x's from `even` in the even 16-bit lanes and from `odd` in the odd.
inline __m256i High16(__m256i even, __m256i odd) {
    return _mm256_blend_epi16(_mm256_srli_epi32(even, 16), odd, 0xAA);
}

inline __m256i HalfAbs16(__m256i h) { return _mm256_xor_si256(h, _mm256_srai_epi16(h, 15)); }

inline __m256i Weight16(__m256i f, __m256i slope) {
    const __m256i m = _mm256_adds_epi16(_mm256_mulhrs_epi16(f, slope), _mm256_set1_epi16(128));
    return _mm256_min_epi16(_mm256_max_epi16(m, _mm256_setzero_si256()), _mm256_set1_epi16(256));
}

// r + (((l - r) * w + 128) >> 8) per 16-bit lane.
inline __m256i Blend16(__m256i l, __m256i r, __m256i w) {
    return _mm256_add_epi16(r, _mm256_mulhrs_epi16(_mm256_slli_epi16(_mm256_sub_epi16(l, r), 7), w));
}

struct Phases {
    __m256i p[4];
    __m256i advance;  // 24 subpixels

    Phases(uint32_t phase, uint32_t step, bool bgr) {
        for (int v = 0; v < 4; ++v) {
            alignas(32) uint32_t lanes[8];
            for (int i = 0; i < 8; ++i) {
                const int j = kByteOfLane[v & 1][i] + (v >> 1) * 8;
                lanes[i] = phase + uint32_t(SubpixelOf(j, bgr)) * step;
            }
            p[v] = _mm256_load_si256(reinterpret_cast<const __m256i*>(lanes));
        }
        advance = _mm256_set1_epi32(int32_t(24u * step));
    }
    void Next() {
        for (__m256i& v : p) v = _mm256_add_epi32(v, advance);
    }
};

// The two source vectors of a step for one view (see kByteOfLane).
template <bool kDoubled>
inline void Source16(const uint8_t* row, int pixel, __m256i& v0, __m256i& v1) {
    if constexpr (kDoubled) {
        // Texels t0..t3 give pixels t0 t0 t1 t1 t2 t2 t3 t3: V0 = t0 t0 | t2 t2, V1 = t1 t1 | t3 t3.
        const __m256i t = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + std::size_t(pixel) * 2)));
        const __m256i pick0 = _mm256_setr_epi8(0, -1, 1, -1, 2, -1, 3, -1, 0, -1, 1, -1, 2, -1, 3, -1,  //
                                               8, -1, 9, -1, 10, -1, 11, -1, 8, -1, 9, -1, 10, -1, 11, -1);
        const __m256i pick1 = _mm256_setr_epi8(4, -1, 5, -1, 6, -1, 7, -1, 4, -1, 5, -1, 6, -1, 7, -1,  //
                                               12, -1, 13, -1, 14, -1, 15, -1, 12, -1, 13, -1, 14, -1, 15, -1);
        v0 = _mm256_shuffle_epi8(t, pick0);
        v1 = _mm256_shuffle_epi8(t, pick1);
    } else {
        const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + std::size_t(pixel) * 4));
        v0 = _mm256_unpacklo_epi8(t, _mm256_setzero_si256());
        v1 = _mm256_unpackhi_epi8(t, _mm256_setzero_si256());
    }
}

template <bool kPerEye, bool kDoubled>
void WeaveRowAvx2T(const lens::detail::RowJob& job) {
    const int steps = job.width / 8;
    Phases near(kPerEye ? job.phase : job.phase - 0x40000000u, job.step, job.bgr);
    Phases far(job.rightPhase, job.rightStep, job.bgr);  // per eye only
    const __m256i slope = _mm256_set1_epi16(int16_t(job.slope));
    const __m256i opaque = _mm256_set1_epi32(int32_t(0xFF000000u));
    const __m256i most = _mm256_set1_epi16(32767);
    for (int s = 0; s < steps; ++s) {
        const int pixel = s * 8;
        __m256i w[2];
        for (int v = 0; v < 2; ++v) {
            const __m256i a = HalfAbs16(High16(near.p[2 * v], near.p[2 * v + 1]));
            __m256i f;
            if constexpr (kPerEye) {
                f = _mm256_sub_epi16(HalfAbs16(High16(far.p[2 * v], far.p[2 * v + 1])), a);
            } else {
                f = _mm256_sub_epi16(most, _mm256_add_epi16(a, a));
            }
            w[v] = Weight16(f, slope);
        }
        near.Next();
        if constexpr (kPerEye) far.Next();
        __m256i l0, l1, r0, r1;
        Source16<kDoubled>(job.left, pixel, l0, l1);
        Source16<kDoubled>(job.right, pixel, r0, r1);
        const __m256i packed = _mm256_packus_epi16(Blend16(l0, r0, w[0]), Blend16(l1, r1, w[1]));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(job.out + std::size_t(pixel) * 4),
                            _mm256_or_si256(packed, opaque));
    }
    if (steps * 8 < job.width) WeaveRowFrom<kPerEye, kDoubled>(job, steps * 8);
}

}  // namespace

void lens::detail::WeaveRowAvx2(const RowJob& job) {
    if (job.perEye) {
        job.doubled ? WeaveRowAvx2T<true, true>(job) : WeaveRowAvx2T<true, false>(job);
    } else {
        job.doubled ? WeaveRowAvx2T<false, true>(job) : WeaveRowAvx2T<false, false>(job);
    }
}
