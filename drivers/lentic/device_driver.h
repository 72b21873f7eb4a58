// CLenticDeviceDriver: the stereoscopic panel as the service's display device. It draws
// nothing: views come from the eye positions the window service holds, and frames go to the
// weaving window as the stage buffer's shared handle.
#pragma once

#include "display/winpipe/display_log_writer.h"
#include "driver_api/driver_interfaces.h"
#include "drivers/lentic/lentic_settings.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace qor {

namespace lentic {
// The index of a device that is not active.
constexpr uint64_t kNoObjectId = 0xFFFFFFFF;
// SetDisplayState's value for an application that wants the stereoscopic display off.
constexpr int32_t kDisplayStateLensOff = 999;
}  // namespace lentic

class CLenticDeviceDriver final : public IQorDeviceServerDriver, public IQorDisplayComponent {
public:
    // `log` is the display-side log, null when its switch is off.
    CLenticDeviceDriver(const lentic::LenticSettings& settings, std::shared_ptr<winpipe::DisplayLogWriter> log);
    ~CLenticDeviceDriver() = default;
    CLenticDeviceDriver(const CLenticDeviceDriver&) = delete;
    CLenticDeviceDriver& operator=(const CLenticDeviceDriver&) = delete;

    // IQorDeviceServerDriver
    DriverResult Activate(uint32_t deviceIndex, uint32_t reserved) override;
    void Deactivate() override;
    // The display component for "IQorDisplayComponent_001" in any case; null otherwise.
    void* GetComponent(const char* version) override;
    // The panel has no pose of its own: true, nothing written.
    bool GetPose(XrPosef* pose, uint32_t reserved) override;

    // IQorDisplayComponent
    void GetFormFactor(int32_t* formFactor) override;
    void GetTrackingProperties(TrackingProperties* properties) override;
    DriverResult EnumerateViewConfigurations(uint32_t capacity, uint32_t* count, int32_t* types) override;
    void GetRecommendedRenderSize(uint32_t* width, uint32_t* height) override;
    void GetEyeFov(uint32_t eye, float* left, float* right, float* up, float* down) override;
    // Count 2 always; capacity 0: 0, capacity 1: 201; otherwise one fetch of the eye positions
    // (command 5) and 0, or 202 when no well-formed pair came back.
    DriverResult LocateViews(uint32_t capacity, uint32_t* count, XrView* views) override;
    // Sends command 2 with the handle text and the enable flag when the handle is new.
    void PresentFrame(uint64_t sharedTextureHandle) override;
    // 0: command 1, then "PlexaCloseMSG" to the weaving window, and the next frame opens it
    // again; 999: the enable flag 0; any other value: the enable flag 1.
    void SetDisplayState(int32_t state) override;

private:
    DriverResult FetchAndFillViews(XrView* views);
    void SendOpenApp(uint64_t sharedTextureHandle);
    void SendCloseApp();
    void Log(winpipe::DisplayLogLevel level, const char* context, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 4, 5)))
#endif
        ;

    uint64_t objectId_ = lentic::kNoObjectId;
    // Written by the compositor's and the sessions' threads without a lock: atomics keep the
    // plain-field semantics without a data race.
    std::atomic<uint64_t> lastPresentedHandle_ {0};
    std::atomic<int32_t> displayEnable_ {1};
    const lentic::LenticSettings settings_;
    const std::shared_ptr<winpipe::DisplayLogWriter> log_;
};

}  // namespace qor
