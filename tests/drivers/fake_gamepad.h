// A pad the test plays: the report it gives (none while unplugged) and the vibration it was
// asked for.
#pragma once

#include "drivers/basic/gamepad.h"

#include <utility>
#include <vector>

namespace qor::test {

struct FakePad final : basic::Gamepad {
    std::optional<basic::GamepadState> state;
    std::vector<std::pair<uint16_t, uint16_t>> vibrations;

    std::optional<basic::GamepadState> Read() override { return state; }
    bool SetVibration(uint16_t left, uint16_t right) override {
        if (state) vibrations.emplace_back(left, right);
        return state.has_value();
    }
    // The driver owns what it opens: a forwarding view of this pad.
    basic::GamepadFactory Factory() {
        struct View final : basic::Gamepad {
            FakePad& pad;
            explicit View(FakePad& p) : pad(p) {}
            std::optional<basic::GamepadState> Read() override { return pad.Read(); }
            bool SetVibration(uint16_t l, uint16_t r) override { return pad.SetVibration(l, r); }
        };
        return [this] { return std::make_unique<View>(*this); };
    }
};

}  // namespace qor::test
