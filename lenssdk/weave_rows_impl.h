// Included inside an unnamed namespace by each kernel file, so the two builds never merge.
// Branch-free on purpose: the loops vectorise.

template <bool kPerEye, bool kBgr>
void WeaveRowT(const lens::detail::RowJob& job) {
    const uint8_t* const left = job.left;
    const uint8_t* const right = job.right;
    uint8_t* const out = job.out;
    const uint32_t phase = job.phase, step = job.step;
    const uint32_t rightPhase = job.rightPhase, rightStep = job.rightStep;
    const int32_t ramp = job.ramp;
    const int bytes = job.width * 4;
    for (int j = 0; j < bytes; ++j) {
        const uint32_t lane = uint32_t(j) & 3u;
        const uint32_t pixel = uint32_t(j) >> 2;
        // Physical subpixel index along the row (the alpha lane's value is never used).
        const uint32_t k = kBgr ? 3u * pixel + 2u - lane : uint32_t(j) - pixel;
        const int32_t x = int32_t(phase + k * step);
        const int32_t nearLeft = x ^ (x >> 31);  // |x|, the distance from a lens centre
        int32_t distance;                         // signed, 2^-32 lens pitch; > 0 favours left
        if constexpr (kPerEye) {
            const int32_t xr = int32_t(rightPhase + k * rightStep);
            const int32_t nearRight = xr ^ (xr >> 31);
            distance = (nearRight - nearLeft) >> 1;
        } else {
            // frac(u) < 1/2 is left; the distance to the nearer of the boundaries 0 and 1/2.
            const int32_t toBoundary = std::min(nearLeft, int32_t(0x7FFFFFFF) - nearLeft);
            distance = x < 0 ? -toBoundary : toBoundary;
        }
        const int32_t d = distance >> 16;
        const int32_t w = std::clamp(128 + ((d * ramp + 32768) >> 16), 0, 256);
        const uint32_t value = (uint32_t(left[j]) * uint32_t(w) + uint32_t(right[j]) * uint32_t(256 - w) + 128u) >> 8;
        out[j] = lane == 3u ? uint8_t(255) : uint8_t(value);
    }
}

void WeaveRowDispatch(const lens::detail::RowJob& job) {
    if (job.perEye) {
        job.bgr ? WeaveRowT<true, true>(job) : WeaveRowT<true, false>(job);
    } else {
        job.bgr ? WeaveRowT<false, true>(job) : WeaveRowT<false, false>(job);
    }
}
