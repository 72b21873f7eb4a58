// Weaving one 3840 x 2160 frame on the fast path from a 3840 x 2160 side-by-side image (two
// 1920-wide views, what the compositor's stage holds), and from two full-width views, set
// beside a memcpy of the output's bytes in the same run: with the kernels the CPU runs best
// (AVX2 here, the figure that counts), with the portable ones, and for eyes at different
// depths (two phases). Also prints the crosstalk each eye sees at the tracked position and
// with tracking errors, from the ray-traced lens model.
//
//   weave_frame [--frames N]
#include "lenssdk/lens_preview.h"
#include "lenssdk/weaver_math.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 3840;
constexpr int kHeight = 2160;

// Best of `frames` runs, in milliseconds: the least disturbed by the rest of the machine.
double BestMs(int frames, const std::function<void()>& run) {
    double best = 1e300;
    for (int i = 0; i < frames; ++i) {
        const auto start = Clock::now();
        run();
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    int frames = 20;
    if (argc == 3 && std::strcmp(argv[1], "--frames") == 0) frames = std::max(1, std::atoi(argv[2]));

    const lens::WeaveSettings settings;
    const lens::EyePair eyes = lens::SimulatedEyes(1.3);
    std::vector<uint8_t> out(std::size_t(kWidth) * kHeight * 4), copy(out.size());
    const lens::MutableImageView outView{out.data(), kWidth, kHeight, std::size_t(kWidth) * 4};

    std::printf("weave of a %d x %d frame, best of %d (memcpy of the same %.1f MB beside it)\n", kWidth, kHeight,
                frames, out.size() / 1e6);
    lens::EyePair atDepths = eyes;
    atDepths.left.z -= 15;
    atDepths.right.z += 15;
    struct Run {
        const char* name;
        lens::WeaveKernels kernels;
        const lens::EyePair* eyes;
    };
    const Run runs[] = {{lens::CpuRunsAvx2Weave() ? "AVX2" : "portable (no AVX2)", lens::WeaveKernels::kBest, &eyes},
                        {"portable", lens::WeaveKernels::kBaseline, &eyes},
                        {"AVX2, eyes at depths 30 mm apart", lens::WeaveKernels::kAvx2, &atDepths}};
    for (const int viewWidth : {kWidth / 2, kWidth}) {
        std::vector<uint8_t> source(std::size_t(2 * viewWidth) * kHeight * 4);
        for (std::size_t i = 0; i < source.size(); ++i) source[i] = uint8_t((i * 2654435761u) >> 11);
        const lens::ImageView in{source.data(), 2 * viewWidth, kHeight, std::size_t(2 * viewWidth) * 4};
        std::printf("  views %4d x %d%s\n", viewWidth, kHeight, viewWidth * 2 == kWidth ? " (the compositor's stage)" : "");
        for (const Run& run : runs) {
            if (!lens::UseWeaveKernels(run.kernels)) continue;
            // The memcpy again beside each weave: the machine's mood moves both alike.
            const double memcpyMs = BestMs(frames, [&] { std::memcpy(copy.data(), out.data(), out.size()); });
            const double weaveMs = BestMs(frames, [&] { lens::WeaveFast(settings, *run.eyes, in, outView); });
            std::printf("    %-34s weave %7.2f ms  memcpy %6.2f ms  ratio %.2f\n", run.name, weaveMs, memcpyMs,
                        weaveMs / memcpyMs);
        }
        lens::UseWeaveKernels(lens::WeaveKernels::kBest);
    }

    std::printf("crosstalk (share of light from the wrong view), eyes at z = %.0f mm\n", eyes.left.z);
    for (const double error : {0.0, 10.0, 20.0, 30.0}) {
        lens::Vec3 left = eyes.left, right = eyes.right;
        left.x += error;
        right.x += error;
        std::printf("  tracking error %2.0f mm: left %6.2f %%  right %6.2f %%\n", error,
                    100 * lens::Crosstalk(settings, eyes, left, lens::Eye::kLeft, kWidth, kHeight),
                    100 * lens::Crosstalk(settings, eyes, right, lens::Eye::kRight, kWidth, kHeight));
    }
    return 0;
}
