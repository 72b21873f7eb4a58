#include "lenssdk/weaver_math.h"

#include "gpu/soft/worker_pool.h"
#include "lenssdk/weave_rows.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

namespace lens {

namespace {

bool Finite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

Vec3 Midpoint(const EyePair& eyes) {
    return {(eyes.left.x + eyes.right.x) / 2, (eyes.left.y + eyes.right.y) / 2, (eyes.left.z + eyes.right.z) / 2};
}

// Left share from a signed distance (lens pitches, > 0 towards the left view's side).
double Ramp(double distance, double band) {
    if (!(band > 0)) return distance > 0 ? 1.0 : distance < 0 ? 0.0 : 0.5;
    return std::clamp(0.5 + distance / band, 0.0, 1.0);
}

bool Usable(const ImageView& in, const MutableImageView& out) {
    return in.data != nullptr && out.data != nullptr && in.width >= 2 && in.height >= 1 && out.width >= 1 &&
           out.height >= 1 && in.stride >= std::size_t(in.width) * 4 && out.stride >= std::size_t(out.width) * 4;
}

// Nearest source texel of output index `i` of `outSize` over `inSize` texels.
int Nearest(int i, int outSize, int inSize) {
    return int(std::min<int64_t>(inSize - 1, ((2 * int64_t(i) + 1) * inSize) / (2 * int64_t(outSize))));
}

std::atomic<int> g_kernels{int(WeaveKernels::kBest)};

using RowKernel = void (*)(const detail::RowJob&);

RowKernel ActiveRowKernel() {
#if defined(NORVIK_HAVE_AVX2_KERNELS)
    if (WeaveKernels(g_kernels.load(std::memory_order_relaxed)) != WeaveKernels::kBaseline && CpuRunsAvx2Weave()) {
        return detail::WeaveRowAvx2;
    }
#endif
    return detail::WeaveRowBaseline;
}

uint32_t Fixed(double u) {
    const double f = u - std::floor(u);
    return uint32_t(uint64_t(std::llround(f * 4294967296.0)));  // 1.0 wraps to 0
}

}  // namespace

bool CpuRunsAvx2Weave() {
#if defined(NORVIK_HAVE_AVX2_KERNELS)
    static const bool runs = __builtin_cpu_supports("avx2");
    return runs;
#else
    return false;
#endif
}

bool UseWeaveKernels(WeaveKernels set) {
    if (set == WeaveKernels::kAvx2 && !CpuRunsAvx2Weave()) return false;
    g_kernels.store(int(set), std::memory_order_relaxed);
    return true;
}

EyePair UsableEyes(const EyePair& eyes) {
    EyePair usable = (Finite(eyes.left) && Finite(eyes.right)) ? eyes : SimulatedEyes(0);
    usable.left.z = std::max(usable.left.z, kNearestEyeDistanceMm);
    usable.right.z = std::max(usable.right.z, kNearestEyeDistanceMm);
    return usable;
}

bool UsesPerEyePhases(const EyePair& eyes) { return std::fabs(eyes.left.z - eyes.right.z) > kPerEyeDepthDifferenceMm; }

bool UsableSettings(const WeaveSettings& s) {
    return std::isfinite(s.lensPitchSubpixels) && s.lensPitchSubpixels > 0 && std::isfinite(s.slant) &&
           std::isfinite(s.gapMm) && s.gapMm > 0 && s.gapMm < kNearestEyeDistanceMm && std::isfinite(s.offsetMm) &&
           std::isfinite(s.blendBand) && s.blendBand >= 0 && std::isfinite(s.panelWidthMm) && s.panelWidthMm > 0 &&
           s.panelWidthPixels > 0;
}

double LensPhase(const WeaveSettings& s, double qx, double qy, const Vec3& eye) {
    const double pitch = s.LensPitchMm();
    const double effectivePitch = pitch * eye.z / (eye.z - s.gapMm);
    return (qx - s.slant * qy) / effectivePitch + ((eye.x - s.slant * eye.y) * s.gapMm / eye.z - s.offsetMm) / pitch;
}

double LeftShare(const WeaveSettings& s, double qx, double qy, const EyePair& given) {
    const EyePair eyes = UsableEyes(given);
    if (UsesPerEyePhases(eyes)) {
        // Eyes at different depths see the lenses at different pitches: each subpixel goes to
        // the eye whose ray passes nearer a lens centre.
        const double left = LensPhase(s, qx, qy, eyes.left);
        const double right = LensPhase(s, qx, qy, eyes.right);
        const double nearLeft = std::fabs(left - std::round(left));
        const double nearRight = std::fabs(right - std::round(right));
        return Ramp((nearRight - nearLeft) / 2, s.blendBand);
    }
    const double u = LensPhase(s, qx, qy, Midpoint(eyes));
    const double f = u - std::floor(u);
    const double distance = f < 0.5 ? std::min(f, 0.5 - f) : -std::min(f - 0.5, 1.0 - f);
    return Ramp(distance, s.blendBand);
}

void SubpixelPosition(const WeaveSettings& s, int width, int height, int col, int row, int channel, double& qx,
                      double& qy) {
    const int slot = s.bgr ? 2 - channel : channel;
    const double pitch = s.PixelPitchMm();
    qx = (col + (slot + 0.5) / 3.0 - width / 2.0) * pitch;
    qy = (height / 2.0 - row - 0.5) * pitch;
}

bool WeaveReference(const WeaveSettings& s, const EyePair& eyes, const ImageView& in, const MutableImageView& out) {
    if (!Usable(in, out) || !UsableSettings(s)) return false;
    const int viewWidth = in.width / 2;
    for (int row = 0; row < out.height; ++row) {
        const uint8_t* source = in.data + std::size_t(Nearest(row, out.height, in.height)) * in.stride;
        uint8_t* target = out.data + std::size_t(row) * out.stride;
        for (int col = 0; col < out.width; ++col) {
            const int x = Nearest(col, out.width, viewWidth);
            const uint8_t* left = source + std::size_t(x) * 4;
            const uint8_t* right = source + std::size_t(viewWidth + x) * 4;
            for (int c = 0; c < 3; ++c) {
                double qx, qy;
                SubpixelPosition(s, out.width, out.height, col, row, c, qx, qy);
                const double share = LeftShare(s, qx, qy, eyes);
                target[col * 4 + c] = uint8_t(std::lround(share * left[c] + (1 - share) * right[c]));
            }
            target[col * 4 + 3] = 255;
        }
    }
    return true;
}

bool WeaveFast(const WeaveSettings& s, const EyePair& given, const ImageView& in, const MutableImageView& out) {
    if (!Usable(in, out) || !UsableSettings(s)) return false;
    const EyePair eyes = UsableEyes(given);
    const bool perEye = UsesPerEyePhases(eyes);
    const Vec3 first = perEye ? eyes.left : Midpoint(eyes);
    const Vec3& second = eyes.right;
    const double pitch = s.LensPitchMm();
    const auto stepOf = [&](const Vec3& eye) { return s.SubpixelWidthMm() * (eye.z - s.gapMm) / (eye.z * pitch); };
    const uint32_t step = Fixed(stepOf(first));
    const uint32_t rightStep = Fixed(stepOf(second));
    // 64 / band (see weave_rows.h); bands narrower than 1/512 of a pitch are held at that.
    const int32_t slope = s.blendBand > 64.0 / 32767 ? std::max(1, int32_t(std::lround(64.0 / s.blendBand))) : 32767;

    const int viewWidth = in.width / 2;
    // Views of the output's width are read in place, views of half its width (the
    // compositor's stage) by the kernel doubling each texel; other sizes are scaled per row.
    const bool sameWidth = viewWidth == out.width;
    const bool doubled = out.width == 2 * viewWidth;
    std::vector<int> columns;
    if (!sameWidth && !doubled) {
        columns.resize(std::size_t(out.width));
        for (int col = 0; col < out.width; ++col) columns[std::size_t(col)] = Nearest(col, out.width, viewWidth);
    }
    const auto kernel = ActiveRowKernel();

    constexpr int kRowsPerBand = 32;
    const int bands = (out.height + kRowsPerBand - 1) / kRowsPerBand;
    qor::gpu::soft::WorkerPool::Shared().Run(bands, [&](int band, int) {
        std::vector<uint32_t> leftRow, rightRow;
        if (!columns.empty()) {
            leftRow.resize(std::size_t(out.width));
            rightRow.resize(std::size_t(out.width));
        }
        int scaledFrom = -1;
        const int end = std::min(out.height, (band + 1) * kRowsPerBand);
        for (int row = band * kRowsPerBand; row < end; ++row) {
            const int sourceRow = Nearest(row, out.height, in.height);
            const uint8_t* source = in.data + std::size_t(sourceRow) * in.stride;
            detail::RowJob job;
            if (columns.empty()) {
                job.left = source;
                job.right = source + std::size_t(viewWidth) * 4;
                job.doubled = doubled;
            } else {
                // Rows repeat when the view is scaled up: scale a source row once.
                if (sourceRow != scaledFrom) {
                    for (int col = 0; col < out.width; ++col) {
                        std::memcpy(&leftRow[std::size_t(col)], source + std::size_t(columns[std::size_t(col)]) * 4, 4);
                        std::memcpy(&rightRow[std::size_t(col)],
                                    source + std::size_t(viewWidth + columns[std::size_t(col)]) * 4, 4);
                    }
                    scaledFrom = sourceRow;
                }
                job.left = reinterpret_cast<const uint8_t*>(leftRow.data());
                job.right = reinterpret_cast<const uint8_t*>(rightRow.data());
            }
            job.out = out.data + std::size_t(row) * out.stride;
            job.width = out.width;
            double qx, qy;
            // Physical subpixel 0 of the row: the first slot of pixel 0, whichever channel it is.
            SubpixelPosition(s, out.width, out.height, 0, row, s.bgr ? 2 : 0, qx, qy);
            job.phase = Fixed(LensPhase(s, qx, qy, first));
            job.step = step;
            job.rightPhase = Fixed(LensPhase(s, qx, qy, second));
            job.rightStep = rightStep;
            job.slope = slope;
            job.perEye = perEye;
            job.bgr = s.bgr;
            kernel(job);
        }
    });
    return true;
}

}  // namespace lens
