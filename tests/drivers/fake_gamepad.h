// A pad the test plays: the report it gives (none while "unplugged") and the vibration it
// was asked for.
#pragma once

#include "drivers/basic/gamepad.h"

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace qor::test {

struct FakePad {
    std::optional<basic::GamepadState> state;  // nothing: no controller
    std::vector<std::pair<uint16_t, uint16_t>> vibrations;

    // Opens views of this pad, for the driver to own.
    basic::GamepadFactory Factory() {
        return [this] { return std::make_unique<View>(*this); };
    }

private:
    class View final : public basic::Gamepad {
    public:
        explicit View(FakePad& pad) : pad_(pad) {}
        std::optional<basic::GamepadState> Read() override { return pad_.state; }
        bool SetVibration(uint16_t left, uint16_t right) override {
            if (!pad_.state) return false;
            pad_.vibrations.emplace_back(left, right);
            return true;
        }

    private:
        FakePad& pad_;
    };
};

}  // namespace qor::test
