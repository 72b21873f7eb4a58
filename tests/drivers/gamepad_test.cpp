// The gamepad device through the provider: a played pad state goes in, PollFrame runs, and
// the fake host shows what the gamepad components received and the pad what it was told.
#include "drivers/basic/server_driver.h"
#include "tests/drivers/fake_gamepad.h"
#include "tests/drivers/fake_host.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qor {
namespace {

using basic::GamepadState;
using test::PathHash;
using test::UpdateKind;

const std::string kPad = "/user/gamepad/input/";

// One gamepad update as the test reads it.
struct Sent {
    std::string component;  // path under "/user/gamepad/input/"
    UpdateKind kind;
    float value;
    bool operator==(const Sent&) const = default;
};

void PrintTo(const Sent& sent, std::ostream* out) {
    *out << sent.component << (sent.kind == UpdateKind::Boolean ? " bool " : " scalar ") << sent.value;
}

class BasicDriverGamepad : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(provider_.Initialize(host_.Context()), 0); }

    // Plays `state` (nothing: unplugged) and polls once; the gamepad updates that poll made.
    std::vector<Sent> Poll(std::optional<GamepadState> state) {
        pad_.state = state;
        host_.updates.clear();
        provider_.PollFrame();
        std::vector<Sent> sent;
        for (const test::UpdateCall& update : host_.updates) {
            for (const basic::ComponentBinding& binding : CSampleGamePadDriver::kBindings) {
                const std::string path = binding.path;
                if (update.handle != PathHash(path) || path.rfind(kPad, 0) != 0) continue;
                const float value = update.kind == UpdateKind::Boolean ? (update.boolean ? 1.0f : 0.0f) : update.scalar;
                sent.push_back(Sent {path.substr(kPad.size()), update.kind, value});
            }
        }
        return sent;
    }

    static GamepadState Buttons(uint16_t buttons) {
        GamepadState state;
        state.buttons = buttons;
        return state;
    }

    test::TempEnvironment env_;
    test::FakeHost host_;
    test::FakePad pad_;
    CServerDriver_Sample provider_ {pad_.Factory()};
};

Sent Press(const std::string& component, bool down) { return {component, UpdateKind::Boolean, down ? 1.0f : 0.0f}; }
Sent Scalar(const std::string& component, float value) { return {component, UpdateKind::Scalar, value}; }

// ---- buttons ----

TEST_F(BasicDriverGamepad, EachButtonReportsItsClickOnPressAndOnRelease) {
    const std::vector<std::pair<uint16_t, std::string>> table = {
        {0x0010, "menu/click"},          {0x0020, "view/click"},           {0x1000, "a/click"},
        {0x2000, "b/click"},             {0x4000, "x/click"},              {0x8000, "y/click"},
        {0x0001, "dpad_up/click"},       {0x0002, "dpad_down/click"},      {0x0004, "dpad_left/click"},
        {0x0008, "dpad_right/click"},    {0x0100, "shoulder_left/click"},  {0x0200, "shoulder_right/click"},
        {0x0040, "thumbstick_left/click"}, {0x0080, "thumbstick_right/click"},
    };
    for (const auto& [bit, component] : table) {
        SCOPED_TRACE(component);
        EXPECT_EQ(Poll(Buttons(bit)), std::vector<Sent> {Press(component, true)});
        EXPECT_EQ(host_.Latest(kPad + component), 1.0f);
        EXPECT_TRUE(Poll(Buttons(bit)).empty()) << "a held button is not sent again";
        EXPECT_EQ(Poll(Buttons(0)), std::vector<Sent> {Press(component, false)});
        EXPECT_EQ(host_.Latest(kPad + component), 0.0f);
    }
}

TEST_F(BasicDriverGamepad, OneReportSendsItsChangesInTableOrder) {
    GamepadState all = Buttons(0xF3FF);
    all.leftTrigger = all.rightTrigger = 255;
    all.leftStickX = all.leftStickY = all.rightStickX = all.rightStickY = 32767;
    std::vector<std::string> order;
    for (const Sent& sent : Poll(all)) order.push_back(sent.component);
    EXPECT_EQ(order, (std::vector<std::string> {
                         "menu/click", "view/click", "a/click", "b/click", "x/click", "y/click", "dpad_up/click",
                         "dpad_down/click", "dpad_left/click", "dpad_right/click", "shoulder_left/click",
                         "shoulder_right/click", "thumbstick_left/click", "thumbstick_right/click",
                         "trigger_left/value", "trigger_right/value", "thumbstick_left/x", "thumbstick_left/y",
                         "thumbstick_right/x", "thumbstick_right/y"}));
    // Dropping everything at once releases and centres all twenty inputs.
    for (const Sent& sent : Poll(GamepadState {})) EXPECT_EQ(sent.value, 0.0f) << sent.component;
    EXPECT_EQ(host_.updates.size() - 4, 20u);
}

// ---- triggers and sticks ----

struct AxisCase {
    const char* name;
    int16_t GamepadState::*stick;  // null for a trigger
    uint8_t GamepadState::*trigger;
    int32_t raw;
    std::string component;
    float expected;  // 0: nothing is sent
};

class BasicDriverGamepadAxes : public BasicDriverGamepad, public testing::WithParamInterface<AxisCase> {};

TEST_P(BasicDriverGamepadAxes, ReportsTheScaledValueAndZeroWhenBackAtRest) {
    const AxisCase& axis = GetParam();
    GamepadState state;
    if (axis.stick != nullptr) state.*axis.stick = static_cast<int16_t>(axis.raw);
    if (axis.trigger != nullptr) state.*axis.trigger = static_cast<uint8_t>(axis.raw);
    const std::vector<Sent> sent = Poll(state);
    if (axis.expected == 0.0f) {
        EXPECT_TRUE(sent.empty()) << "inside the dead zone or threshold";
        return;
    }
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].component, axis.component);
    EXPECT_EQ(sent[0].kind, UpdateKind::Scalar);
    EXPECT_NEAR(sent[0].value, axis.expected, 1e-6);
    EXPECT_GE(sent[0].value, -1.0f);
    EXPECT_LE(sent[0].value, 1.0f);
    EXPECT_EQ(Poll(GamepadState {}), std::vector<Sent> {Scalar(axis.component, 0.0f)});
}

constexpr auto kLX = &GamepadState::leftStickX;
constexpr auto kLY = &GamepadState::leftStickY;
constexpr auto kRX = &GamepadState::rightStickX;
constexpr auto kRY = &GamepadState::rightStickY;
constexpr auto kLT = &GamepadState::leftTrigger;
constexpr auto kRT = &GamepadState::rightTrigger;

INSTANTIATE_TEST_SUITE_P(
    Table, BasicDriverGamepadAxes,
    testing::Values(
        AxisCase {"LeftTriggerAtThreshold", nullptr, kLT, 30, "trigger_left/value", 0.0f},
        AxisCase {"LeftTriggerJustAbove", nullptr, kLT, 31, "trigger_left/value", 1.0f / 225},
        AxisCase {"LeftTriggerHalf", nullptr, kLT, 143, "trigger_left/value", 113.0f / 225},
        AxisCase {"LeftTriggerFull", nullptr, kLT, 255, "trigger_left/value", 1.0f},
        AxisCase {"RightTriggerAtThreshold", nullptr, kRT, 30, "trigger_right/value", 0.0f},
        AxisCase {"RightTriggerFull", nullptr, kRT, 255, "trigger_right/value", 1.0f},
        AxisCase {"LeftXAtDeadZone", kLX, nullptr, 7849, "thumbstick_left/x", 0.0f},
        AxisCase {"LeftXNegativeAtDeadZone", kLX, nullptr, -7849, "thumbstick_left/x", 0.0f},
        AxisCase {"LeftXPastDeadZone", kLX, nullptr, 7850, "thumbstick_left/x", 1.0f / 24918},
        AxisCase {"LeftXFull", kLX, nullptr, 32767, "thumbstick_left/x", 1.0f},
        AxisCase {"LeftXMostNegativeClamped", kLX, nullptr, -32768, "thumbstick_left/x", -1.0f},
        AxisCase {"LeftYUp", kLY, nullptr, 20000, "thumbstick_left/y", 12151.0f / 24918},
        AxisCase {"LeftYDown", kLY, nullptr, -20000, "thumbstick_left/y", -12151.0f / 24918},
        AxisCase {"RightXAtDeadZone", kRX, nullptr, 8689, "thumbstick_right/x", 0.0f},
        AxisCase {"RightXPastDeadZone", kRX, nullptr, 8690, "thumbstick_right/x", 1.0f / 24078},
        AxisCase {"RightXLeftward", kRX, nullptr, -8690, "thumbstick_right/x", -1.0f / 24078},
        AxisCase {"RightYInsideLeftDeadZoneWidth", kRY, nullptr, 8000, "thumbstick_right/y", 0.0f},
        AxisCase {"RightYFull", kRY, nullptr, 32767, "thumbstick_right/y", 1.0f},
        AxisCase {"RightYMostNegativeClamped", kRY, nullptr, -32768, "thumbstick_right/y", -1.0f}),
    [](const testing::TestParamInfo<AxisCase>& param) { return std::string(param.param.name); });

TEST_F(BasicDriverGamepad, AStickMovingInsideItsDeadZoneSendsNothingMore) {
    GamepadState state;
    state.leftStickX = 20000;
    ASSERT_EQ(Poll(state).size(), 1u);
    state.leftStickX = 3000;
    EXPECT_EQ(Poll(state), std::vector<Sent> {Scalar("thumbstick_left/x", 0.0f)});
    state.leftStickX = -5000;
    EXPECT_TRUE(Poll(state).empty());
}

// ---- vibration ----

TEST_F(BasicDriverGamepad, LeftTriggerDrivesTheLeftMotorUntilReleased) {
    const struct {
        uint8_t trigger;
        std::vector<std::pair<uint16_t, uint16_t>> told;
    } steps[] = {
        {0, {}},                   // resting: the motor is never touched
        {30, {}},                  // within the threshold
        {255, {{65535, 0}}},       // full
        {255, {{65535, 0}}},       // held: renewed every poll
        {143, {{32913, 0}}},       // 113/225 of full speed
        {0, {{0, 0}}},             // released: switched off once
        {0, {}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(static_cast<int>(step.trigger));
        pad_.vibrations.clear();
        GamepadState state;
        state.leftTrigger = step.trigger;
        Poll(state);
        EXPECT_EQ(pad_.vibrations, step.told);
    }
}

TEST_F(BasicDriverGamepad, RightTriggerAndButtonsDoNotVibrate) {
    GamepadState state = Buttons(0xFFFF);
    state.rightTrigger = 255;
    Poll(state);
    Poll(GamepadState {});
    EXPECT_TRUE(pad_.vibrations.empty());
}

// ---- no pad ----

TEST_F(BasicDriverGamepad, WithoutAPadNothingIsReported) {
    EXPECT_TRUE(Poll(std::nullopt).empty());
    EXPECT_TRUE(Poll(std::nullopt).empty());
    EXPECT_TRUE(pad_.vibrations.empty());
    EXPECT_FALSE(host_.Latest(kPad + "a/click").has_value());
}

TEST_F(BasicDriverGamepad, UnpluggingReleasesWhatWasHeldOnceAndReplugReportsAgain) {
    GamepadState held = Buttons(0x1000);
    held.leftStickX = -32768;
    held.leftTrigger = 255;
    ASSERT_EQ(Poll(held).size(), 3u);

    EXPECT_EQ(Poll(std::nullopt), (std::vector<Sent> {Press("a/click", false), Scalar("trigger_left/value", 0.0f),
                                                      Scalar("thumbstick_left/x", 0.0f)}));
    EXPECT_TRUE(Poll(std::nullopt).empty());

    pad_.vibrations.clear();
    EXPECT_EQ(Poll(Buttons(0x1000)), std::vector<Sent> {Press("a/click", true)});
    EXPECT_TRUE(pad_.vibrations.empty()) << "a replugged pad starts with its motors off";
}

TEST(BasicDriverGamepadAbsent, ADriverWithoutAnyPadPollsQuietly) {
    test::TempEnvironment env;
    test::FakeHost host;
    CServerDriver_Sample provider([] { return std::unique_ptr<basic::Gamepad>(); });
    ASSERT_EQ(provider.Initialize(host.Context()), 0);
    host.updates.clear();
    provider.PollFrame();
    EXPECT_EQ(host.updates.size(), 4u) << "only the hand controller's placeholders";
}

}  // namespace
}  // namespace qor
