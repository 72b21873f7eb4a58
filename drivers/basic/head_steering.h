// The simulated head of the basic driver: keyboard steering and the eye poses derived from it.
// Pure functions; the display device applies them under its head-pose mutex, and its window
// procedure feeds them the arrow keys and characters.
#pragma once

#include <openxr/openxr.h>

namespace qor::basic {

struct HeadState {
    XrPosef pose;
    float yawDegrees;    // about (0, 1, 0)
    float pitchDegrees;  // about (1, 0, 0)
};

// Orientation (0, 0, 0, 1), position (0, 0, 1.0), yaw and pitch 0.
HeadState InitialHeadState();

enum class ArrowKey { Left, Right, Up, Down };

// Left/right: yaw +/-1 degree; up/down: pitch +/-1 degree. An angle that passes +/-360 wraps
// by 360. The orientation is then recomputed from yaw and pitch.
void SteerByArrow(HeadState& head, ArrowKey key);

// "A"/"D" move x by -/+0.1, "W"/"S" move z by -/+0.1 (either case); "O" resets the head.
// False for any other character (the head is unchanged).
bool SteerByCharacter(HeadState& head, char character);

// Hamilton product a * b.
XrQuaternionf Multiply(const XrQuaternionf& a, const XrQuaternionf& b);
// P * Y: Y rotates by the yaw about (0, 1, 0), P by the pitch about (1, 0, 0).
XrQuaternionf OrientationFromAngles(float yawDegrees, float pitchDegrees);
// v rotated by the unit quaternion q.
XrVector3f Rotate(const XrQuaternionf& q, const XrVector3f& v);

// One eye's pose: the head orientation, and the position (head x + eyeOffsetX, head y, head z)
// rotated as a whole by that orientation (no translation afterwards).
XrPosef EyePose(const XrPosef& head, float eyeOffsetX);

}  // namespace qor::basic
