#include "drivers/lentic/view_math.h"

#include <cmath>
#include <numbers>

namespace qor::lentic {

namespace {

constexpr double kPi = std::numbers::pi;

// The angle in radians of `degrees`, the product with π taken in double precision.
float Radians(float degrees) { return static_cast<float>(static_cast<double>(degrees / 180.0f) * kPi); }

// (axis·sin(angle/2), cos(angle/2)).
XrQuaternionf AxisRotation(float x, float y, float z, float angle) {
    const float s = std::sin(angle * 0.5f);
    return XrQuaternionf {x * s, y * s, z * s, std::cos(angle * 0.5f)};
}

// a ⊗ b: b applied first, then a.
XrQuaternionf Multiply(const XrQuaternionf& a, const XrQuaternionf& b) {
    return XrQuaternionf {
        a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
        a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
        a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w,
        a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z,
    };
}

}  // namespace

XrFovf FixedFov(const LenticSettings& settings) {
    const float h = settings.hfov * 0.5f;
    const float v = h * 0.0625f * 9.0f;
    return XrFovf {Radians(-h), Radians(h), Radians(v), Radians(-v)};
}

XrFovf TrackedFov(const winpipe::EyePosition& eye, const LenticSettings& settings) {
    const float d = eye.z / settings.fovScale;
    // Sums in double, rounded to float before the division; atan in single precision.
    const auto edge = [](double sum) { return static_cast<float>(sum); };
    const float left = edge(static_cast<double>(eye.x) + kPanelHalfWidthMm);
    const float right = edge(kPanelHalfWidthMm - static_cast<double>(eye.x));
    const float up = edge(kPanelHalfHeightMm - static_cast<double>(eye.y));
    const float down = edge(static_cast<double>(eye.y) + kPanelHalfHeightMm);
    return XrFovf {-std::atan(left / d), std::atan(right / d), std::atan(up / d), -std::atan(down / d)};
}

XrQuaternionf ViewOrientation(const winpipe::EyePair& eyes, const LenticSettings& settings) {
    XrQuaternionf orientation {0.0f, 0.0f, 0.0f, 1.0f};
    const float s = eyes.left.z + eyes.right.z;
    // The tracked frustum is off-axis already; only the fixed one turns towards the viewer.
    if (!settings.fixFovMode || !(s > 0.0f)) return orientation;
    if (settings.enableYaw) {
        const float yaw = std::atan((eyes.left.x + eyes.right.x) / s);
        orientation = Multiply(AxisRotation(0.0f, 1.0f, 0.0f, yaw), orientation);
    }
    if (settings.enablePitch) {
        const float pitch = std::atan((eyes.left.y + eyes.right.y) / s);
        orientation = Multiply(AxisRotation(1.0f, 0.0f, 0.0f, -pitch), orientation);
    }
    return orientation;
}

XrVector3f ViewPosition(const winpipe::EyePosition& eye, const LenticSettings& settings) {
    return XrVector3f {eye.x / 1000.0f, eye.y / 1000.0f + settings.heightOffset, eye.z / 1000.0f};
}

void FillViews(const winpipe::EyePair& eyes, const LenticSettings& settings, XrView* views) {
    const XrQuaternionf orientation = ViewOrientation(eyes, settings);
    const winpipe::EyePosition* const eye[2] = {&eyes.left, &eyes.right};
    for (int i = 0; i < 2; ++i) {
        views[i].pose.orientation = orientation;
        views[i].pose.position = ViewPosition(*eye[i], settings);
        views[i].fov = settings.fixFovMode ? FixedFov(settings) : TrackedFov(*eye[i], settings);
    }
}

}  // namespace qor::lentic
