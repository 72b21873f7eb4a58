// The POSIX gamepad's stand-in controller: while the file $NORVIK_PIPE_DIR/gamepad exists, the
// first controller's report is read from it instead of from SDL, so tests and scripts can hold
// buttons and sticks on a machine without a controller (as the keys-down file holds keys).
//
// The file is text, one "name value" per line, the value a decimal integer; blank lines and
// lines starting with '#' are skipped. A name left out reads as released or centred, so an
// empty file is a connected controller at rest.
//   buttons, 0 or 1:     a b x y menu view dpad_up dpad_down dpad_left dpad_right
//                        shoulder_left shoulder_right thumbstick_left_click thumbstick_right_click
//   triggers, 0 to 255:  trigger_left trigger_right
//   stick axes, -32768 to 32767 (x to the right, y up), raw values before any dead zone:
//                        thumbstick_left_x thumbstick_left_y thumbstick_right_x thumbstick_right_y
// Anything else (an unknown or repeated name, a value out of range, a file over 4096 bytes,
// something that is not a regular file) reads as no controller.
#pragma once

#include "drivers/basic/gamepad.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qor::basic {

constexpr size_t kGamepadFileMaxBytes = 4096;

// The report a file's text describes; nothing when the text is malformed. The packet number
// stays 0.
std::optional<GamepadState> ParseGamepadReport(std::string_view text);

struct GamepadFileReading {
    bool present = false;               // false: no file, the real controller counts
    std::optional<GamepadState> report; // what the file holds; nothing when it is malformed
};

// Reads the file at `path` once; never blocks on something that is not a regular file.
GamepadFileReading ReadGamepadFile(const std::string& path);

}  // namespace qor::basic
