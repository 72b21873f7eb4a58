// A stand-in for the XR service's side of the driver interface: it answers the interface
// lookups, records registrations and component bindings, and calls back into the devices
// as the service does while a device is added.
#pragma once

#include "driver_api/driver_interfaces.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qor::test {

// 64-bit FNV-1a, the service's component handle.
uint64_t PathHash(const std::string& path);

struct AddDeviceCall {
    std::string serial;
    uint32_t vendorId = 0;
    std::string systemName;
    DeviceClass deviceClass = 0;
    IQorDeviceServerDriver* driver = nullptr;
    uint32_t deviceIndex = 0;
    IQorDisplayComponent* display = nullptr;  // what GetComponent gave, for display classes
};

struct BindCall {
    uint64_t container = 0;
    std::string path;
    int32_t kindHint = -1;
};

enum class UpdateKind { Boolean, Scalar, Vector2, Pose };

struct UpdateCall {
    UpdateKind kind;
    uint64_t handle;
    XrBool32 boolean = XR_FALSE;
    XrPosef pose {};
    float scalar = 0.0f;
};

class FakeHost final : public IQorDriverContext,
                       public IQorServerDriverHost,
                       public IQorDriverManager,
                       public IQorInputDevice {
public:
    // IQorDriverContext
    void* GetGenericInterface(const char* version, int32_t* error) override;
    // Also answers IQorDriverManager::Reserved1 (same name and signature).
    uint32_t Reserved1() override { return 0; }

    // IQorServerDriverHost
    bool AddDevice(const char* serial, uint32_t vendorId, const char* systemName, DeviceClass deviceClass,
                   IQorDeviceServerDriver* driver) override;
    // The short form: recorded with the display component it asks for, without Activate.
    bool AddDeviceBasic(const char* serial, DeviceClass deviceClass, IQorDeviceServerDriver* driver) override;
    void Reserved() override {}

    // IQorDriverManager
    uint32_t GetDeviceCount() override { return static_cast<uint32_t>(devices.size()); }
    uint32_t Reserved2() override { return 0; }
    bool Reserved3() override { return false; }

    // IQorInputDevice
    DriverResult BindComponent(uint64_t container, const char* fullPath, uint64_t* handle, int32_t kindHint) override;
    DriverResult UpdateBooleanComponent(uint64_t handle, XrBool32 value) override;
    DriverResult UpdateScalarComponent(uint64_t handle, float value) override {
        updates.push_back(UpdateCall {UpdateKind::Scalar, handle, XR_FALSE, {}, value});
        return kDriverOk;
    }
    DriverResult UpdateVector2Component(uint64_t handle, XrVector2f) override {
        updates.push_back(UpdateCall {UpdateKind::Vector2, handle});
        return kDriverOk;
    }
    DriverResult UpdatePoseComponent(uint64_t handle, const XrPosef* value) override;
    DriverResult Reserved5(uint64_t) override { return 0; }

    IQorDriverContext* Context() { return this; }

    // What the component at `path` holds after the updates so far: a boolean as 0 or 1, a
    // scalar as itself; nothing when it was never updated.
    std::optional<float> Latest(const std::string& path) const;

    // Interface versions GetGenericInterface refuses (code 100, null).
    std::set<std::string> refusedInterfaces;
    // Results BindComponent returns by call number (0 when absent).
    std::map<size_t, DriverResult> bindResults;

    std::vector<std::string> lookups;
    std::vector<AddDeviceCall> devices;
    std::vector<BindCall> binds;
    std::vector<UpdateCall> updates;

private:
    uint32_t nextIndex_ = 1;
};

}  // namespace qor::test
