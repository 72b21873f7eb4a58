// The display driver of the driver loading and compositor tests. Each copy takes its name from
// its file ("<name>Driver.so" or "<name>Driver.dll") and its behaviour from
// NORVIK_TEST_DRIVER_MODE_<name>:
//   "refuse"  the factory answers code 100 (and still hands out its provider),
//   "fail"    Initialize returns 101 (the service still polls the provider),
//   otherwise Initialize registers one stereo display, 1920x2160 a view, whose system name is
//   the driver's name.
// Every call is appended as "<name> <call>" to the file NORVIK_TEST_DRIVER_TRACE names:
// "factory", "init", "poll", "present <handle>", "display <state>".
#include "driver_api/driver_interfaces.h"
#include "platform/export.h"
#include "platform/library.h"
#include "platform/system.h"

#include <cstring>
#include <fstream>
#include <string>

namespace {

using namespace qor;

// The copy's file name without "Driver" and the suffix, found from where the marker (this
// module's own) was loaded from.
std::string DriverName() {
    static const char marker = 0;
    static const std::string name = [] {
        std::string path = platform::LibraryPathOf(&marker);
        const size_t slash = path.find_last_of("/\\");
        if (slash != std::string::npos) path.erase(0, slash + 1);
        const size_t end = path.rfind("Driver");
        return end == std::string::npos ? path : path.substr(0, end);
    }();
    return name;
}

std::string Mode() { return platform::GetEnv(("NORVIK_TEST_DRIVER_MODE_" + DriverName()).c_str()).value_or(""); }

void Trace(const std::string& call) {
    const auto file = platform::GetEnv("NORVIK_TEST_DRIVER_TRACE");
    if (!file) return;
    std::ofstream(platform::PathFromUtf8(*file), std::ios::app | std::ios::binary) << DriverName() << ' ' << call << '\n';
}

class CTestDisplay final : public IQorDeviceServerDriver, public IQorDisplayComponent {
public:
    DriverResult Activate(uint32_t, uint32_t) override { return kDriverOk; }
    void Deactivate() override {}
    void* GetComponent(const char* version) override {
        return std::strcmp(version, kDisplayComponentVersion) == 0 ? static_cast<IQorDisplayComponent*>(this)
                                                                  : nullptr;
    }
    bool GetPose(XrPosef*, uint32_t) override { return false; }

    void GetFormFactor(int32_t* formFactor) override { *formFactor = XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY; }
    void GetTrackingProperties(TrackingProperties* properties) override { *properties = {XR_TRUE, XR_TRUE}; }
    DriverResult EnumerateViewConfigurations(uint32_t, uint32_t*, int32_t*) override { return kDriverOk; }
    void GetRecommendedRenderSize(uint32_t* width, uint32_t* height) override {
        *width = 1920;
        *height = 2160;
    }
    void GetEyeFov(uint32_t, float*, float*, float*, float*) override {}
    DriverResult LocateViews(uint32_t, uint32_t*, XrView*) override { return kDriverOk; }
    void PresentFrame(uint64_t handle) override { Trace("present " + std::to_string(handle)); }
    void SetDisplayState(int32_t state) override { Trace("display " + std::to_string(state)); }
};

class CTestProvider final : public IServerDeviceProvider {
public:
    DriverResult Initialize(IQorDriverContext* context) override {
        Trace("init");
        if (Mode() == "fail") return kDriverLibraryMissing;
        auto* host = static_cast<IQorServerDriverHost*>(context->GetGenericInterface(kServerDriverHostVersion, nullptr));
        if (host == nullptr || context->GetGenericInterface(kDriverManagerVersion, nullptr) == nullptr ||
            context->GetGenericInterface(kInputDeviceVersion, nullptr) == nullptr) {
            return kDriverUnknownInterface;
        }
        const std::string name = DriverName();
        host->AddDevice(name.c_str(), 0, name.c_str(), kDeviceStereoDisplay, &display_);
        return kDriverOk;
    }
    void Shutdown() override {}
    const char* const* ListInterfaceVersions() override { return kInterfaceVersions; }
    void PollFrame() override { Trace("poll"); }
    bool BlocksStandby() override { return false; }
    void EnterStandby() override {}
    void LeaveStandby() override {}

private:
    CTestDisplay display_;
};

CTestProvider provider;

}  // namespace

NORVIK_EXPORT void* DeviceDriverFactory(const char* interfaceName, int32_t* returnCode) {
    Trace("factory");
    const bool known = interfaceName != nullptr && std::strcmp(interfaceName, kServerDeviceProviderVersion) == 0;
    if (returnCode != nullptr) *returnCode = known && Mode() != "refuse" ? kDriverOk : kDriverUnknownInterface;
    return &provider;
}
