// The POSIX gamepad read through SDL's own virtual game controller: the conversion to an
// XInput report (Y axes pointing up, triggers as bytes), vibration reaching the pad, and a
// pad that goes away.
#include "drivers/basic/gamepad.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace qor {
namespace {

struct VirtualPad {
    std::vector<std::pair<uint16_t, uint16_t>> rumbles;

    static int SDLCALL Rumble(void* self, Uint16 low, Uint16 high) {
        static_cast<VirtualPad*>(self)->rumbles.emplace_back(low, high);
        return 0;
    }

    // An Xbox-like controller with the fifteen classic buttons and six axes.
    int Attach() {
        SDL_VirtualJoystickDesc desc {};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        desc.naxes = SDL_CONTROLLER_AXIS_MAX;
        desc.nbuttons = SDL_CONTROLLER_BUTTON_DPAD_RIGHT + 1;
        desc.button_mask = (1u << desc.nbuttons) - 1;
        desc.axis_mask = (1u << desc.naxes) - 1;
        desc.name = "Norvik test pad";
        desc.userdata = this;
        desc.Rumble = &VirtualPad::Rumble;
        return SDL_JoystickAttachVirtualEx(&desc);
    }
};

TEST(BasicDriverSdlGamepad, ReadsTheFirstControllerAsAnXInputReportAndVibratesIt) {
    std::unique_ptr<basic::Gamepad> pad = basic::OpenFirstGamepad();
    if (SDL_NumJoysticks() > 0) GTEST_SKIP() << "a real controller is connected and would be the first";
    EXPECT_FALSE(pad->Read().has_value()) << "no controller yet";
    EXPECT_FALSE(pad->SetVibration(65535, 0));

    VirtualPad device;
    const int index = device.Attach();
    ASSERT_GE(index, 0) << SDL_GetError();
    SDL_Joystick* joystick = SDL_JoystickOpen(index);
    ASSERT_NE(joystick, nullptr) << SDL_GetError();

    for (auto button : {SDL_CONTROLLER_BUTTON_A, SDL_CONTROLLER_BUTTON_DPAD_UP, SDL_CONTROLLER_BUTTON_BACK}) {
        SDL_JoystickSetVirtualButton(joystick, button, SDL_PRESSED);
    }
    SDL_JoystickSetVirtualAxis(joystick, SDL_CONTROLLER_AXIS_TRIGGERLEFT, 32767);
    // Virtual trigger axes span the full range: this is 12849 of 32767, a byte of 100.
    SDL_JoystickSetVirtualAxis(joystick, SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -7068);
    SDL_JoystickSetVirtualAxis(joystick, SDL_CONTROLLER_AXIS_LEFTX, -32768);
    SDL_JoystickSetVirtualAxis(joystick, SDL_CONTROLLER_AXIS_LEFTY, -32768);  // pushed up
    SDL_JoystickSetVirtualAxis(joystick, SDL_CONTROLLER_AXIS_RIGHTX, 1234);
    SDL_JoystickSetVirtualAxis(joystick, SDL_CONTROLLER_AXIS_RIGHTY, 32767);  // pulled down

    // The virtual controller hands values set before its first update over one update late.
    std::optional<basic::GamepadState> first;
    for (int update = 0; update < 10 && (!first || first->leftTrigger == 0); ++update) first = pad->Read();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->buttons, basic::kPadA | basic::kPadDpadUp | basic::kPadBack);
    EXPECT_EQ(first->leftTrigger, 255);
    EXPECT_EQ(first->rightTrigger, 100);
    EXPECT_EQ(first->leftStickX, -32768);
    EXPECT_EQ(first->leftStickY, 32767);
    EXPECT_EQ(first->rightStickX, 1234);
    EXPECT_EQ(first->rightStickY, -32767);

    EXPECT_TRUE(pad->SetVibration(65535, 0));
    EXPECT_TRUE(pad->SetVibration(0, 0));
    EXPECT_EQ(device.rumbles, (std::vector<std::pair<uint16_t, uint16_t>> {{65535, 0}, {0, 0}}));

    SDL_JoystickClose(joystick);
    ASSERT_EQ(SDL_JoystickDetachVirtual(index), 0);
    EXPECT_FALSE(pad->Read().has_value()) << "the controller went away";
    EXPECT_FALSE(pad->SetVibration(65535, 0));
}

}  // namespace
}  // namespace qor
