// The POSIX gamepad: SDL2's game controller API on the first connected game controller,
// polled (SDL_GameControllerUpdate) on the caller's thread and turned into an XInput report;
// while the gamepad file of the pipe folder exists, that file is the first controller.
#include "drivers/basic/gamepad.h"

#include "drivers/basic/gamepad_file.h"
#include "drivers/basic/sdl_subsystems.h"
#include "platform/pipe.h"
#include "platform/system.h"

#include <SDL.h>

#include <algorithm>
#include <string>

namespace qor::basic {

namespace {

// SDL caps one rumble at this; the driver renews it on every poll while it wants vibration,
// which makes it last until switched off, as an XInput motor setting does.
constexpr uint32_t kRumbleMs = 0xFFFF;

struct ButtonBit {
    SDL_GameControllerButton button;
    uint16_t bit;
};

constexpr ButtonBit kButtonBits[] = {
    {SDL_CONTROLLER_BUTTON_DPAD_UP, kPadDpadUp},
    {SDL_CONTROLLER_BUTTON_DPAD_DOWN, kPadDpadDown},
    {SDL_CONTROLLER_BUTTON_DPAD_LEFT, kPadDpadLeft},
    {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, kPadDpadRight},
    {SDL_CONTROLLER_BUTTON_START, kPadStart},
    {SDL_CONTROLLER_BUTTON_BACK, kPadBack},
    {SDL_CONTROLLER_BUTTON_LEFTSTICK, kPadLeftThumb},
    {SDL_CONTROLLER_BUTTON_RIGHTSTICK, kPadRightThumb},
    {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, kPadLeftShoulder},
    {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, kPadRightShoulder},
    {SDL_CONTROLLER_BUTTON_A, kPadA},
    {SDL_CONTROLLER_BUTTON_B, kPadB},
    {SDL_CONTROLLER_BUTTON_X, kPadX},
    {SDL_CONTROLLER_BUTTON_Y, kPadY},
};

// SDL triggers run 0 to 32767; XInput's are a byte.
uint8_t TriggerByte(Sint16 axis) {
    const int32_t value = std::clamp<int32_t>(axis, 0, 32767);
    return static_cast<uint8_t>((value * 255 + 16383) / 32767);
}

// SDL's Y axes grow downwards, XInput's upwards.
int16_t Upwards(Sint16 axis) { return static_cast<int16_t>(std::min<int32_t>(-static_cast<int32_t>(axis), 32767)); }

class SdlGamepad final : public Gamepad {
public:
    // The pipe folder is looked up as a client does, never made, for the gamepad file.
    SdlGamepad() : filePath_(platform::PipePath("gamepad")) {
        std::lock_guard lock(g_sdlSubsystemMutex);
        // The service owns SIGINT and SIGTERM; and the service's window rarely has the focus,
        // which must not silence the pad.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
        ready_ = SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) == 0;
        if (!ready_) {
            platform::DebugOutput(std::string("<Sample Driver> gamepad: SDL failed: ") + SDL_GetError() + "\n");
            return;
        }
        // The pad is polled; its events would only pile up in a queue nobody may be reading.
        SDL_GameControllerEventState(SDL_IGNORE);
        SDL_JoystickEventState(SDL_IGNORE);
    }

    ~SdlGamepad() override {
        if (!ready_) return;
        if (controller_ != nullptr) SDL_GameControllerClose(controller_);
        std::lock_guard lock(g_sdlSubsystemMutex);
        SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    }

    SdlGamepad(const SdlGamepad&) = delete;
    SdlGamepad& operator=(const SdlGamepad&) = delete;

    std::optional<GamepadState> Read() override {
        std::optional<GamepadState> state = ReadFirstController();
        if (!state) return std::nullopt;
        // XInput's packet number changes whenever the report does.
        if (!SameInputs(*state, last_)) ++packet_;
        last_ = *state;
        state->packetNumber = packet_;
        return state;
    }

    bool SetVibration(uint16_t leftMotor, uint16_t rightMotor) override {
        // The file's controller has no motors: it takes any speed and ignores it.
        if (fromFile_) return fileController_;
        if (controller_ == nullptr) return false;
        return SDL_GameControllerRumble(controller_, leftMotor, rightMotor, kRumbleMs) == 0;
    }

private:
    // The file is small and read whole at every poll, so a change is never missed.
    std::optional<GamepadState> ReadFirstController() {
        const GamepadFileReading file = ReadGamepadFile(filePath_);
        fromFile_ = file.present;
        fileController_ = file.report.has_value();
        return fromFile_ ? file.report : ReadSdlController();
    }

    std::optional<GamepadState> ReadSdlController() {
        if (!ready_) return std::nullopt;
        SDL_GameControllerUpdate();
        if (controller_ != nullptr && !SDL_GameControllerGetAttached(controller_)) {
            SDL_GameControllerClose(controller_);
            controller_ = nullptr;
        }
        if (controller_ == nullptr) controller_ = OpenFirst();
        if (controller_ == nullptr) return std::nullopt;

        GamepadState state;
        for (const ButtonBit& entry : kButtonBits) {
            if (SDL_GameControllerGetButton(controller_, entry.button) != 0) state.buttons |= entry.bit;
        }
        state.leftTrigger = TriggerByte(SDL_GameControllerGetAxis(controller_, SDL_CONTROLLER_AXIS_TRIGGERLEFT));
        state.rightTrigger = TriggerByte(SDL_GameControllerGetAxis(controller_, SDL_CONTROLLER_AXIS_TRIGGERRIGHT));
        state.leftStickX = SDL_GameControllerGetAxis(controller_, SDL_CONTROLLER_AXIS_LEFTX);
        state.leftStickY = Upwards(SDL_GameControllerGetAxis(controller_, SDL_CONTROLLER_AXIS_LEFTY));
        state.rightStickX = SDL_GameControllerGetAxis(controller_, SDL_CONTROLLER_AXIS_RIGHTX);
        state.rightStickY = Upwards(SDL_GameControllerGetAxis(controller_, SDL_CONTROLLER_AXIS_RIGHTY));
        return state;
    }

    static SDL_GameController* OpenFirst() {
        const int count = SDL_NumJoysticks();
        for (int index = 0; index < count; ++index) {
            if (SDL_IsGameController(index)) return SDL_GameControllerOpen(index);
        }
        return nullptr;
    }

    static bool SameInputs(const GamepadState& a, const GamepadState& b) {
        return a.buttons == b.buttons && a.leftTrigger == b.leftTrigger && a.rightTrigger == b.rightTrigger &&
               a.leftStickX == b.leftStickX && a.leftStickY == b.leftStickY && a.rightStickX == b.rightStickX &&
               a.rightStickY == b.rightStickY;
    }

    const std::string filePath_;
    bool fromFile_ = false;
    bool fileController_ = false;
    bool ready_ = false;
    SDL_GameController* controller_ = nullptr;
    GamepadState last_;
    uint32_t packet_ = 0;
};

}  // namespace

std::unique_ptr<Gamepad> OpenFirstGamepad() { return std::make_unique<SdlGamepad>(); }

}  // namespace qor::basic
