#include "lenssdk/lens_preview.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace lens {

namespace {

struct Point {
    double x, y, z;
};

// Where the straight line from a to b meets the plane z = planeZ.
Point MeetPlane(const Point& a, const Point& b, double planeZ) {
    const double t = (planeZ - a.z) / (b.z - a.z);
    return {a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), planeZ};
}

}  // namespace

double RayLensOffset(const WeaveSettings& s, double qx, double qy, const Vec3& eye) {
    const Point crossing = MeetPlane({eye.x, eye.y, eye.z}, {qx, qy, 0}, s.gapMm);
    // Lens centre lines run along the slant: x - s*y = x0 + n * pitch.
    const double across = (crossing.x - s.slant * crossing.y - s.offsetMm) / s.LensPitchMm();
    return across - std::round(across);
}

double SubpixelSpan(const WeaveSettings& s, const Vec3& eye) {
    const Point a = MeetPlane({eye.x, eye.y, eye.z}, {0, 0, 0}, s.gapMm);
    const Point b = MeetPlane({eye.x, eye.y, eye.z}, {s.SubpixelWidthMm(), 0, 0}, s.gapMm);
    return (b.x - a.x) / s.LensPitchMm();
}

double Visibility(const WeaveSettings& s, double qx, double qy, const Vec3& eye) {
    const double span = SubpixelSpan(s, eye);
    return std::max(0.0, 1.0 - std::fabs(RayLensOffset(s, qx, qy, eye)) / span);
}

std::vector<uint8_t> SeenByEye(const WeaveSettings& s, const ImageView& woven, const Vec3& eye) {
    if (woven.data == nullptr || woven.width < 1 || woven.height < 1 || woven.stride < std::size_t(woven.width) * 4) {
        return {};
    }
    const int w = woven.width, h = woven.height;
    // What the eye sees of each subpixel, and how far its ray passes from a lens centre, for
    // the three rows around the one being drawn: a whole frame of them would take 200 MB at 4K.
    struct RowLight {
        std::vector<float> seen, offset;
    };
    RowLight rows[3];
    for (RowLight& row : rows) {
        row.seen.resize(std::size_t(w) * 3);
        row.offset.resize(std::size_t(w) * 3);
    }
    const auto fill = [&](int row) {
        RowLight& light = rows[row % 3];
        for (int col = 0; col < w; ++col) {
            for (int c = 0; c < 3; ++c) {
                double qx, qy;
                SubpixelPosition(s, w, h, col, row, c, qx, qy);
                light.seen[std::size_t(col) * 3 + c] = float(Visibility(s, qx, qy, eye));
                light.offset[std::size_t(col) * 3 + c] = float(std::fabs(RayLensOffset(s, qx, qy, eye)));
            }
        }
    };
    fill(0);
    // A lens spans a couple of same-colour subpixels across and the slant moves the phase per
    // row, so a small neighbourhood always holds one the eye sees.
    const int reach = int(std::ceil(s.lensPitchSubpixels / 3.0));
    std::vector<uint8_t> image(std::size_t(w) * h * 4);
    for (int row = 0; row < h; ++row) {
        if (row + 1 < h) fill(row + 1);
        for (int col = 0; col < w; ++col) {
            for (int c = 0; c < 3; ++c) {
                double sum = 0, total = 0, nearestOffset = 2;
                uint8_t nearest = 0;
                for (int r = std::max(0, row - 1); r <= std::min(h - 1, row + 1); ++r) {
                    const RowLight& light = rows[r % 3];
                    for (int x = std::max(0, col - reach); x <= std::min(w - 1, col + reach); ++x) {
                        const std::size_t i = std::size_t(x) * 3 + c;
                        const uint8_t value = woven.data[std::size_t(r) * woven.stride + std::size_t(x) * 4 + c];
                        sum += light.seen[i] * value;
                        total += light.seen[i];
                        if (light.offset[i] < nearestOffset) {
                            nearestOffset = light.offset[i];
                            nearest = value;
                        }
                    }
                }
                image[(std::size_t(row) * w + col) * 4 + c] = total > 0 ? uint8_t(std::lround(sum / total)) : nearest;
            }
            image[(std::size_t(row) * w + col) * 4 + 3] = 255;
        }
    }
    return image;
}

double Crosstalk(const WeaveSettings& s, const EyePair& tracked, const Vec3& eye, Eye which, int width, int height) {
    if (width < 1 || height < 1) return 0;
    // One source row, white left and black right, scaled over the whole frame by the weaver.
    std::vector<uint8_t> source(2 * 4, 0);
    std::fill(source.begin(), source.begin() + 4, uint8_t(255));
    std::vector<uint8_t> woven(std::size_t(width) * height * 4);
    if (!WeaveFast(s, tracked, {source.data(), 2, 1, 8}, {woven.data(), width, height, std::size_t(width) * 4})) {
        return 0;
    }
    double wrong = 0, total = 0;
    for (int row = 0; row < height; ++row) {
        for (int col = 0; col < width; ++col) {
            for (int c = 0; c < 3; ++c) {
                double qx, qy;
                SubpixelPosition(s, width, height, col, row, c, qx, qy);
                const double seen = Visibility(s, qx, qy, eye);
                if (seen <= 0) continue;
                const double leftShare = woven[(std::size_t(row) * width + col) * 4 + c] / 255.0;
                wrong += seen * (which == Eye::kLeft ? 1 - leftShare : leftShare);
                total += seen;
            }
        }
    }
    return total > 0 ? wrong / total : 0;
}

}  // namespace lens
