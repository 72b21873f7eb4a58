// The basic driver's gamepad seam: the first game controller of the machine, read as an
// XInput gamepad report. XInput 1.4 on Windows (gamepad_xinput.cpp); SDL2's game controller
// API elsewhere (gamepad_sdl.cpp), converted to the same report so that one mapping serves
// both. Tests hand the driver their own implementation.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace qor::basic {

// XINPUT_GAMEPAD button bits.
enum GamepadButton : uint16_t {
    kPadDpadUp = 0x0001,
    kPadDpadDown = 0x0002,
    kPadDpadLeft = 0x0004,
    kPadDpadRight = 0x0008,
    kPadStart = 0x0010,
    kPadBack = 0x0020,
    kPadLeftThumb = 0x0040,
    kPadRightThumb = 0x0080,
    kPadLeftShoulder = 0x0100,
    kPadRightShoulder = 0x0200,
    kPadA = 0x1000,
    kPadB = 0x2000,
    kPadX = 0x4000,
    kPadY = 0x8000,
};

// One report, as XINPUT_STATE carries it: triggers 0-255, sticks signed 16-bit with
// positive Y pointing up.
struct GamepadState {
    uint32_t packetNumber = 0;
    uint16_t buttons = 0;
    uint8_t leftTrigger = 0;
    uint8_t rightTrigger = 0;
    int16_t leftStickX = 0;
    int16_t leftStickY = 0;
    int16_t rightStickX = 0;
    int16_t rightStickY = 0;
    bool operator==(const GamepadState&) const = default;
};

class Gamepad {
public:
    virtual ~Gamepad() = default;
    // The current report of the first controller; nothing while no controller is connected.
    virtual std::optional<GamepadState> Read() = 0;
    // Motor speeds, 0 (off) to 65535: left is the low-frequency motor, right the high one.
    // False when no controller took them.
    virtual bool SetVibration(uint16_t leftMotor, uint16_t rightMotor) = 0;
};

// The platform's first controller. Never null: without a controller (or without the
// library) it reads nothing. Called on the thread that will poll it.
std::unique_ptr<Gamepad> OpenFirstGamepad();

using GamepadFactory = std::function<std::unique_ptr<Gamepad>()>;

}  // namespace qor::basic
