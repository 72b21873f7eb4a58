// The basic driver's input devices: two hand controllers with the simple-controller
// components, and an Xbox-style gamepad under "/user/gamepad".
#pragma once

#include "driver_api/driver_interfaces.h"
#include "drivers/basic/gamepad.h"
#include "drivers/basic/host_interfaces.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace qor {

namespace basic {

// Kind hints passed to BindComponent; the service takes the kind from the path instead.
constexpr int32_t kHintClick = 0;
constexpr int32_t kHintValue = 1;
constexpr int32_t kHintPose = 3;
constexpr int32_t kHintHaptic = 4;

struct ComponentBinding {
    const char* path;
    int32_t kindHint;
};

}  // namespace basic

class CSampleControllerDriver final : public IQorDeviceServerDriver {
public:
    // Handle slots, in binding order.
    enum Component : size_t {
        kLeftSelect, kLeftMenu, kLeftGrip, kLeftAim, kLeftHaptic,
        kRightSelect, kRightMenu, kRightGrip, kRightAim, kRightHaptic,
        kComponentCount
    };
    static const std::array<basic::ComponentBinding, kComponentCount> kBindings;

    explicit CSampleControllerDriver(basic::HostInterfaces& host) : host_(host) {}
    ~CSampleControllerDriver() = default;
    CSampleControllerDriver(const CSampleControllerDriver&) = delete;
    CSampleControllerDriver& operator=(const CSampleControllerDriver&) = delete;

    // Keeps the index and binds the ten components with the index as container; the first
    // non-zero bind result is returned.
    DriverResult Activate(uint32_t deviceIndex, uint32_t reserved) override;
    void Deactivate() override { deviceIndex_ = basic::kNoDeviceIndex; }
    void* GetComponent(const char*) override { return nullptr; }
    bool GetPose(XrPosef*, uint32_t) override { return false; }

    // Called from PollFrame: placeholder values for the left hand (buttons released, identity
    // poses); the right hand is not updated.
    void ReportInputs();

    uint32_t DeviceIndex() const { return deviceIndex_; }
    uint64_t Handle(Component component) const { return handles_[component]; }

private:
    basic::HostInterfaces& host_;
    uint32_t deviceIndex_ = basic::kNoDeviceIndex;
    std::array<uint64_t, kComponentCount> handles_ {};
};

class CSampleGamePadDriver final : public IQorDeviceServerDriver {
public:
    // Handle slots, in binding order.
    enum Component : size_t {
        kMenu, kView, kA, kB, kX, kY, kDpadDown, kDpadRight, kDpadUp, kDpadLeft,
        kShoulderLeft, kShoulderRight, kThumbstickLeftClick, kThumbstickRightClick,
        kTriggerLeft, kTriggerRight, kThumbstickLeftX, kThumbstickLeftY, kThumbstickRightX, kThumbstickRightY,
        kHapticLeft, kHapticRight, kHapticLeftTrigger, kHapticRightTrigger,
        kComponentCount
    };
    static constexpr size_t kInputCount = kHapticLeft;
    static const std::array<basic::ComponentBinding, kComponentCount> kBindings;

    // Dead zones of the sticks, in raw stick units (XInput's recommended values).
    static constexpr int32_t kLeftStickDeadZone = 7849;
    static constexpr int32_t kRightStickDeadZone = 8689;
    // Trigger bytes at or below this read as released.
    static constexpr int32_t kTriggerThreshold = 30;

    // `pad` may be null: the device then reports nothing.
    CSampleGamePadDriver(basic::HostInterfaces& host, std::unique_ptr<basic::Gamepad> pad)
        : host_(host), pad_(std::move(pad)) {}
    ~CSampleGamePadDriver() = default;
    CSampleGamePadDriver(const CSampleGamePadDriver&) = delete;
    CSampleGamePadDriver& operator=(const CSampleGamePadDriver&) = delete;

    DriverResult Activate(uint32_t deviceIndex, uint32_t reserved) override;
    void Deactivate() override { deviceIndex_ = basic::kNoDeviceIndex; }
    void* GetComponent(const char*) override { return nullptr; }
    bool GetPose(XrPosef*, uint32_t) override { return false; }

    // Called from PollFrame: reads the pad once and reports every input whose value changed
    // since the last report, releases and centring included; the left trigger drives the left
    // motor. When the pad goes away its inputs are reported released once.
    void Poll();

    uint32_t DeviceIndex() const { return deviceIndex_; }
    uint64_t Handle(size_t component) const { return handles_[component]; }

private:
    // The value each input reads for a report: 0 or 1 for buttons, 0 to 1 for triggers,
    // -1 to 1 for stick axes.
    static std::array<float, kInputCount> InputValues(const basic::GamepadState& state);
    void Report(const std::array<float, kInputCount>& values);
    void Vibrate(float leftTrigger);

    basic::HostInterfaces& host_;
    // PollFrame may come from any request thread; one poll at a time keeps the pad's reports
    // and what was sent in step.
    std::mutex pollMutex_;
    std::unique_ptr<basic::Gamepad> pad_;
    uint32_t deviceIndex_ = basic::kNoDeviceIndex;
    std::array<uint64_t, kComponentCount> handles_ {};
    // What the service holds for each input (it starts at zero, as the components do).
    std::array<float, kInputCount> reported_ {};
    uint16_t leftMotor_ = 0;
};

}  // namespace qor
