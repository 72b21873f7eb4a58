// The Windows gamepad: XInput 1.4, user index 0. XInputGetState and XInputSetState are taken
// from xinput1_4.dll by ordinal (2 and 3), so the driver imports nothing from XInput and
// still loads on a system without it.
#include "drivers/basic/gamepad.h"

#include "platform/system.h"

#include <windows.h>

namespace qor::basic {

namespace {

// XINPUT_GAMEPAD, XINPUT_STATE and XINPUT_VIBRATION as xinput.h lays them out.
struct XInputGamepad {
    WORD buttons;
    BYTE leftTrigger;
    BYTE rightTrigger;
    SHORT thumbLX;
    SHORT thumbLY;
    SHORT thumbRX;
    SHORT thumbRY;
};
struct XInputState {
    DWORD packetNumber;
    XInputGamepad gamepad;
};
struct XInputVibration {
    WORD leftMotorSpeed;
    WORD rightMotorSpeed;
};
static_assert(sizeof(XInputState) == 16 && sizeof(XInputVibration) == 4);

using GetStateFn = DWORD(WINAPI*)(DWORD userIndex, XInputState* state);
using SetStateFn = DWORD(WINAPI*)(DWORD userIndex, XInputVibration* vibration);

constexpr WORD kGetStateOrdinal = 2;
constexpr WORD kSetStateOrdinal = 3;
constexpr DWORD kFirstUser = 0;

template <typename Fn>
Fn ByOrdinal(HMODULE library, WORD ordinal) {
    // GetProcAddress takes an ordinal as a name pointer whose high bits are zero.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(library, MAKEINTRESOURCEA(ordinal))));
}

class XInputGamepadSource final : public Gamepad {
public:
    XInputGamepadSource() {
        // Stays loaded until the process ends, as the drivers themselves do.
        HMODULE library = ::LoadLibraryW(L"xinput1_4.dll");
        if (library == nullptr) {
            platform::DebugOutput("<Sample Driver> gamepad: xinput1_4.dll not loaded\n");
            return;
        }
        getState_ = ByOrdinal<GetStateFn>(library, kGetStateOrdinal);
        setState_ = ByOrdinal<SetStateFn>(library, kSetStateOrdinal);
    }

    std::optional<GamepadState> Read() override {
        if (getState_ == nullptr) return std::nullopt;
        XInputState raw {};
        // ERROR_DEVICE_NOT_CONNECTED (1167) when there is no controller.
        if (getState_(kFirstUser, &raw) != ERROR_SUCCESS) return std::nullopt;
        GamepadState state;
        state.packetNumber = raw.packetNumber;
        state.buttons = raw.gamepad.buttons;
        state.leftTrigger = raw.gamepad.leftTrigger;
        state.rightTrigger = raw.gamepad.rightTrigger;
        state.leftStickX = raw.gamepad.thumbLX;
        state.leftStickY = raw.gamepad.thumbLY;
        state.rightStickX = raw.gamepad.thumbRX;
        state.rightStickY = raw.gamepad.thumbRY;
        return state;
    }

    bool SetVibration(uint16_t leftMotor, uint16_t rightMotor) override {
        if (setState_ == nullptr) return false;
        XInputVibration vibration {leftMotor, rightMotor};
        return setState_(kFirstUser, &vibration) == ERROR_SUCCESS;
    }

private:
    GetStateFn getState_ = nullptr;
    SetStateFn setState_ = nullptr;
};

}  // namespace

std::unique_ptr<Gamepad> OpenFirstGamepad() { return std::make_unique<XInputGamepadSource>(); }

}  // namespace qor::basic
