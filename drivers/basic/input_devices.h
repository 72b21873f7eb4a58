// The basic driver's input devices: two hand controllers with the simple-controller
// components, and an Xbox-style gamepad under "/user/gamepad".
#pragma once

#include "driver_api/driver_interfaces.h"
#include "drivers/basic/host_interfaces.h"

#include <array>
#include <cstddef>
#include <cstdint>

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
    static constexpr size_t kComponentCount = 24;
    static const std::array<basic::ComponentBinding, kComponentCount> kBindings;

    explicit CSampleGamePadDriver(basic::HostInterfaces& host) : host_(host) {}
    ~CSampleGamePadDriver() = default;
    CSampleGamePadDriver(const CSampleGamePadDriver&) = delete;
    CSampleGamePadDriver& operator=(const CSampleGamePadDriver&) = delete;

    DriverResult Activate(uint32_t deviceIndex, uint32_t reserved) override;
    void Deactivate() override { deviceIndex_ = basic::kNoDeviceIndex; }
    void* GetComponent(const char*) override { return nullptr; }
    bool GetPose(XrPosef*, uint32_t) override { return false; }

    // Called from PollFrame. Reading the first XInput controller and feeding its state to
    // the components is not written yet; until then this reports nothing.
    void PollXInput();

    uint32_t DeviceIndex() const { return deviceIndex_; }
    uint64_t Handle(size_t component) const { return handles_[component]; }

private:
    basic::HostInterfaces& host_;
    uint32_t deviceIndex_ = basic::kNoDeviceIndex;
    std::array<uint64_t, kComponentCount> handles_ {};
};

}  // namespace qor
