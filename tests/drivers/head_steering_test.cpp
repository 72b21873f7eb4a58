// The keyboard-steering maths of the simulated head.
#include "drivers/basic/head_steering.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace qor::basic {
namespace {

constexpr float kTolerance = 1e-5f;

void ExpectQuaternion(const XrQuaternionf& q, float x, float y, float z, float w) {
    EXPECT_NEAR(q.x, x, kTolerance);
    EXPECT_NEAR(q.y, y, kTolerance);
    EXPECT_NEAR(q.z, z, kTolerance);
    EXPECT_NEAR(q.w, w, kTolerance);
}

float HalfSin(float degrees) { return static_cast<float>(std::sin(degrees * std::numbers::pi / 360.0)); }
float HalfCos(float degrees) { return static_cast<float>(std::cos(degrees * std::numbers::pi / 360.0)); }

TEST(HeadSteering, LeftArrow361TimesWrapsTheYawToOneDegree) {
    HeadState head = InitialHeadState();
    for (int i = 0; i < 360; ++i) SteerByArrow(head, ArrowKey::Left);
    EXPECT_EQ(head.yawDegrees, 360.0f);  // reaching 360 is not passing it
    SteerByArrow(head, ArrowKey::Left);
    EXPECT_EQ(head.yawDegrees, 1.0f);
    EXPECT_EQ(head.pitchDegrees, 0.0f);
    ExpectQuaternion(head.pose.orientation, 0.0f, HalfSin(1.0f), 0.0f, HalfCos(1.0f));
    // Steering turns the head only.
    EXPECT_EQ(head.pose.position.x, 0.0f);
    EXPECT_EQ(head.pose.position.z, 1.0f);
}

TEST(HeadSteering, OtherArrowsWrapTheSameWayInTheirDirection) {
    HeadState head = InitialHeadState();
    for (int i = 0; i < 361; ++i) SteerByArrow(head, ArrowKey::Right);
    EXPECT_EQ(head.yawDegrees, -1.0f);
    ExpectQuaternion(head.pose.orientation, 0.0f, -HalfSin(1.0f), 0.0f, HalfCos(1.0f));

    head = InitialHeadState();
    for (int i = 0; i < 361; ++i) SteerByArrow(head, ArrowKey::Down);
    EXPECT_EQ(head.pitchDegrees, -1.0f);
    ExpectQuaternion(head.pose.orientation, -HalfSin(1.0f), 0.0f, 0.0f, HalfCos(1.0f));

    for (int i = 0; i < 3; ++i) SteerByArrow(head, ArrowKey::Up);
    EXPECT_EQ(head.pitchDegrees, 2.0f);
    ExpectQuaternion(head.pose.orientation, HalfSin(2.0f), 0.0f, 0.0f, HalfCos(2.0f));
}

TEST(HeadSteering, OrientationIsPitchTimesYaw) {
    HeadState head = InitialHeadState();
    for (int i = 0; i < 90; ++i) SteerByArrow(head, ArrowKey::Left);
    for (int i = 0; i < 90; ++i) SteerByArrow(head, ArrowKey::Up);
    // P * Y for 90 degrees each; Y * P would give a negative z.
    ExpectQuaternion(head.pose.orientation, 0.5f, 0.5f, 0.5f, 0.5f);
}

TEST(HeadSteering, CharactersMoveTheHeadAndResetRestoresEverything) {
    HeadState head = InitialHeadState();
    for (char c : {'a', 'A', 'd', 'W', 'w', 's'}) EXPECT_TRUE(SteerByCharacter(head, c)) << c;
    EXPECT_NEAR(head.pose.position.x, -0.1f, kTolerance);
    EXPECT_EQ(head.pose.position.y, 0.0f);
    EXPECT_NEAR(head.pose.position.z, 0.9f, kTolerance);
    for (char other : {'x', 'q', ' ', '1'}) EXPECT_FALSE(SteerByCharacter(head, other)) << other;
    EXPECT_NEAR(head.pose.position.x, -0.1f, kTolerance);

    for (int i = 0; i < 30; ++i) SteerByArrow(head, ArrowKey::Left);
    SteerByArrow(head, ArrowKey::Up);
    EXPECT_TRUE(SteerByCharacter(head, 'O'));
    EXPECT_EQ(head.yawDegrees, 0.0f);
    EXPECT_EQ(head.pitchDegrees, 0.0f);
    ExpectQuaternion(head.pose.orientation, 0.0f, 0.0f, 0.0f, 1.0f);
    EXPECT_EQ(head.pose.position.x, 0.0f);
    EXPECT_EQ(head.pose.position.z, 1.0f);
    // The yaw counts from zero again.
    SteerByArrow(head, ArrowKey::Left);
    EXPECT_EQ(head.yawDegrees, 1.0f);
}

}  // namespace
}  // namespace qor::basic
