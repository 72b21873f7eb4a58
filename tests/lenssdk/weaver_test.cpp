// The weaver through its public calls, checked against what the lens geometry must give.
#include "lenssdk/lens_preview.h"
#include "lenssdk/weaver_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

using lens::EyePair;
using lens::Vec3;
using lens::WeaveSettings;

struct Frame {
    int width, height;
    std::vector<uint8_t> pixels;
    lens::MutableImageView View() { return {pixels.data(), width, height, std::size_t(width) * 4}; }
    uint8_t At(int col, int row, int channel) const { return pixels[(std::size_t(row) * width + col) * 4 + channel]; }
};

// A side-by-side source: every left texel `left`, every right texel `right`.
struct Source {
    std::vector<uint8_t> pixels;
    int width, height;
    Source(int viewWidth, int h, const uint8_t left[4], const uint8_t right[4]) : width(2 * viewWidth), height(h) {
        pixels.resize(std::size_t(width) * height * 4);
        for (int row = 0; row < h; ++row) {
            for (int x = 0; x < width; ++x) {
                for (int c = 0; c < 4; ++c) pixels[(std::size_t(row) * width + x) * 4 + c] = (x < viewWidth ? left : right)[c];
            }
        }
    }
    lens::ImageView View() const { return {pixels.data(), width, height, std::size_t(width) * 4}; }
};

constexpr uint8_t kWhite[4] = {255, 255, 255, 255};
constexpr uint8_t kBlack[4] = {0, 0, 0, 255};

EyePair Eyes(double x, double y, double z, double depthDifference = 0) {
    return {{x - 31.5, y, z - depthDifference / 2}, {x + 31.5, y, z + depthDifference / 2}};
}

// The left share of every subpixel (white left, black right), in the output's layout.
Frame ShareMap(const WeaveSettings& settings, const EyePair& eyes, int width, int height) {
    const Source source(4, 2, kWhite, kBlack);
    Frame out{width, height, std::vector<uint8_t>(std::size_t(width) * height * 4)};
    EXPECT_TRUE(lens::WeaveFast(settings, eyes, source.View(), out.View()));
    return out;
}

TEST(LensWeaver, RedLeftBlueRightGivesHalfTheSubpixelsToEach) {
    struct Case {
        const char* name;
        EyePair eyes;
    };
    const Case cases[] = {{"centred", Eyes(0, 0, 600)},
                          {"swayed and higher", Eyes(17, 40, 600)},
                          {"near", Eyes(-10, 0, 420)},
                          {"eyes at different depths", Eyes(0, 0, 600, 30)}};
    const uint8_t red[4] = {255, 0, 0, 255}, blue[4] = {0, 0, 255, 255};
    const Source source(96, 54, red, blue);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Frame out{384, 216, std::vector<uint8_t>(384 * 216 * 4)};
        ASSERT_TRUE(lens::WeaveFast(WeaveSettings{}, c.eyes, source.View(), out.View()));
        double redLit = 0, blueLit = 0;
        for (int row = 0; row < out.height; ++row) {
            for (int col = 0; col < out.width; ++col) {
                ASSERT_EQ(out.At(col, row, 1), 0);
                ASSERT_EQ(out.At(col, row, 3), 255);
                redLit += out.At(col, row, 0) / 255.0;
                blueLit += out.At(col, row, 2) / 255.0;
            }
        }
        const double pixels = double(out.width) * out.height;
        EXPECT_NEAR(redLit / pixels, 0.5, 0.03);
        EXPECT_NEAR(blueLit / pixels, 0.5, 0.03);
    }
}

TEST(LensWeaver, HeadMovedByWholeLobesRepeatsAndByHalfLobesSwaps) {
    struct Case {
        double lobes;
        bool swapped;
    };
    const Case cases[] = {{1, false}, {-1, false}, {2, false}, {0.5, true}, {-0.5, true}, {1.5, true}};
    const WeaveSettings settings;
    const double z = 600;
    const Frame base = ShareMap(settings, Eyes(3, 0, z), 240, 90);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lobes);
        const Frame moved = ShareMap(settings, Eyes(3 + c.lobes * settings.LobeWidthMm(z), 0, z), 240, 90);
        for (int row = 0; row < base.height; ++row) {
            for (int col = 0; col < base.width; ++col) {
                for (int channel = 0; channel < 3; ++channel) {
                    const int expected = c.swapped ? 255 - base.At(col, row, channel) : base.At(col, row, channel);
                    ASSERT_LE(std::abs(moved.At(col, row, channel) - expected), 1) << col << "," << row;
                }
            }
        }
    }
}

TEST(LensWeaver, EachRowDownIsTheRowAboveShiftedByThreeSlantSubpixels) {
    struct Case {
        double slant;
        int shift;  // physical subpixels
        bool bgr;
    };
    const Case cases[] = {{1.0 / 3, 1, false}, {2.0 / 3, 2, false}, {1.0, 3, false}, {1.0 / 3, 1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.slant);
        WeaveSettings settings;
        settings.slant = c.slant;
        settings.bgr = c.bgr;
        const Frame map = ShareMap(settings, Eyes(8, 5, 600), 120, 40);
        // Left share by physical position along the row.
        const auto share = [&](int row, int k) {
            const int col = k / 3, slot = k % 3;
            return int(map.At(col, row, c.bgr ? 2 - slot : slot));
        };
        for (int row = 0; row + 1 < map.height; ++row) {
            for (int k = 0; k + c.shift < map.width * 3; ++k) {
                ASSERT_LE(std::abs(share(row + 1, k) - share(row, k + c.shift)), 1) << row << "," << k;
            }
        }
    }
}

// The row kernel sets this machine runs: the portable one always, AVX2 where the CPU has it.
std::vector<lens::WeaveKernels> KernelSets() {
    std::vector<lens::WeaveKernels> sets{lens::WeaveKernels::kBaseline};
    if (lens::CpuRunsAvx2Weave()) sets.push_back(lens::WeaveKernels::kAvx2);
    return sets;
}

const char* Name(lens::WeaveKernels set) { return set == lens::WeaveKernels::kAvx2 ? "AVX2 kernels" : "baseline kernels"; }

// Puts the best kernels back when a test is done with a set.
struct KernelsInUse {
    explicit KernelsInUse(lens::WeaveKernels set) { EXPECT_TRUE(lens::UseWeaveKernels(set)); }
    ~KernelsInUse() { lens::UseWeaveKernels(lens::WeaveKernels::kBest); }
};

TEST(LensWeaver, FastPathMatchesTheDoubleReferenceOnAFullFrame) {
    struct Case {
        const char* name;
        EyePair eyes;
        bool bgr;
        int viewWidth, viewHeight;
        double blendBand;
        int width, height;
    };
    const Case cases[] = {
        {"centred, half-width views", Eyes(0, 0, 600), false, 1920, 2160, 0.04, 3840, 2160},
        {"swayed, full-width views, BGR", Eyes(-23.7, 12.5, 555), true, 3840, 2160, 0.04, 3840, 2160},
        {"eyes at different depths, small views", Eyes(9, -4, 640, 25), false, 640, 360, 0.04, 3840, 2160},
        {"eyes at different depths, half-width views, BGR", Eyes(-12, 7, 610, 20), true, 960, 1080, 0.04, 1920, 1080},
        {"narrow band, half-width views", Eyes(4, 3, 590), false, 960, 1080, 1.0 / 128, 1920, 1080},
        {"wide band, full-width views", Eyes(-4, 0, 620), false, 1920, 1080, 0.3, 1920, 1080},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WeaveSettings settings;
        settings.bgr = c.bgr;
        settings.blendBand = c.blendBand;
        Source source(c.viewWidth, c.viewHeight, kWhite, kBlack);
        for (std::size_t i = 0; i < source.pixels.size(); ++i) source.pixels[i] = uint8_t((i * 2654435761u) >> 13);
        Frame reference{c.width, c.height, std::vector<uint8_t>(std::size_t(c.width) * c.height * 4)};
        ASSERT_TRUE(lens::WeaveReference(settings, c.eyes, source.View(), reference.View()));
        for (const lens::WeaveKernels set : KernelSets()) {
            SCOPED_TRACE(Name(set));
            const KernelsInUse use(set);
            Frame fast{c.width, c.height, std::vector<uint8_t>(reference.pixels.size())};
            ASSERT_TRUE(lens::WeaveFast(settings, c.eyes, source.View(), fast.View()));
            int worst = 0;
            for (std::size_t i = 0; i < fast.pixels.size(); ++i) worst = std::max(worst, std::abs(fast.pixels[i] - reference.pixels[i]));
            EXPECT_LE(worst, 1);
        }
    }
}

TEST(LensWeaver, Avx2KernelsGiveTheBaselineBytes) {
    if (!lens::CpuRunsAvx2Weave()) GTEST_SKIP() << "no AVX2 kernels on this CPU or build";
    struct Case {
        const char* name;
        EyePair eyes;
        bool bgr;
        double blendBand;
        int viewWidth, viewHeight, width, height;
    };
    const Case cases[] = {
        {"half-width views, odd tail", Eyes(3, 1, 600), false, 0.04, 101, 37, 202, 37},
        {"half-width views, BGR, per eye", Eyes(-30, 20, 500, 40), true, 0.04, 93, 40, 186, 40},
        {"same width, odd width", Eyes(10, -5, 700), false, 0.04, 131, 20, 131, 20},
        {"same width, per eye, BGR", Eyes(0, 0, 640, 12), true, 0.02, 250, 16, 250, 16},
        {"scaled up three times", Eyes(-7, 0, 580), false, 0.04, 41, 15, 123, 45},
        {"hard edge (band 0)", Eyes(1, 2, 600), false, 0.0, 160, 9, 320, 9},
        {"band wider than the pitch", Eyes(1, 2, 600), true, 2.0, 160, 9, 320, 9},
        {"narrower than eight pixels", Eyes(0, 0, 600), false, 0.04, 3, 4, 7, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WeaveSettings settings;
        settings.bgr = c.bgr;
        settings.blendBand = c.blendBand;
        settings.panelWidthPixels = c.width;
        Source source(c.viewWidth, c.viewHeight, kWhite, kBlack);
        for (std::size_t i = 0; i < source.pixels.size(); ++i) source.pixels[i] = uint8_t((i * 2246822519u) >> 9);
        Frame frames[2];
        const lens::WeaveKernels sets[2] = {lens::WeaveKernels::kBaseline, lens::WeaveKernels::kAvx2};
        for (int i = 0; i < 2; ++i) {
            const KernelsInUse use(sets[i]);
            frames[i] = {c.width, c.height, std::vector<uint8_t>(std::size_t(c.width) * c.height * 4, 7)};
            ASSERT_TRUE(lens::WeaveFast(settings, c.eyes, source.View(), frames[i].View()));
        }
        for (std::size_t i = 0; i < frames[0].pixels.size(); ++i) {
            ASSERT_EQ(frames[0].pixels[i], frames[1].pixels[i]) << "byte " << i;
        }
    }
}

TEST(LensWeaver, SimulatedViewerSeesItsOwnViewAtTheTrackedPosition) {
    struct Case {
        const char* name;
        EyePair eyes;
    };
    const Case cases[] = {{"centred", Eyes(0, 0, 600)},
                          {"swayed right", Eyes(20, 0, 600)},
                          {"swayed left and low", Eyes(-20, -60, 600)},
                          {"a little nearer", Eyes(5, 0, 560)},
                          {"a little farther", Eyes(-5, 0, 650)}};
    const WeaveSettings settings;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_LT(lens::Crosstalk(settings, c.eyes, c.eyes.left, lens::Eye::kLeft, 480, 270), 0.02);
        EXPECT_LT(lens::Crosstalk(settings, c.eyes, c.eyes.right, lens::Eye::kRight, 480, 270), 0.02);
        // The viewer tells the views apart: each eye sees almost only the other eye's view.
        EXPECT_GT(lens::Crosstalk(settings, c.eyes, c.eyes.left, lens::Eye::kRight, 480, 270), 0.9);
    }
}

TEST(LensWeaver, UnusableInputsHaveDefinedAnswers) {
    const Source source(4, 4, kWhite, kBlack);
    std::vector<uint8_t> pixels(16 * 16 * 4, 7);
    const lens::MutableImageView out{pixels.data(), 16, 16, 64};
    struct Case {
        const char* name;
        lens::ImageView in;
        lens::MutableImageView out;
        bool woven;
    };
    const Case cases[] = {{"fine", source.View(), out, true},
                          {"no source", {nullptr, 8, 4, 32}, out, false},
                          {"source one pixel wide", {source.pixels.data(), 1, 4, 32}, out, false},
                          {"short stride", {source.pixels.data(), 8, 4, 16}, out, false},
                          {"empty output", source.View(), {pixels.data(), 0, 16, 64}, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::fill(pixels.begin(), pixels.end(), uint8_t(7));
        EXPECT_EQ(lens::WeaveFast(WeaveSettings{}, Eyes(0, 0, 600), c.in, c.out), c.woven);
        EXPECT_EQ(lens::WeaveReference(WeaveSettings{}, Eyes(0, 0, 600), c.in, c.out), c.woven);
        if (!c.woven) {
            EXPECT_EQ(pixels[0], 7);
        }
    }
    // Eyes that are not numbers weave as the viewer at rest; eyes behind the panel as near ones.
    const double nan = std::nan("");
    EXPECT_EQ(lens::UsableEyes({{nan, 0, 600}, {0, 0, 600}}), lens::SimulatedEyes(0));
    EXPECT_EQ(lens::UsableEyes(Eyes(0, 0, -5)).left.z, lens::kNearestEyeDistanceMm);
}

}  // namespace
