// Included inside an unnamed namespace by each kernel file, so the two builds never merge.
// The portable row kernel (see weave_rows.h for the arithmetic): branch-free on purpose, so
// the loops vectorise. The AVX2 build also runs it for a row's last few pixels.

// |x| in 2^-16 lens pitch (ones' complement, so x and -1 - x give the same), 0..32767.
inline int32_t HalfAbs(uint32_t x) {
    const int32_t h = int32_t(x) >> 16;
    return h ^ (h >> 15);
}

inline int32_t WeightFrom(int32_t f, int32_t slope) {
    return std::clamp(128 + ((f * slope + 16384) >> 15), 0, 256);
}

// `count` pixels from texels with the same index, pixel `first` of the row being the first.
template <bool kPerEye, bool kBgr>
void WeavePixels(const lens::detail::RowJob& job, const uint8_t* left, const uint8_t* right, uint8_t* out,
                 uint32_t first, int count) {
    // One phase: measured from the boundary at a quarter pitch, so |x| is the distance to it.
    const uint32_t phase = kPerEye ? job.phase : job.phase - 0x40000000u;
    const uint32_t step = job.step;
    const uint32_t rightPhase = job.rightPhase, rightStep = job.rightStep;
    const int32_t slope = job.slope;
    for (int i = 0; i < count; ++i) {
        const uint32_t k0 = 3u * (first + uint32_t(i));  // physical subpixel of the pixel's first slot
        for (int c = 0; c < 3; ++c) {
            const uint32_t k = k0 + uint32_t(kBgr ? 2 - c : c);
            const int32_t near = HalfAbs(phase + k * step);
            int32_t f;
            if constexpr (kPerEye) {
                f = HalfAbs(rightPhase + k * rightStep) - near;
            } else {
                f = 32767 - 2 * near;
            }
            const int32_t w = WeightFrom(f, slope);
            const int32_t l = left[4 * i + c], r = right[4 * i + c];
            out[4 * i + c] = uint8_t(r + (((l - r) * w + 128) >> 8));
        }
        out[4 * i + 3] = 255;
    }
}

// Pixels [fromPixel, job.width) of the row.
template <bool kPerEye, bool kBgr, bool kDoubled>
void WeaveRowT(const lens::detail::RowJob& job, int fromPixel) {
    if constexpr (kDoubled) {
        // Each texel twice, a chunk at a time, then as views of the output's width.
        constexpr int kChunk = 256;
        uint32_t left[kChunk], right[kChunk];
        for (int from = fromPixel; from < job.width; from += kChunk) {
            const int count = std::min(kChunk, job.width - from);
            for (int i = 0; i < count; ++i) {
                std::memcpy(&left[i], job.left + std::size_t((from + i) >> 1) * 4, 4);
                std::memcpy(&right[i], job.right + std::size_t((from + i) >> 1) * 4, 4);
            }
            WeavePixels<kPerEye, kBgr>(job, reinterpret_cast<const uint8_t*>(left),
                                       reinterpret_cast<const uint8_t*>(right), job.out + std::size_t(from) * 4,
                                       uint32_t(from), count);
        }
    } else {
        const std::size_t at = std::size_t(fromPixel) * 4;
        WeavePixels<kPerEye, kBgr>(job, job.left + at, job.right + at, job.out + at, uint32_t(fromPixel),
                                   job.width - fromPixel);
    }
}

template <bool kPerEye, bool kDoubled>
void WeaveRowFrom(const lens::detail::RowJob& job, int fromPixel) {
    job.bgr ? WeaveRowT<kPerEye, true, kDoubled>(job, fromPixel) : WeaveRowT<kPerEye, false, kDoubled>(job, fromPixel);
}

inline void WeaveRowPortable(const lens::detail::RowJob& job, int fromPixel) {
    if (job.perEye) {
        job.doubled ? WeaveRowFrom<true, true>(job, fromPixel) : WeaveRowFrom<true, false>(job, fromPixel);
    } else {
        job.doubled ? WeaveRowFrom<false, true>(job, fromPixel) : WeaveRowFrom<false, false>(job, fromPixel);
    }
}
