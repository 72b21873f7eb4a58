// The service's store of input and output components: drivers bind and feed them through
// IQorInputDevice, actions read them. A component's handle is the FNV-1a hash of its full path.
#pragma once

#include "service/core/service_clock.h"

#include "driver_api/driver_interfaces.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace qor {

// 64-bit FNV-1a of the path's bytes: the value of an XrPath and the handle of a component.
uint64_t PathHash(std::string_view path);

enum class ComponentKind : uint32_t { Boolean = 0, Float = 1, Vector2 = 2, Pose = 3, Haptic = 1000 };
enum class ComponentDirection : uint32_t { Input = 0, Output = 1 };

inline constexpr XrPosef kIdentityPose {{0.0f, 0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 0.0f}};

// One input or output source such as "/user/hand/left" + "/input/trigger/value".
struct InputComponent {
    std::string componentPath;
    uint64_t fullPathValue = 0;
    uint64_t userPathValue = 0;
    std::string userPath;
    std::string fullPath;
    ComponentDirection direction = ComponentDirection::Input;
    ComponentKind kind = ComponentKind::Boolean;

    // Guards every member below; never hold two components' locks at once.
    std::mutex lock;
    XrBool32 liveBoolean = XR_FALSE;
    float liveFloat = 0.0f;
    XrVector2f liveVector {0.0f, 0.0f};
    XrPosef livePose = kIdentityPose;
    XrBool32 syncedBoolean = XR_FALSE;
    float syncedFloat = 0.0f;
    XrVector2f syncedVector {0.0f, 0.0f};
    XrPosef syncedPose = kIdentityPose;
    int64_t updateTime = 0;  // service clock at the last driver update (lastChangeTime)
    int64_t syncTime = 0;    // service clock at the last synchronisation
    uint8_t changed = 0;     // changedSinceLastSync
    uint8_t driverBound = 0; // set by BindComponent; isActive
};

class ImplQorInputDevice final : public IQorInputDevice {
public:
    // Update times are read from `clock`.
    explicit ImplQorInputDevice(const ServiceClock& clock) : clock_(clock) {}
    ImplQorInputDevice(const ImplQorInputDevice&) = delete;
    ImplQorInputDevice& operator=(const ImplQorInputDevice&) = delete;

    // Fills the tables: call only while no driver runs (the map itself has no lock, as it is
    // complete before any driver is loaded). Returns the full-path value, or 0 when the
    // component already exists (the first one stays).
    uint64_t AddComponent(std::string_view userPath, std::string_view componentPath, ComponentDirection direction,
                          ComponentKind kind);
    // Null when no component has this full-path value.
    InputComponent* FindComponent(uint64_t fullPathValue);
    size_t ComponentCount() const { return components_.size(); }
    // Copies the live value of the component's kind into its synced value (xrSyncActions),
    // noting whether it changed; haptic outputs have nothing to copy.
    void Synchronise(InputComponent& component);

    // IQorInputDevice
    DriverResult BindComponent(uint64_t container, const char* fullPath, uint64_t* handle, int32_t kindHint) override;
    DriverResult UpdateBooleanComponent(uint64_t handle, XrBool32 value) override;
    DriverResult UpdateScalarComponent(uint64_t handle, float value) override;
    DriverResult UpdateVector2Component(uint64_t handle, XrVector2f value) override;
    DriverResult UpdatePoseComponent(uint64_t handle, const XrPosef* value) override;
    DriverResult Reserved5(uint64_t /*handle*/) override { return kDriverOk; }

private:
    const ServiceClock& clock_;
    template <typename Store>
    DriverResult Update(uint64_t handle, ComponentKind kind, const Store& store);

    std::map<uint64_t, std::unique_ptr<InputComponent>> components_;
};

}  // namespace qor
