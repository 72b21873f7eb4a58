// Built with AVX2 and FMA enabled; only called where the CPU has them.
#define NORVIK_KERNEL_SET avx2
#include "gpu/soft/pixel_kernels_impl.h"

#include <immintrin.h>

namespace qor::gpu::soft {

namespace {

// Eight pixels at a time by gathers from the 256-entry maps.
void MapRowAvx2(const uint32_t* in, uint32_t* out, int count, const ByteMaps& maps) {
    const auto* m0 = reinterpret_cast<const int*>(maps.channel[0]);
    const auto* m1 = reinterpret_cast<const int*>(maps.channel[1]);
    const auto* m2 = reinterpret_cast<const int*>(maps.channel[2]);
    const auto* m3 = reinterpret_cast<const int*>(maps.channel[3]);
    const __m256i low = _mm256_set1_epi32(0xFF);
    const __m256i alphaMask = _mm256_set1_epi32(int(0xFF000000u));
    int k = 0;
    for (; k + 8 <= count; k += 8) {
        const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + k));
        __m256i v = _mm256_i32gather_epi32(m0, _mm256_and_si256(t, low), 4);
        v = _mm256_or_si256(v, _mm256_i32gather_epi32(m1, _mm256_and_si256(_mm256_srli_epi32(t, 8), low), 4));
        v = _mm256_or_si256(v, _mm256_i32gather_epi32(m2, _mm256_and_si256(_mm256_srli_epi32(t, 16), low), 4));
        auto* target = reinterpret_cast<__m256i*>(out + k);
        if (m3 != nullptr) {
            v = _mm256_or_si256(v, _mm256_i32gather_epi32(m3, _mm256_srli_epi32(t, 24), 4));
        } else {
            v = _mm256_or_si256(v, _mm256_and_si256(_mm256_loadu_si256(target), alphaMask));
        }
        _mm256_storeu_si256(target, v);
    }
    avx2::MapRowLoop(in + k, out + k, count - k, maps);
}

// Eight pixels at a time by 4-byte gathers from the pair tables.
void PairRowAvx2(const uint32_t* top, const uint32_t* bottom, uint32_t* out, int count, const PairMaps& maps) {
    uint32_t keep = 0xFFFFFFFFu;
    for (int c = 0; c < 4; ++c) {
        if (maps.table[c] != nullptr) keep &= ~(0xFFu << maps.shift[c]);
    }
    const __m256i low = _mm256_set1_epi32(0xFF);
    const __m256i keepMask = _mm256_set1_epi32(int(keep));
    int k = 0;
    for (; k + 8 <= count; k += 8) {
        const __m256i upper = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + k));
        const __m256i lower = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom + k));
        auto* target = reinterpret_cast<__m256i*>(out + k);
        __m256i pixel = _mm256_and_si256(_mm256_loadu_si256(target), keepMask);
        for (int c = 0; c < 4; ++c) {
            if (maps.table[c] == nullptr) continue;
            const __m128i byteShift = _mm_cvtsi32_si128(8 * c);
            const __m256i a = _mm256_and_si256(_mm256_srl_epi32(upper, byteShift), low);
            const __m256i b = _mm256_and_si256(_mm256_srl_epi32(lower, byteShift), low);
            const __m256i index = _mm256_or_si256(a, _mm256_slli_epi32(b, 8));
            const __m256i bytes =
                _mm256_and_si256(_mm256_i32gather_epi32(reinterpret_cast<const int*>(maps.table[c]), index, 1), low);
            pixel = _mm256_or_si256(pixel, _mm256_sll_epi32(bytes, _mm_cvtsi32_si128(maps.shift[c])));
        }
        _mm256_storeu_si256(target, pixel);
    }
    avx2::PairRow(top + k, bottom + k, out + k, count - k, maps);
}

// Eight pixels at a time: indices by float maths, bytes by 4-byte gathers from the tables.
void EncodePixelsAvx2(const float* const values[4], const uint8_t* const tables[4], uint32_t* out, int count) {
    uint32_t keep = 0;
    for (int t = 0; t < 4; ++t) {
        if (values[t] == nullptr) keep |= 0xFFu << (8 * t);
    }
    const __m256 zero = _mm256_setzero_ps();
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256i low = _mm256_set1_epi32(0xFF);
    const __m256i keepMask = _mm256_set1_epi32(int(keep));
    int k = 0;
    for (; k + 8 <= count; k += 8) {
        auto* target = reinterpret_cast<__m256i*>(out + k);
        __m256i pixel = keep != 0 ? _mm256_and_si256(_mm256_loadu_si256(target), keepMask) : _mm256_setzero_si256();
        for (int t = 0; t < 4; ++t) {
            if (values[t] == nullptr) continue;
            __m256 v = _mm256_loadu_ps(values[t] + k);
            v = _mm256_min_ps(_mm256_max_ps(v, zero), one);  // max first: NaN becomes 0
            const __m256i index = _mm256_srli_epi32(_mm256_castps_si256(v), kEncodeShift);
            const __m256i bytes = _mm256_and_si256(
                _mm256_i32gather_epi32(reinterpret_cast<const int*>(tables[t]), index, 1), low);
            pixel = _mm256_or_si256(pixel, _mm256_sll_epi32(bytes, _mm_cvtsi32_si128(8 * t)));
        }
        _mm256_storeu_si256(target, pixel);
    }
    const float* rest[4];
    for (int t = 0; t < 4; ++t) rest[t] = values[t] != nullptr ? values[t] + k : nullptr;
    avx2::EncodePixels(rest, tables, out + k, count - k);
}

}  // namespace

extern const PixelKernels kAvx2Kernels;
const PixelKernels kAvx2Kernels {&MapRowAvx2, &PairRowAvx2, &avx2::DecodeRow, &avx2::LerpRow, &avx2::ResampleRow,
                                 &EncodePixelsAvx2};

}  // namespace qor::gpu::soft
