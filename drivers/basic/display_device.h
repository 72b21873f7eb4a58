// CSampleDeviceDriver: the basic driver's stereo display device, a simulated head steered
// with the keyboard whose frames are shown in a desktop window.
#pragma once

#include "driver_api/driver_interfaces.h"
#include "drivers/basic/basic_settings.h"
#include "drivers/basic/display_window.h"
#include "drivers/basic/head_steering.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace qor {

class CSampleDeviceDriver final : public IQorDeviceServerDriver, public IQorDisplayComponent {
public:
    // A device without a window: frames and display states are only recorded.
    explicit CSampleDeviceDriver(const basic::BasicDriverSettings& settings);
    // The driver's device: its display window exists (hidden) when this returns.
    static std::unique_ptr<CSampleDeviceDriver> CreateWithWindow(const basic::BasicDriverSettings& settings);
    ~CSampleDeviceDriver() = default;
    CSampleDeviceDriver(const CSampleDeviceDriver&) = delete;
    CSampleDeviceDriver& operator=(const CSampleDeviceDriver&) = delete;

    // IQorDeviceServerDriver
    DriverResult Activate(uint32_t deviceIndex, uint32_t reserved) override;
    void Deactivate() override;
    void* GetComponent(const char* version) override;
    bool GetPose(XrPosef* pose, uint32_t reserved) override;

    // IQorDisplayComponent
    void GetFormFactor(int32_t* formFactor) override;
    void GetTrackingProperties(TrackingProperties* properties) override;
    DriverResult EnumerateViewConfigurations(uint32_t capacity, uint32_t* count, int32_t* types) override;
    void GetRecommendedRenderSize(uint32_t* width, uint32_t* height) override;
    void GetEyeFov(uint32_t eye, float* left, float* right, float* up, float* down) override;
    DriverResult LocateViews(uint32_t capacity, uint32_t* count, XrView* views) override;
    void PresentFrame(uint64_t sharedTextureHandle) override;
    void SetDisplayState(int32_t state) override;

    // Keyboard steering, for the window procedure; each holds the head-pose mutex.
    void SteerByArrow(basic::ArrowKey key);
    bool SteerByCharacter(char character);

    const basic::BasicDriverSettings& Settings() const { return settings_; }
    uint32_t DeviceIndex() const { return deviceIndex_.load(); }
    // The last state given to SetDisplayState (0 before the first call).
    int32_t DisplayState() const { return displayState_.load(); }
    // Whether the window is meant to be on screen: a non-zero state shows it, state 0 and
    // Deactivate hide it.
    bool WindowShown() const { return windowShown_.load(); }
    // The last handle given to PresentFrame (0 before the first frame).
    uint64_t LastFrameHandle() const { return lastFrameHandle_.load(); }
    // Null for a device made without a window.
    basic::DisplayWindow* Window() const { return window_.get(); }

private:
    const basic::BasicDriverSettings settings_;
    std::atomic<uint32_t> deviceIndex_;
    std::atomic<int32_t> displayState_ {0};
    std::atomic<bool> windowShown_ {false};
    std::atomic<uint64_t> lastFrameHandle_ {0};

    mutable std::mutex headMutex_;
    basic::HeadState head_;

    // Last: its thread steers the head, so it goes before the head and its mutex.
    std::unique_ptr<basic::DisplayWindow> window_;
};

}  // namespace qor
