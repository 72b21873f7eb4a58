#include "tests/drivers/fake_host.h"

namespace qor::test {

uint64_t PathHash(const std::string& path) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : path) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

void* FakeHost::GetGenericInterface(const char* version, int32_t* error) {
    if (error != nullptr) *error = kDriverOk;
    const std::string name = version != nullptr ? version : "";
    lookups.push_back(name);
    void* found = nullptr;
    if (refusedInterfaces.count(name) == 0) {
        if (name == kServerDriverHostVersion) found = static_cast<IQorServerDriverHost*>(this);
        if (name == kDriverManagerVersion) found = static_cast<IQorDriverManager*>(this);
        if (name == kInputDeviceVersion) found = static_cast<IQorInputDevice*>(this);
    }
    if (found == nullptr && error != nullptr) *error = kDriverUnknownInterface;
    return found;
}

bool FakeHost::AddDevice(const char* serial, uint32_t vendorId, const char* systemName, DeviceClass deviceClass,
                         IQorDeviceServerDriver* driver) {
    AddDeviceCall call {serial, vendorId, systemName, deviceClass, driver, nextIndex_++, nullptr};
    if (deviceClass < kDeviceStereoDisplay || deviceClass > kDeviceMonoDisplay) return false;
    if (deviceClass == kDeviceStereoDisplay || deviceClass == kDeviceMonoDisplay) {
        // What the service asks of a display before it builds the system entry.
        call.display = static_cast<IQorDisplayComponent*>(driver->GetComponent(kDisplayComponentVersion));
        if (call.display == nullptr) return false;
        int32_t formFactor = 0;
        uint32_t width = 0;
        uint32_t height = 0;
        TrackingProperties tracking {};
        call.display->GetFormFactor(&formFactor);
        call.display->GetRecommendedRenderSize(&width, &height);
        call.display->GetTrackingProperties(&tracking);
    }
    devices.push_back(call);
    driver->Activate(call.deviceIndex, 0);
    return true;
}

bool FakeHost::AddDeviceBasic(const char* serial, DeviceClass deviceClass, IQorDeviceServerDriver* driver) {
    if (serial == nullptr || *serial == '\0' || deviceClass < kDeviceStereoDisplay || deviceClass > kDeviceMonoDisplay) {
        return false;
    }
    AddDeviceCall call {serial, 0, "", deviceClass, driver, nextIndex_++, nullptr};
    call.display = static_cast<IQorDisplayComponent*>(driver->GetComponent(kDisplayComponentVersion));
    devices.push_back(call);
    return call.display != nullptr;
}

DriverResult FakeHost::BindComponent(uint64_t container, const char* fullPath, uint64_t* handle, int32_t kindHint) {
    const std::string path = fullPath != nullptr ? fullPath : "";
    const size_t number = binds.size();
    binds.push_back(BindCall {container, path, kindHint});
    if (handle != nullptr) *handle = PathHash(path);
    const auto result = bindResults.find(number);
    return result != bindResults.end() ? result->second : kDriverOk;
}

DriverResult FakeHost::UpdateBooleanComponent(uint64_t handle, XrBool32 value) {
    updates.push_back(UpdateCall {UpdateKind::Boolean, handle, value, {}});
    return kDriverOk;
}

DriverResult FakeHost::UpdatePoseComponent(uint64_t handle, const XrPosef* value) {
    updates.push_back(UpdateCall {UpdateKind::Pose, handle, XR_FALSE, value != nullptr ? *value : XrPosef {}});
    return kDriverOk;
}

std::optional<float> FakeHost::Latest(const std::string& path) const {
    const uint64_t handle = PathHash(path);
    for (auto update = updates.rbegin(); update != updates.rend(); ++update) {
        if (update->handle != handle) continue;
        if (update->kind == UpdateKind::Boolean) return update->boolean != XR_FALSE ? 1.0f : 0.0f;
        if (update->kind == UpdateKind::Scalar) return update->scalar;
    }
    return std::nullopt;
}

}  // namespace qor::test
