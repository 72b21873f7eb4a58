// CServerDriver_Sample: the basic driver's provider. It registers the display device, the
// hand controllers and the gamepad, and refreshes their input once per composed frame.
#pragma once

#include "driver_api/driver_interfaces.h"
#include "drivers/basic/display_device.h"
#include "drivers/basic/host_interfaces.h"
#include "drivers/basic/input_devices.h"

#include <memory>
#include <utility>
#include <vector>

namespace qor {

namespace basic {
constexpr uint32_t kVendorId = 0x502;
constexpr const char* kDisplaySerial = "801000";
constexpr const char* kDisplayName = "norvik_default_display";
constexpr const char* kControllerSerial = "801001";
constexpr const char* kControllerName = "nolo_controller";
constexpr const char* kGamePadSerial = "801002";
constexpr const char* kGamePadName = "GamePad";
}  // namespace basic

class CServerDriver_Sample final : public IServerDeviceProvider {
public:
    // `openGamepad` opens the pad the gamepad device reads; the machine's first controller
    // unless a test brings its own.
    explicit CServerDriver_Sample(basic::GamepadFactory openGamepad = basic::OpenFirstGamepad)
        : openGamepad_(std::move(openGamepad)) {}
    ~CServerDriver_Sample() = default;
    CServerDriver_Sample(const CServerDriver_Sample&) = delete;
    CServerDriver_Sample& operator=(const CServerDriver_Sample&) = delete;

    // Fetches the three host interfaces (100 and nothing created when one is refused), creates
    // the devices and registers them; 0 on success.
    DriverResult Initialize(IQorDriverContext* context) override;
    void Shutdown() override;
    const char* const* ListInterfaceVersions() override { return kInterfaceVersions; }
    void PollFrame() override;
    bool BlocksStandby() override { return false; }
    void EnterStandby() override {}
    void LeaveStandby() override {}

    CSampleDeviceDriver* DisplayDevice() const { return display_.get(); }
    CSampleControllerDriver* ControllerDevice() const { return controllers_.get(); }
    CSampleGamePadDriver* GamePadDevice() const { return gamepad_.get(); }

private:
    // Moves the devices out of use without destroying them: the service keeps their pointers.
    void RetireDevices();

    basic::GamepadFactory openGamepad_;
    basic::HostInterfaces host_;
    std::unique_ptr<CSampleDeviceDriver> display_;
    std::unique_ptr<CSampleControllerDriver> controllers_;
    std::unique_ptr<CSampleGamePadDriver> gamepad_;
    std::vector<std::shared_ptr<void>> retired_;
};

}  // namespace qor
