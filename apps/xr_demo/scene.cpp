#include "scene.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace xr_demo {

namespace {
struct Vec3 {
    float x, y, z;
};

Vec3 Rotate(const XrQuaternionf& q, const Vec3& v) {
    // v' = q v q*, written out.
    const Vec3 u {q.x, q.y, q.z};
    const float s = q.w;
    const float dotUV = u.x * v.x + u.y * v.y + u.z * v.z;
    const float dotUU = u.x * u.x + u.y * u.y + u.z * u.z;
    const Vec3 cross {u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
    return {2 * dotUV * u.x + (s * s - dotUU) * v.x + 2 * s * cross.x,
            2 * dotUV * u.y + (s * s - dotUU) * v.y + 2 * s * cross.y,
            2 * dotUV * u.z + (s * s - dotUU) * v.z + 2 * s * cross.z};
}

// A point of the scene in the eye's image, or false when it is behind the eye.
bool Project(const XrPosef& eye, const XrFovf& fov, const Vec3& world, uint32_t width, uint32_t height, float* px,
             float* py, float* depth) {
    const Vec3 relative {world.x - eye.position.x, world.y - eye.position.y, world.z - eye.position.z};
    const XrQuaternionf inverse {-eye.orientation.x, -eye.orientation.y, -eye.orientation.z, eye.orientation.w};
    const Vec3 local = Rotate(inverse, relative);
    if (local.z >= -0.01f) return false;  // OpenXR looks down -Z
    const float tanLeft = std::tan(fov.angleLeft), tanRight = std::tan(fov.angleRight);
    const float tanUp = std::tan(fov.angleUp), tanDown = std::tan(fov.angleDown);
    const float x = local.x / -local.z, y = local.y / -local.z;
    *px = (x - tanLeft) / (tanRight - tanLeft) * static_cast<float>(width);
    *py = (tanUp - y) / (tanUp - tanDown) * static_cast<float>(height);
    *depth = -local.z;
    return true;
}

struct Box {
    Vec3 center;
    float halfSize;
    uint8_t r, g, b;
};

// The first row of [x0, x1) × [y0, y1) is filled pixel by pixel, the others copied from it.
void Fill(EyeImage* image, int x0, int y0, int x1, int y1, uint8_t r, uint8_t g, uint8_t b) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min<int>(x1, static_cast<int>(image->width));
    y1 = std::min<int>(y1, static_cast<int>(image->height));
    if (x0 >= x1 || y0 >= y1) return;
    const size_t rowBytes = static_cast<size_t>(image->width) * 4;
    uint8_t* first = image->rgba.data() + static_cast<size_t>(y0) * rowBytes + static_cast<size_t>(x0) * 4;
    const uint8_t pixel[4] = {r, g, b, 255};
    for (int x = x0; x < x1; ++x) std::memcpy(first + static_cast<size_t>(x - x0) * 4, pixel, 4);
    const size_t spanBytes = static_cast<size_t>(x1 - x0) * 4;
    for (int y = y0 + 1; y < y1; ++y) std::memcpy(first + static_cast<size_t>(y - y0) * rowBytes, first, spanBytes);
}
}  // namespace

void RenderEye(const XrPosef& eye, const XrFovf& fov, uint32_t frame, EyeImage* image) {
    // Every pixel is drawn below, so the image is only sized here, not cleared.
    image->rgba.resize(static_cast<size_t>(image->width) * image->height * 4);
    // Sky to horizon gradient: the depth cue of the background.
    for (uint32_t y = 0; y < image->height; ++y) {
        const auto shade = static_cast<uint8_t>(40 + 120 * y / std::max<uint32_t>(1, image->height));
        Fill(image, 0, static_cast<int>(y), static_cast<int>(image->width), static_cast<int>(y + 1), 20, 30, shade);
    }
    // Boxes from far to near, so nearer ones cover farther ones; near boxes shift more
    // between the eyes than far ones.
    const float sway = 0.1f * std::sin(static_cast<float>(frame) * 0.05f);
    const Box boxes[] = {
        {{-0.6f, 0.0f, -3.0f}, 0.25f, 200, 60, 60},
        {{0.5f, 0.1f, -2.0f}, 0.2f, 60, 200, 60},
        {{sway, -0.1f, -1.0f}, 0.12f, 240, 220, 60},
    };
    for (const Box& box : boxes) {
        float x0, y0, x1, y1, depth;
        if (!Project(eye, fov, {box.center.x - box.halfSize, box.center.y + box.halfSize, box.center.z}, image->width,
                     image->height, &x0, &y0, &depth) ||
            !Project(eye, fov, {box.center.x + box.halfSize, box.center.y - box.halfSize, box.center.z}, image->width,
                     image->height, &x1, &y1, &depth)) {
            continue;
        }
        // Farther boxes are darker.
        const float light = std::clamp(1.6f / depth, 0.3f, 1.0f);
        Fill(image, static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1), static_cast<int>(y1),
             static_cast<uint8_t>(box.r * light), static_cast<uint8_t>(box.g * light), static_cast<uint8_t>(box.b * light));
    }
}

}  // namespace xr_demo
