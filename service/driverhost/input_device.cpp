#include "service/driverhost/input_device.h"

#include "service/core/service_clock.h"

#include <cstring>

namespace qor {

uint64_t PathHash(std::string_view path) {
    constexpr uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ULL;  // of 64-bit FNV-1a
    constexpr uint64_t kFnvPrime = 0x100000001b3ULL;
    uint64_t hash = kFnvOffsetBasis;
    for (char c : path) {
        hash ^= static_cast<uint8_t>(c);
        hash *= kFnvPrime;
    }
    return hash;
}

uint64_t ImplQorInputDevice::AddComponent(std::string_view userPath, std::string_view componentPath,
                                          ComponentDirection direction, ComponentKind kind) {
    auto component = std::make_unique<InputComponent>();
    component->componentPath = componentPath;
    component->userPath = userPath;
    component->userPathValue = PathHash(userPath);
    component->fullPath = std::string(userPath) + std::string(componentPath);
    component->fullPathValue = PathHash(component->fullPath);
    component->direction = direction;
    component->kind = kind;
    const uint64_t value = component->fullPathValue;
    return components_.emplace(value, std::move(component)).second ? value : 0;
}

InputComponent* ImplQorInputDevice::FindComponent(uint64_t fullPathValue) {
    const auto found = components_.find(fullPathValue);
    return found == components_.end() ? nullptr : found->second.get();
}

DriverResult ImplQorInputDevice::BindComponent(uint64_t /*container*/, const char* fullPath, uint64_t* handle,
                                               int32_t /*kindHint*/) {
    // The kind comes from the path, not from the driver's hint.
    if (fullPath == nullptr) return kDriverOk;
    const uint64_t value = PathHash(fullPath);
    InputComponent* component = FindComponent(value);
    if (component == nullptr) return kDriverOk;  // unknown paths bind nothing and leave *handle
    if (handle != nullptr) *handle = value;
    std::lock_guard lock(component->lock);
    component->driverBound = 1;
    return kDriverOk;
}

void ImplQorInputDevice::Synchronise(InputComponent& component) {
    std::lock_guard lock(component.lock);
    switch (component.kind) {
    case ComponentKind::Boolean:
        component.changed = component.liveBoolean != component.syncedBoolean;
        component.syncedBoolean = component.liveBoolean;
        break;
    case ComponentKind::Float:
        // NaN compares unequal to itself, so a NaN value counts as changed at every sync.
        component.changed = !(component.liveFloat == component.syncedFloat);
        component.syncedFloat = component.liveFloat;
        break;
    case ComponentKind::Vector2:
        component.changed = std::memcmp(&component.liveVector, &component.syncedVector, sizeof component.liveVector) != 0;
        component.syncedVector = component.liveVector;
        break;
    case ComponentKind::Pose:
        component.changed = std::memcmp(&component.livePose, &component.syncedPose, sizeof component.livePose) != 0;
        component.syncedPose = component.livePose;
        break;
    case ComponentKind::Haptic:
        return;
    }
    component.syncTime = clock_.NowMicroseconds();
}

template <typename Store>
DriverResult ImplQorInputDevice::Update(uint64_t handle, ComponentKind kind, const Store& store) {
    InputComponent* component = FindComponent(handle);
    if (component == nullptr) return kDriverUnknownComponent;
    if (component->kind != kind) return kDriverWrongComponentKind;
    std::lock_guard lock(component->lock);
    if (store(*component)) component->updateTime = clock_.NowMicroseconds();
    return kDriverOk;
}

DriverResult ImplQorInputDevice::UpdateBooleanComponent(uint64_t handle, XrBool32 value) {
    return Update(handle, ComponentKind::Boolean, [value](InputComponent& c) {
        c.liveBoolean = value;
        return true;
    });
}

DriverResult ImplQorInputDevice::UpdateScalarComponent(uint64_t handle, float value) {
    return Update(handle, ComponentKind::Float, [value](InputComponent& c) {
        c.liveFloat = value;
        return true;
    });
}

DriverResult ImplQorInputDevice::UpdateVector2Component(uint64_t handle, XrVector2f value) {
    return Update(handle, ComponentKind::Vector2, [value](InputComponent& c) {
        c.liveVector = value;
        return true;
    });
}

DriverResult ImplQorInputDevice::UpdatePoseComponent(uint64_t handle, const XrPosef* value) {
    // A null pose changes nothing, not even the time stamp.
    return Update(handle, ComponentKind::Pose, [value](InputComponent& c) {
        if (value == nullptr) return false;
        std::memcpy(&c.livePose, value, sizeof c.livePose);
        return true;
    });
}

}  // namespace qor
