// CServerDriver_Lentic: the lenticular driver's provider. It announces the one display device
// of the stereoscopic panel when the display vendor's runtime is installed.
#pragma once

#include "display/winpipe/display_log_writer.h"
#include "driver_api/driver_interfaces.h"
#include "drivers/lentic/device_driver.h"

#include <memory>
#include <vector>

namespace qor {

namespace lentic {
constexpr const char* kDisplaySerial = "Frostline_Lentic";
// The display vendor's runtime, loaded by name only to prove it is installed.
constexpr const char* kLensRuntimeName = "LensRuntime";
}  // namespace lentic

class CServerDriver_Lentic final : public IServerDeviceProvider {
public:
    CServerDriver_Lentic() = default;
    ~CServerDriver_Lentic() = default;
    CServerDriver_Lentic(const CServerDriver_Lentic&) = delete;
    CServerDriver_Lentic& operator=(const CServerDriver_Lentic&) = delete;

    // 101 when the lens runtime cannot be loaded, 100 when the context lacks one of the three
    // host interfaces; otherwise makes the device (reading its settings), announces it with
    // AddDeviceBasic and gives 0.
    DriverResult Initialize(IQorDriverContext* context) override;
    // Forgets the device; the host may still hold it, so it is not destroyed.
    void Shutdown() override { device_ = nullptr; }
    const char* const* ListInterfaceVersions() override;
    void PollFrame() override {}
    bool BlocksStandby() override { return false; }
    void EnterStandby() override {}
    void LeaveStandby() override {}

private:
    IQorDriverContext* context_ = nullptr;
    IQorServerDriverHost* host_ = nullptr;
    IQorDriverManager* manager_ = nullptr;
    IQorInputDevice* input_ = nullptr;
    CLenticDeviceDriver* device_ = nullptr;
    // Every device made, kept for the library's lifetime: the host never gives them back.
    std::vector<std::unique_ptr<CLenticDeviceDriver>> devices_;
};

namespace lentic {
// The body of the library's one export: "IServerDeviceProvider_000" (exact) gives the static
// provider and code 0; any other name gives null and code 100 (nothing written through a
// null code pointer).
void* DriverFactory(const char* interfaceName, int32_t* returnCode);
}  // namespace lentic

}  // namespace qor
