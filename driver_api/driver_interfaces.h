// The binary contract between the XR service and its device drivers: abstract interfaces in
// slot order, their version strings, result codes and device classes. Neither side deletes
// the other's objects, so the interfaces have no virtual destructors (the protected
// destructors keep anyone from deleting through them).
#pragma once

#include <openxr/openxr.h>

#include <cstdint>

namespace qor {

// Results of driver operations.
using DriverResult = int32_t;
constexpr DriverResult kDriverOk = 0;
constexpr DriverResult kDriverUnknownInterface = 100;
constexpr DriverResult kDriverLibraryMissing = 101;
constexpr DriverResult kDriverBadCapacity = 200;
constexpr DriverResult kDriverCapacityTooSmall = 201;
constexpr DriverResult kDriverNoEyeData = 202;
constexpr DriverResult kDriverUnknownComponent = 207;
constexpr DriverResult kDriverWrongComponentKind = 208;

// The class a driver gives when it registers a device.
using DeviceClass = int32_t;
constexpr DeviceClass kDeviceStereoDisplay = 1;
constexpr DeviceClass kDeviceHandController = 2;
constexpr DeviceClass kDeviceGamepad = 3;
constexpr DeviceClass kDeviceMonoDisplay = 4;

constexpr const char* kServerDeviceProviderVersion = "IServerDeviceProvider_000";
constexpr const char* kDeviceServerDriverVersion = "IDeviceServerDriver_001";
constexpr const char* kDisplayComponentVersion = "IQorDisplayComponent_001";
constexpr const char* kServerDriverHostVersion = "IQorServerDriverHost_001";
constexpr const char* kDriverManagerVersion = "IQorDriverManager_000";
constexpr const char* kInputDeviceVersion = "IQorInputDevice_000";

// The six version strings in this order, null-terminated; a provider returns it from
// ListInterfaceVersions.
inline constexpr const char* kInterfaceVersions[7] = {
    kServerDeviceProviderVersion, kDeviceServerDriverVersion, kDisplayComponentVersion,
    kServerDriverHostVersion,     kDriverManagerVersion,      kInputDeviceVersion,
    nullptr,
};

class IQorDriverContext;

// Driver side, one static object per driver library.
class IServerDeviceProvider {
public:
    virtual DriverResult Initialize(IQorDriverContext* context) = 0;
    virtual void Shutdown() = 0;
    virtual const char* const* ListInterfaceVersions() = 0;
    virtual void PollFrame() = 0;
    virtual bool BlocksStandby() = 0;
    virtual void EnterStandby() = 0;
    virtual void LeaveStandby() = 0;

protected:
    ~IServerDeviceProvider() = default;
};

// Driver side, one object per device.
class IQorDeviceServerDriver {
public:
    virtual DriverResult Activate(uint32_t deviceIndex, uint32_t reserved) = 0;
    virtual void Deactivate() = 0;
    virtual void* GetComponent(const char* version) = 0;
    virtual bool GetPose(XrPosef* pose, uint32_t reserved) = 0;

protected:
    ~IQorDeviceServerDriver() = default;
};

struct TrackingProperties {
    XrBool32 orientationTracking;
    XrBool32 positionTracking;
};

// SetDisplayState: 0 switches the display off, any other value on (the service gives 1, or a
// value of its own for an application that wants the stereoscopic display off).
constexpr int32_t kDisplayStateOff = 0;
constexpr int32_t kDisplayStateOn = 1;

// Driver side, a second base of display devices.
class IQorDisplayComponent {
public:
    virtual void GetFormFactor(int32_t* formFactor) = 0;
    virtual void GetTrackingProperties(TrackingProperties* properties) = 0;
    virtual DriverResult EnumerateViewConfigurations(uint32_t capacity, uint32_t* count, int32_t* types) = 0;
    virtual void GetRecommendedRenderSize(uint32_t* width, uint32_t* height) = 0;
    virtual void GetEyeFov(uint32_t eye, float* left, float* right, float* up, float* down) = 0;
    virtual DriverResult LocateViews(uint32_t capacity, uint32_t* count, XrView* views) = 0;
    virtual void PresentFrame(uint64_t sharedTextureHandle) = 0;
    virtual void SetDisplayState(int32_t state) = 0;

protected:
    ~IQorDisplayComponent() = default;
};

// Service side (QorHostDriverManager, first base).
class IQorServerDriverHost {
public:
    virtual bool AddDevice(const char* serial, uint32_t vendorId, const char* systemName, DeviceClass deviceClass,
                           IQorDeviceServerDriver* driver) = 0;
    virtual bool AddDeviceBasic(const char* serial, DeviceClass deviceClass, IQorDeviceServerDriver* driver) = 0;
    virtual void Reserved() = 0;

protected:
    ~IQorServerDriverHost() = default;
};

// Service side (QorHostDriverManager, second base).
class IQorDriverManager {
public:
    virtual uint32_t GetDeviceCount() = 0;
    virtual uint32_t Reserved1() = 0;
    virtual uint32_t Reserved2() = 0;
    virtual bool Reserved3() = 0;

protected:
    ~IQorDriverManager() = default;
};

// Service side (ImplQorDriverContext).
class IQorDriverContext {
public:
    virtual void* GetGenericInterface(const char* version, int32_t* error) = 0;
    virtual uint32_t Reserved1() = 0;

protected:
    ~IQorDriverContext() = default;
};

// Service side (ImplQorInputDevice). The handle of a component is its full-path hash.
class IQorInputDevice {
public:
    virtual DriverResult BindComponent(uint64_t container, const char* fullPath, uint64_t* handle, int32_t kindHint) = 0;
    virtual DriverResult UpdateBooleanComponent(uint64_t handle, XrBool32 value) = 0;
    virtual DriverResult UpdateScalarComponent(uint64_t handle, float value) = 0;
    virtual DriverResult UpdateVector2Component(uint64_t handle, XrVector2f value) = 0;
    virtual DriverResult UpdatePoseComponent(uint64_t handle, const XrPosef* value) = 0;
    virtual DriverResult Reserved5(uint64_t handle) = 0;

protected:
    ~IQorInputDevice() = default;
};

// Every driver library exports this function by name with C linkage.
using DeviceDriverFactoryFn = void* (*)(const char* interfaceName, int32_t* returnCode);
constexpr const char* kDeviceDriverFactoryName = "DeviceDriverFactory";

}  // namespace qor
