// The weaving window's graphics core: each pass it takes the compositor's stage buffer under
// its keyed mutex, draws it into the lens SDK weaver's side-by-side input (or straight onto
// the back buffer when weaving is off), hands the buffer back, weaves, lets the message layer
// draw, and presents.
#pragma once

#include "display/winpipe/display_log_writer.h"
#include "display/winpipe/window_pipe_protocol.h"
#include "gpu/device.h"
#include "gpu/draw.h"
#include "lenssdk/eye_tracker.h"
#include "weaver/panel_weaver.h"
#include "weaver/panel_window.h"
#include "weaver/plexa_settings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace qor::plexa {

class FrameCaptures;

// The stage buffer's owner releases it within this time when it has a new frame.
constexpr uint32_t kAcquireTimeoutMs = 35;
// The keyed-mutex keys: the compositor writes under 0 and hands over with 1.
constexpr uint64_t kCompositorKey = 0;
constexpr uint64_t kWindowKey = 1;

// Update and initialise results.
constexpr int kOk = 0;
constexpr int kFailed = 2;

// The eye positions the SDK's tracker delivers, kept for the main loop to send on.
class MyEyes final : public lens::EyePairListener {
public:
    MyEyes();
    ~MyEyes() override;
    void onEyePair(double leftX, double leftY, double leftZ, double rightX, double rightY, double rightZ) override;
    winpipe::EyePair Latest() const;
    // Listens on `stream` from now on, stopping the one it held.
    void Listen(std::shared_ptr<lens::EyePairStream> stream);

private:
    mutable std::mutex mutex_;
    winpipe::EyePair eyes_;
    std::shared_ptr<lens::EyePairStream> stream_;
};

// Drawn after weaving, before presenting; given the back buffer and the stage (null when none
// is open) with the context's target on the back buffer.
using MessageDrawer = std::function<void(gpu::DrawContext& context, gpu::Texture& backBuffer, gpu::Texture* stage)>;

struct OutputManagerOptions {
    WeavingSwitches switches;
    Size weaverInput = WeaverInputSize(PlexaSettings {});
    std::shared_ptr<winpipe::DisplayLogWriter> log;  // null: the log is off
};

class OutputManager {
public:
    explicit OutputManager(OutputManagerOptions options);
    ~OutputManager();
    OutputManager(const OutputManager&) = delete;
    OutputManager& operator=(const OutputManager&) = delete;

    // Device on the adapter (by LUID), the SDK's objects when weaving, the swap chain and the
    // pipeline; kOk or kFailed after the failing step's log line (what was made stays usable).
    int Initialize(PanelWindow& window, uint64_t adapterLuid, int adapterIndex, bool monitorFound);
    // Opens the stage buffer behind the handle, with its keyed mutex and view.
    void SetSharedHandle(uint64_t handle);
    // One pass; kFailed without a surface or on a failure, kOk otherwise (a timed-out acquire
    // included). `occluded` is set when the present reports the window occluded.
    int UpdateApplicationWindow(bool* occluded);
    // Releases everything, the SDK's objects first; called once at the end (and by the destructor).
    void Release();

    void SetMessageDrawer(MessageDrawer drawer) { messages_ = std::move(drawer); }
    bool Weaving() const { return switches_.weaving; }
    const MyEyes& Eyes() const { return eyes_; }
    gpu::Device* Device() const { return device_.get(); }
    gpu::Texture* Stage() const { return stage_.get(); }
    gpu::Texture* WeaverInput() const;
    SwapChain* Swap() const { return swapChain_.get(); }
    uint64_t PresentedFrames() const { return swapChain_ ? swapChain_->PresentedFrames() : 0; }
    // Lens-hint calls made so far, for the checks of the first-weave rule.
    bool LensHintEnabled() const { return lensHint_ && lensHint_->isEnabled(); }

private:
    void Log(winpipe::DisplayLogLevel level, const char* context, const std::string& message) const;
    void CreateLensObjects();
    void DrawFrame();

    WeavingSwitches switches_;
    Size weaverInput_;
    std::shared_ptr<winpipe::DisplayLogWriter> log_;
    uint32_t clientWidth_ = 0;
    uint32_t clientHeight_ = 0;

    std::unique_ptr<gpu::Device> device_;
    gpu::DrawContext* context_ = nullptr;
    std::unique_ptr<SwapChain> swapChain_;
    MessageDrawer messages_;

    MyEyes eyes_;
    std::unique_ptr<lens::LensContext> lensContext_;
    std::unique_ptr<lens::EyeTracker> tracker_;
    std::unique_ptr<lens::Screen> screen_;
    std::unique_ptr<lens::SwitchableLensHint> lensHint_;
    std::unique_ptr<PanelWeaver> weaver_;
    bool firstWeaveDone_ = false;

    std::unique_ptr<gpu::Texture> stage_;
    bool stageHasView_ = false;
    // What is presented, written beside it on POSIX, where windows may have no screen (shared:
    // the Windows build, which has none, never needs their destructor).
    std::shared_ptr<FrameCaptures> captures_;
    bool released_ = false;
};

}  // namespace qor::plexa
