#include "drivers/basic/server_driver.h"

#include "platform/system.h"

namespace qor {

DriverResult CServerDriver_Sample::Initialize(IQorDriverContext* context) {
    try {
        platform::DebugOutput("<Sample Driver> Init\n");
        RetireDevices();
        host_ = basic::HostInterfaces {};
        if (context == nullptr) return kDriverUnknownInterface;

        basic::HostInterfaces fetched;
        fetched.context = context;
        fetched.host =
            static_cast<IQorServerDriverHost*>(context->GetGenericInterface(kServerDriverHostVersion, nullptr));
        if (fetched.host == nullptr) return kDriverUnknownInterface;
        fetched.manager = static_cast<IQorDriverManager*>(context->GetGenericInterface(kDriverManagerVersion, nullptr));
        if (fetched.manager == nullptr) return kDriverUnknownInterface;
        fetched.input = static_cast<IQorInputDevice*>(context->GetGenericInterface(kInputDeviceVersion, nullptr));
        if (fetched.input == nullptr) return kDriverUnknownInterface;
        host_ = fetched;

        const basic::BasicDriverSettings settings = basic::LoadBasicDriverSettings(basic::BasicDriverSettingsPath());
        display_ = CSampleDeviceDriver::CreateWithWindow(settings);
        controllers_ = std::make_unique<CSampleControllerDriver>(host_);
        gamepad_ = std::make_unique<CSampleGamePadDriver>(host_, openGamepad_ ? openGamepad_() : nullptr);

        // The service activates each device (and the input devices bind) before AddDevice returns.
        host_.host->AddDevice(basic::kDisplaySerial, basic::kVendorId, basic::kDisplayName, kDeviceStereoDisplay,
                              display_.get());
        host_.host->AddDevice(basic::kControllerSerial, basic::kVendorId, basic::kControllerName,
                              kDeviceHandController, controllers_.get());
        host_.host->AddDevice(basic::kGamePadSerial, basic::kVendorId, basic::kGamePadName, kDeviceGamepad,
                              gamepad_.get());
        return kDriverOk;
    } catch (...) {
        // Only allocation can fail here; the service must not see the exception.
        platform::DebugOutput("<Sample Driver> Init failed\n");
        return kDriverUnknownInterface;
    }
}

void CServerDriver_Sample::Shutdown() { RetireDevices(); }

void CServerDriver_Sample::PollFrame() {
    if (controllers_) controllers_->ReportInputs();
    if (gamepad_) gamepad_->Poll();
}

void CServerDriver_Sample::RetireDevices() {
    if (display_) retired_.emplace_back(std::move(display_));
    if (controllers_) retired_.emplace_back(std::move(controllers_));
    if (gamepad_) retired_.emplace_back(std::move(gamepad_));
}

}  // namespace qor
