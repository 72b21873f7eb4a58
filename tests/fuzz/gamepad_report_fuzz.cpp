// Feeds arbitrary text to the gamepad file's parser. Whatever it accepts must come out the
// same when written back in the file's format and parsed again, and nothing over the size
// limit is ever accepted.
#include "drivers/basic/gamepad_file.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Undefined behaviour counts as a finding, not a line on stderr the fuzzer never reads.
extern "C" const char* __ubsan_default_options() { return "halt_on_error=1:print_stacktrace=1"; }

namespace {

using qor::basic::GamepadState;

inline void Require(bool holds) {
    if (!holds) __builtin_trap();
}

std::string Line(const char* name, int value) { return std::string(name) + " " + std::to_string(value) + "\n"; }

// Every field of the report in the file's format, each button by its own bit.
std::string Written(const GamepadState& state) {
    struct Button {
        const char* name;
        uint16_t bit;
    };
    constexpr Button kButtons[] = {
        {"a", qor::basic::kPadA}, {"b", qor::basic::kPadB}, {"x", qor::basic::kPadX}, {"y", qor::basic::kPadY},
        {"menu", qor::basic::kPadStart}, {"view", qor::basic::kPadBack}, {"dpad_up", qor::basic::kPadDpadUp},
        {"dpad_down", qor::basic::kPadDpadDown}, {"dpad_left", qor::basic::kPadDpadLeft},
        {"dpad_right", qor::basic::kPadDpadRight}, {"shoulder_left", qor::basic::kPadLeftShoulder},
        {"shoulder_right", qor::basic::kPadRightShoulder}, {"thumbstick_left_click", qor::basic::kPadLeftThumb},
        {"thumbstick_right_click", qor::basic::kPadRightThumb},
    };
    std::string text;
    for (const Button& button : kButtons) text += Line(button.name, (state.buttons & button.bit) != 0 ? 1 : 0);
    text += Line("trigger_left", state.leftTrigger) + Line("trigger_right", state.rightTrigger);
    text += Line("thumbstick_left_x", state.leftStickX) + Line("thumbstick_left_y", state.leftStickY);
    text += Line("thumbstick_right_x", state.rightStickX) + Line("thumbstick_right_y", state.rightStickY);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<GamepadState> report = qor::basic::ParseGamepadReport(text);
    if (!report) return 0;
    Require(size <= qor::basic::kGamepadFileMaxBytes);
    Require(report->packetNumber == 0);
    // Buttons the format has no name for are never set.
    Require((report->buttons & 0x0C00) == 0);
    Require(qor::basic::ParseGamepadReport(Written(*report)) == report);
    return 0;
}
