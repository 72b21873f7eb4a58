// The POSIX gamepad read through SDL's own virtual game controller: the conversion to an
// XInput report (Y axes pointing up, triggers as bytes), vibration reaching the pad, and a
// pad that goes away; and the gamepad file that stands in for the controller while it exists.
#include "drivers/basic/gamepad.h"
#include "tests/support/test_env.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
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
    test::TempEnvironment environment;  // no gamepad file there
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

// The report read, its packet number left out (it only counts changes).
std::optional<basic::GamepadState> ReadReport(basic::Gamepad& pad) {
    std::optional<basic::GamepadState> report = pad.Read();
    if (report) report->packetNumber = 0;
    return report;
}

basic::GamepadState Report(uint16_t buttons) {
    basic::GamepadState state;
    state.buttons = buttons;
    return state;
}

TEST(BasicDriverGamepadFile, WhileItExistsItIsTheFirstControllerAndAnythingMalformedIsNone) {
    test::TempEnvironment environment;
    std::unique_ptr<basic::Gamepad> pad = basic::OpenFirstGamepad();
    const std::string path = environment.Path("pipe/gamepad");
    std::filesystem::create_directories(environment.Path("pipe"));

    basic::GamepadState everything = Report(0xF3FF);
    everything.leftTrigger = 255;
    everything.rightTrigger = 31;
    everything.leftStickX = -32768;
    everything.leftStickY = 32767;
    everything.rightStickX = -1;
    everything.rightStickY = 8689;
    const std::string fullText =
        "a 1\nb 1\nx 1\ny 1\nmenu 1\nview 1\ndpad_up 1\ndpad_down 1\ndpad_left 1\ndpad_right 1\n"
        "shoulder_left 1\nshoulder_right 1\nthumbstick_left_click 1\nthumbstick_right_click 1\n"
        "trigger_left 255\ntrigger_right 31\nthumbstick_left_x -32768\nthumbstick_left_y 32767\n"
        "thumbstick_right_x -1\nthumbstick_right_y 8689\n";
    struct Case {
        const char* what;
        std::string text;
        std::optional<basic::GamepadState> report;
    };
    const Case cases[] = {
        {"every name", fullText, everything},
        {"empty: at rest", "", basic::GamepadState {}},
        {"comments, blank lines, tabs, CRLF", "# held\n\n\ta\t1 \r\nb 0\r\ndpad_left 1", Report(basic::kPadA | basic::kPadDpadLeft)},
        {"4096 bytes", "a 1\n#" + std::string(4091, '-'), Report(basic::kPadA)},
        {"4097 bytes", "a 1\n#" + std::string(4092, '-'), std::nullopt},
        {"button of 2", "a 2\n", std::nullopt},
        {"no value", "a\n", std::nullopt},
        {"two values", "a 1 1\n", std::nullopt},
        {"trigger over a byte", "trigger_left 256\n", std::nullopt},
        {"negative trigger", "trigger_right -1\n", std::nullopt},
        {"axis over 16 bits", "thumbstick_left_x 32768\n", std::nullopt},
        {"axis under 16 bits", "thumbstick_right_y -32769\n", std::nullopt},
        {"number beyond 64 bits", "thumbstick_left_y 99999999999999999999\n", std::nullopt},
        {"hexadecimal", "a 0x1\n", std::nullopt},
        {"trailing letters", "a 1x\n", std::nullopt},
        {"repeated name", "b 1\nb 0\n", std::nullopt},
        {"unknown name", "start 1\n", std::nullopt},
    };
    for (const Case& c : cases) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
        EXPECT_EQ(ReadReport(*pad), c.report) << c.what;
        EXPECT_EQ(pad->SetVibration(65535, 0), c.report.has_value()) << c.what;
    }

    // Something that is not a regular file is no controller, and a FIFO does not stall the poll.
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    EXPECT_EQ(ReadReport(*pad), std::nullopt) << "a folder";
    std::filesystem::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(ReadReport(*pad), std::nullopt) << "a FIFO";
    std::filesystem::remove(path);

    // Without the file the real first controller counts again.
    if (SDL_NumJoysticks() == 0) {
        EXPECT_EQ(ReadReport(*pad), std::nullopt);
        EXPECT_FALSE(pad->SetVibration(65535, 0));
    }
}

}  // namespace
}  // namespace qor
