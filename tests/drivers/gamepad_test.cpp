// The gamepad device through the provider: a played pad state goes in, PollFrame runs, and
// the fake host shows what the gamepad components received and the pad what it was told.
#include "drivers/basic/server_driver.h"
#include "tests/drivers/fake_gamepad.h"
#include "tests/drivers/fake_host.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace qor {
namespace {

using basic::GamepadState;
using test::UpdateKind;

const std::string kPad = "/user/gamepad/input/";

// One gamepad update: the path under kPad, whether it was a boolean, and the value.
struct Sent {
    std::string component;
    bool boolean;
    float value;
    bool operator==(const Sent&) const = default;
};
void PrintTo(const Sent& sent, std::ostream* out) {
    *out << sent.component << (sent.boolean ? " = bool " : " = ") << sent.value;
}
using Updates = std::vector<Sent>;

GamepadState State(uint16_t buttons, uint8_t leftTrigger = 0, int16_t leftX = 0) {
    GamepadState state;
    state.buttons = buttons;
    state.leftTrigger = leftTrigger;
    state.leftStickX = leftX;
    return state;
}

class BasicDriverGamepad : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(provider_.Initialize(host_.Context()), 0); }

    // Plays `state` (nothing: unplugged) and polls once; the gamepad updates that poll made.
    Updates Poll(std::optional<GamepadState> state) {
        pad_.state = state;
        host_.updates.clear();
        provider_.PollFrame();
        Updates sent;
        for (const test::UpdateCall& update : host_.updates) {
            for (const basic::ComponentBinding& binding : CSampleGamePadDriver::kBindings) {
                const std::string path = binding.path;
                if (update.handle != test::PathHash(path) || path.rfind(kPad, 0) != 0) continue;
                const bool boolean = update.kind == UpdateKind::Boolean;
                const float value = boolean ? float(update.boolean) : update.scalar;
                sent.push_back(Sent {path.substr(kPad.size()), boolean, value});
            }
        }
        return sent;
    }

    test::TempEnvironment env_;
    test::FakeHost host_;
    test::FakePad pad_;
    CServerDriver_Sample provider_ {pad_.Factory()};
};

// ---- buttons ----

TEST_F(BasicDriverGamepad, EachButtonReportsItsClickOnPressAndOnRelease) {
    const std::pair<uint16_t, std::string> table[] = {
        {0x0010, "menu/click"},       {0x0020, "view/click"},          {0x1000, "a/click"},
        {0x2000, "b/click"},          {0x4000, "x/click"},             {0x8000, "y/click"},
        {0x0001, "dpad_up/click"},    {0x0002, "dpad_down/click"},     {0x0004, "dpad_left/click"},
        {0x0008, "dpad_right/click"}, {0x0100, "shoulder_left/click"}, {0x0200, "shoulder_right/click"},
        {0x0040, "thumbstick_left/click"}, {0x0080, "thumbstick_right/click"},
    };
    for (const auto& [bit, component] : table) {
        SCOPED_TRACE(component);
        EXPECT_EQ(Poll(State(bit)), Updates {Sent({component, true, 1.0f})});
        EXPECT_TRUE(Poll(State(bit)).empty()) << "a held button is not sent again";
        EXPECT_EQ(Poll(State(0)), Updates {Sent({component, true, 0.0f})});
        EXPECT_EQ(host_.Latest(kPad + component), 0.0f);
    }
}

// ---- triggers and sticks ----

TEST_F(BasicDriverGamepad, TriggersAndSticksReportScaledValuesPastThresholdAndZeroWhenBackAtRest) {
    enum Axis { kLT, kRT, kLX, kLY, kRX, kRY };
    const char* const components[] = {"trigger_left/value", "trigger_right/value", "thumbstick_left/x",
                                      "thumbstick_left/y",  "thumbstick_right/x",  "thumbstick_right/y"};
    const struct {
        Axis axis;
        int32_t raw;
        float expected;  // 0: nothing is sent
    } table[] = {
        {kLT, 30, 0.0f},      {kLT, 31, 1.0f / 225},       {kLT, 143, 113.0f / 225},  {kRT, 255, 1.0f},
        {kLX, 7849, 0.0f},    {kLX, -7849, 0.0f},          {kLX, 7850, 1.0f / 24918},
        {kLX, -32768, -1.0f},  // one step past full scale, clamped
        {kLY, -20000, -12151.0f / 24918}, {kRX, 8689, 0.0f}, {kRX, -8690, -1.0f / 24078},
        {kRY, 8000, 0.0f},    // inside the right stick's wider dead zone only
        {kRY, 32767, 1.0f},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(std::string(components[row.axis]) + " at " + std::to_string(row.raw));
        GamepadState state;
        uint8_t* triggers[] = {&state.leftTrigger, &state.rightTrigger};
        int16_t* sticks[] = {&state.leftStickX, &state.leftStickY, &state.rightStickX, &state.rightStickY};
        if (row.axis <= kRT) *triggers[row.axis] = static_cast<uint8_t>(row.raw);
        else *sticks[row.axis - kLX] = static_cast<int16_t>(row.raw);

        const Updates sent = Poll(state);
        if (row.expected == 0.0f) {
            EXPECT_TRUE(sent.empty());
            continue;
        }
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].component, components[row.axis]);
        EXPECT_FALSE(sent[0].boolean);
        EXPECT_NEAR(sent[0].value, row.expected, 1e-6);
        EXPECT_TRUE(sent[0].value >= -1.0f && sent[0].value <= 1.0f) << sent[0].value;
        EXPECT_EQ(Poll(GamepadState {}), Updates {Sent({components[row.axis], false, 0.0f})});
    }
}

// ---- vibration ----

TEST_F(BasicDriverGamepad, LeftTriggerDrivesTheLeftMotorUntilReleased) {
    GamepadState rightOnly = State(0xFFFF);
    rightOnly.rightTrigger = 255;
    const struct {
        GamepadState state;
        std::vector<std::pair<uint16_t, uint16_t>> told;
    } steps[] = {
        {State(0, 30), {}},                // within the threshold: the motor is never touched
        {rightOnly, {}},                   // neither buttons nor the right trigger vibrate
        {State(0, 255), {{65535, 0}}},     // full
        {State(0, 255), {{65535, 0}}},     // held: renewed every poll
        {State(0, 143), {{32913, 0}}},     // 113/225 of full speed
        {State(0), {{0, 0}}},              // released: switched off once
        {State(0), {}},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        pad_.vibrations.clear();
        Poll(steps[i].state);
        EXPECT_EQ(pad_.vibrations, steps[i].told) << "step " << i;
    }
}

// ---- no pad ----

TEST_F(BasicDriverGamepad, UnpluggingReleasesWhatWasHeldOnceAndReplugReportsAgain) {
    EXPECT_TRUE(Poll(std::nullopt).empty()) << "never plugged in";
    ASSERT_EQ(Poll(State(0x1000, 255, -32768)).size(), 3u);
    EXPECT_EQ(Poll(std::nullopt), (Updates {Sent({"a/click", true, 0.0f}), Sent({"trigger_left/value", false, 0}),
                                            Sent({"thumbstick_left/x", false, 0})}));
    EXPECT_TRUE(Poll(std::nullopt).empty());

    pad_.vibrations.clear();
    EXPECT_EQ(Poll(State(0x1000)), Updates {Sent({"a/click", true, 1.0f})});
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
