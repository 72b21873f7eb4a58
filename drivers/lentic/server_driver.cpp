#include "drivers/lentic/server_driver.h"

#include "drivers/lentic/lentic_settings.h"
#include "platform/library.h"

#include <cstring>

namespace qor {

namespace {

// This driver's own order of the six version strings.
constexpr const char* kLenticInterfaceVersions[7] = {
    kDeviceServerDriverVersion, kDisplayComponentVersion, kServerDeviceProviderVersion,
    kServerDriverHostVersion,   kDriverManagerVersion,    kInputDeviceVersion,
    nullptr,
};

CServerDriver_Lentic g_serverDriver;

}  // namespace

DriverResult CServerDriver_Lentic::Initialize(IQorDriverContext* context) {
    try {
        // A failed Initialize leaves no device behind from an earlier one.
        device_ = nullptr;
        // Stays loaded: the load only proves that the vendor's runtime is installed.
        if (platform::LoadSharedLibrary(platform::LibraryFileName(lentic::kLensRuntimeName)) == nullptr) {
            return kDriverLibraryMissing;
        }
        std::shared_ptr<winpipe::DisplayLogWriter> log =
            winpipe::DisplayLogWriter::CreateIfSwitchedOn(winpipe::kDriverLogModule, winpipe::DisplayLogFileName::Undated);

        context_ = context;
        host_ = nullptr;
        manager_ = nullptr;
        input_ = nullptr;
        if (context == nullptr) return kDriverUnknownInterface;
        host_ = static_cast<IQorServerDriverHost*>(context->GetGenericInterface(kServerDriverHostVersion, nullptr));
        if (host_ == nullptr) return kDriverUnknownInterface;
        manager_ = static_cast<IQorDriverManager*>(context->GetGenericInterface(kDriverManagerVersion, nullptr));
        if (manager_ == nullptr) return kDriverUnknownInterface;
        input_ = static_cast<IQorInputDevice*>(context->GetGenericInterface(kInputDeviceVersion, nullptr));
        if (input_ == nullptr) return kDriverUnknownInterface;

        devices_.push_back(
            std::make_unique<CLenticDeviceDriver>(lentic::LoadLenticSettings(lentic::LenticSettingsPath()), log));
        device_ = devices_.back().get();
        if (log) log->Write(winpipe::DisplayLogLevel::Info, "CServerDriver_Lentic::Init():", "display device made");
        // Its result is not looked at: a refusal leaves the host without this display.
        host_->AddDeviceBasic(lentic::kDisplaySerial, kDeviceStereoDisplay, device_);
        return kDriverOk;
    } catch (...) {
        // Only allocation can fail here; the host must not see the exception.
        device_ = nullptr;
        return kDriverUnknownInterface;
    }
}

const char* const* CServerDriver_Lentic::ListInterfaceVersions() { return kLenticInterfaceVersions; }

namespace lentic {

void* DriverFactory(const char* interfaceName, int32_t* returnCode) {
    if (interfaceName != nullptr && std::strcmp(interfaceName, kServerDeviceProviderVersion) == 0) {
        if (returnCode != nullptr) *returnCode = kDriverOk;
        return static_cast<IServerDeviceProvider*>(&g_serverDriver);
    }
    if (returnCode != nullptr) *returnCode = kDriverUnknownInterface;
    return nullptr;
}

}  // namespace lentic

}  // namespace qor
