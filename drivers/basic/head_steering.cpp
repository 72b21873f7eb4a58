#include "drivers/basic/head_steering.h"

#include <cmath>
#include <numbers>

namespace qor::basic {

namespace {

constexpr float kStepDegrees = 1.0f;
constexpr float kStepMetres = 0.1f;

float Wrap(float degrees) {
    if (degrees > 360.0f) return degrees - 360.0f;
    if (degrees < -360.0f) return degrees + 360.0f;
    return degrees;
}

XrQuaternionf AxisAngle(float x, float y, float z, float degrees) {
    const double half = static_cast<double>(degrees) * std::numbers::pi / 180.0 / 2.0;
    const auto s = static_cast<float>(std::sin(half));
    return XrQuaternionf {x * s, y * s, z * s, static_cast<float>(std::cos(half))};
}

XrVector3f Cross(const XrVector3f& a, const XrVector3f& b) {
    return XrVector3f {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

}  // namespace

HeadState InitialHeadState() {
    return HeadState {XrPosef {{0.0f, 0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 1.0f}}, 0.0f, 0.0f};
}

XrQuaternionf Multiply(const XrQuaternionf& a, const XrQuaternionf& b) {
    return XrQuaternionf {
        a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
        a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
        a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w,
        a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z,
    };
}

XrQuaternionf OrientationFromAngles(float yawDegrees, float pitchDegrees) {
    return Multiply(AxisAngle(1.0f, 0.0f, 0.0f, pitchDegrees), AxisAngle(0.0f, 1.0f, 0.0f, yawDegrees));
}

XrVector3f Rotate(const XrQuaternionf& q, const XrVector3f& v) {
    // v + 2w(q x v) + 2 q x (q x v)
    const XrVector3f axis {q.x, q.y, q.z};
    const XrVector3f t = Cross(axis, v);
    const XrVector3f u = Cross(axis, t);
    return XrVector3f {v.x + 2.0f * (q.w * t.x + u.x), v.y + 2.0f * (q.w * t.y + u.y),
                       v.z + 2.0f * (q.w * t.z + u.z)};
}

void SteerByArrow(HeadState& head, ArrowKey key) {
    switch (key) {
        case ArrowKey::Left: head.yawDegrees = Wrap(head.yawDegrees + kStepDegrees); break;
        case ArrowKey::Right: head.yawDegrees = Wrap(head.yawDegrees - kStepDegrees); break;
        case ArrowKey::Up: head.pitchDegrees = Wrap(head.pitchDegrees + kStepDegrees); break;
        case ArrowKey::Down: head.pitchDegrees = Wrap(head.pitchDegrees - kStepDegrees); break;
    }
    head.pose.orientation = OrientationFromAngles(head.yawDegrees, head.pitchDegrees);
}

bool SteerByCharacter(HeadState& head, char character) {
    switch (character) {
        case 'A': case 'a': head.pose.position.x -= kStepMetres; return true;
        case 'D': case 'd': head.pose.position.x += kStepMetres; return true;
        case 'W': case 'w': head.pose.position.z -= kStepMetres; return true;
        case 'S': case 's': head.pose.position.z += kStepMetres; return true;
        case 'O': case 'o': head = InitialHeadState(); return true;
        default: return false;
    }
}

XrPosef EyePose(const XrPosef& head, float eyeOffsetX) {
    const XrVector3f eye {head.position.x + eyeOffsetX, head.position.y, head.position.z};
    return XrPosef {head.orientation, Rotate(head.orientation, eye)};
}

}  // namespace qor::basic
