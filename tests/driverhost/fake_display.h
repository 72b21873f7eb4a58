// An in-process device for the registration tests: a display (or, without a component, any
// device) whose answers the test sets and whose calls it records.
#pragma once

#include "driver_api/driver_interfaces.h"

#include <cctype>
#include <functional>
#include <string>
#include <vector>

namespace qor::test {

class FakeDisplay final : public IQorDeviceServerDriver, public IQorDisplayComponent {
public:
    bool hasComponent = true;
    uint32_t width = 0;
    uint32_t height = 0;
    int32_t formFactor = XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY;
    TrackingProperties tracking {XR_TRUE, XR_FALSE};
    std::function<void()> onActivate;

    std::vector<uint32_t> activations;
    int componentRequests = 0;
    int sizeRequests = 0;
    std::vector<int32_t> displayStates;
    uint64_t presentedHandle = 0;  // of the last PresentFrame

    IQorDisplayComponent* Component() { return this; }

    DriverResult Activate(uint32_t deviceIndex, uint32_t) override {
        activations.push_back(deviceIndex);
        if (onActivate) onActivate();
        return kDriverOk;
    }
    void Deactivate() override {}
    void* GetComponent(const char* version) override {
        ++componentRequests;
        std::string lower(version);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return hasComponent && lower == "iqordisplaycomponent_001" ? Component() : nullptr;
    }
    bool GetPose(XrPosef*, uint32_t) override { return false; }

    void GetFormFactor(int32_t* value) override { *value = formFactor; }
    void GetTrackingProperties(TrackingProperties* value) override { *value = tracking; }
    DriverResult EnumerateViewConfigurations(uint32_t, uint32_t*, int32_t*) override { return kDriverOk; }
    void GetRecommendedRenderSize(uint32_t* w, uint32_t* h) override {
        ++sizeRequests;
        *w = width;
        *h = height;
    }
    void GetEyeFov(uint32_t, float*, float*, float*, float*) override {}
    DriverResult LocateViews(uint32_t, uint32_t*, XrView*) override { return kDriverOk; }
    void PresentFrame(uint64_t handle) override { presentedHandle = handle; }
    void SetDisplayState(int32_t state) override { displayStates.push_back(state); }
};

}  // namespace qor::test
