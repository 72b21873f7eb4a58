// Weaves a side-by-side PNG for tracked eyes, writes what each eye sees through the lens layer,
// and prints the crosstalk at the tracked position and with the eyes off by 10, 20 and 30 mm.
//
//   lens_preview INPUT.png OUT_PREFIX [--eyes "xL,yL,zL;xR,yR,zR"] [--size WIDTHxHEIGHT]
//
// Writes OUT_PREFIX-woven.png, OUT_PREFIX-left.png and OUT_PREFIX-right.png.
#include "lenssdk/lens_preview.h"
#include "lenssdk/tools/png_io.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: lens_preview INPUT.png OUT_PREFIX [--eyes \"xL,yL,zL;xR,yR,zR\"] [--size WxH]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string input = argv[1], prefix = argv[2];
    lens::EyePair eyes = lens::SimulatedEyes(0);
    int width = 3840, height = 2160;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--eyes") == 0 && i + 1 < argc) {
            const auto parsed = lens::ParseEyes(argv[++i]);
            if (!parsed) return Usage();
            eyes = *parsed;
        } else if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%dx%d", &width, &height) != 2 || width < 1 || height < 1 || width > 16384 ||
                height > 16384) {
                return Usage();
            }
        } else {
            return Usage();
        }
    }

    std::string error;
    lens::tools::RgbaImage sideBySide;
    if (!lens::tools::ReadPng(input, sideBySide, error)) {
        std::fprintf(stderr, "lens_preview: %s: %s\n", input.c_str(), error.c_str());
        return 1;
    }
    const lens::WeaveSettings settings;
    lens::tools::RgbaImage woven{width, height, std::vector<uint8_t>(std::size_t(width) * height * 4)};
    const lens::ImageView in{sideBySide.pixels.data(), sideBySide.width, sideBySide.height,
                             std::size_t(sideBySide.width) * 4};
    if (!lens::WeaveFast(settings, eyes, in, {woven.pixels.data(), width, height, std::size_t(width) * 4})) {
        std::fprintf(stderr, "lens_preview: %s is too small to weave (at least 2 x 1 pixels)\n", input.c_str());
        return 1;
    }
    const lens::ImageView wovenView{woven.pixels.data(), width, height, std::size_t(width) * 4};
    const lens::tools::RgbaImage left{width, height, lens::SeenByEye(settings, wovenView, eyes.left)};
    const lens::tools::RgbaImage right{width, height, lens::SeenByEye(settings, wovenView, eyes.right)};
    for (const auto& [suffix, image] : {std::pair<const char*, const lens::tools::RgbaImage*>{"-woven.png", &woven},
                                        {"-left.png", &left}, {"-right.png", &right}}) {
        if (!lens::tools::WritePng(prefix + suffix, *image, error)) {
            std::fprintf(stderr, "lens_preview: %s%s: %s\n", prefix.c_str(), suffix, error.c_str());
            return 1;
        }
    }

    std::printf("eyes L (%.1f, %.1f, %.1f) R (%.1f, %.1f, %.1f) mm, frame %d x %d\n", eyes.left.x, eyes.left.y,
                eyes.left.z, eyes.right.x, eyes.right.y, eyes.right.z, width, height);
    std::printf("tracking error  crosstalk left  crosstalk right\n");
    for (const double error_mm : {0.0, 10.0, 20.0, 30.0}) {
        lens::Vec3 leftEye = eyes.left, rightEye = eyes.right;
        leftEye.x += error_mm;
        rightEye.x += error_mm;
        const double l = lens::Crosstalk(settings, eyes, leftEye, lens::Eye::kLeft, width, height);
        const double r = lens::Crosstalk(settings, eyes, rightEye, lens::Eye::kRight, width, height);
        std::printf("%11.0f mm  %13.2f %%  %14.2f %%\n", error_mm, 100 * l, 100 * r);
    }
    return 0;
}
