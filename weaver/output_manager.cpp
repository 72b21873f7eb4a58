#include "weaver/output_manager.h"

#include "lenssdk/eye_tracker.h"

#if !defined(_WIN32)
#include "weaver/frame_captures.h"
#endif

#include <cstdio>

namespace qor::plexa {

namespace {

using winpipe::DisplayLogLevel;

constexpr const char* kInitContext = "OUTPUTMANAGER::InitOutpu():";
constexpr const char* kHandleContext = "OUTPUTMANAGER::SetSharedHandle():";
constexpr const char* kUpdateContext = "OUTPUTMANAGER::UpdateApplicationWindow():";
constexpr const char* kDrawContext = "OUTPUTMANAGER::DrawFrame():";
// The SDK's network mode for a tracker on this machine.
constexpr int kLensNetworkMode = 5;
// The eyes until the tracker's first pair: a viewer centred 600 mm away.
constexpr winpipe::EyePair kEyesAtRest {{-30.0f, 0.0f, 600.0f}, {30.0f, 0.0f, 600.0f}};

gpu::Viewport ViewportOf(uint32_t width, uint32_t height) {
    return gpu::Viewport {0.0f, 0.0f, float(width), float(height)};
}

}  // namespace

MyEyes::MyEyes() : eyes_(kEyesAtRest) {}

// The stream stops before the positions it writes go away.
MyEyes::~MyEyes() {
    if (stream_) stream_->stopListening();
}

void MyEyes::onEyePair(double leftX, double leftY, double leftZ, double rightX, double rightY, double rightZ) {
    std::lock_guard lock(mutex_);
    eyes_ = {{float(leftX), float(leftY), float(leftZ)}, {float(rightX), float(rightY), float(rightZ)}};
}

winpipe::EyePair MyEyes::Latest() const {
    std::lock_guard lock(mutex_);
    return eyes_;
}

void MyEyes::Listen(std::shared_ptr<lens::EyePairStream> stream) {
    if (stream_) stream_->stopListening();
    stream_ = std::move(stream);
}

OutputManager::OutputManager(OutputManagerOptions options)
    : switches_(options.switches), weaverInput_(options.weaverInput), log_(std::move(options.log)) {
#if !defined(_WIN32)
    captures_ = FrameCaptures::FromEnvironment();
#endif
}

OutputManager::~OutputManager() { Release(); }

void OutputManager::Log(DisplayLogLevel level, const char* context, const std::string& message) const {
    if (log_) log_->Write(level, context, message);
}

gpu::Texture* OutputManager::WeaverInput() const { return weaver_ ? weaver_->Input() : nullptr; }

int OutputManager::Initialize(PanelWindow& window, uint64_t adapterLuid, int adapterIndex, bool monitorFound) {
    if (log_) log_->Writef(DisplayLogLevel::Info, kInitContext, "Enter!! MonitorID=%d, GpuID=%d.", monitorFound ? 1 : 0,
                           adapterIndex);
    std::string error;
    device_ = gpu::CreateDevice(gpu::Api::D3D11, adapterLuid, &error);
    if (!device_) {
        Log(DisplayLogLevel::Info, kInitContext, "D3D Device create failed");
        return kFailed;
    }
    context_ = gpu::ImmediateContext(*device_);
    clientWidth_ = window.ClientWidth();
    clientHeight_ = window.ClientHeight();
    if (switches_.weaving) CreateLensObjects();

    Log(DisplayLogLevel::Info, kInitContext, "Get Output Monitor");
    swapChain_ = window.CreateSwapChain(*device_, monitorFound, &error);
    if (!swapChain_ || context_ == nullptr) {
        Log(DisplayLogLevel::Info, kInitContext, " Window Swapchain create failed");
        return kFailed;
    }
    if (!context_->SetRenderTarget(swapChain_->BackBuffer())) {
        Log(DisplayLogLevel::Info, kInitContext, "Render Target View create failed");
        Log(DisplayLogLevel::Info, kInitContext, "Target View make failed");
        return kFailed;
    }
    Log(DisplayLogLevel::Info, kInitContext, "Exit");
    return kOk;
}

void OutputManager::CreateLensObjects() {
    lensContext_ = std::make_unique<lens::LensContext>(kLensNetworkMode);
    tracker_ = lens::EyeTracker::create(*lensContext_);
    if (tracker_) eyes_.Listen(tracker_->openEyePairStream(&eyes_));
    screen_ = lens::Screen::create(*lensContext_);
    if (switches_.lensHint) lensHint_ = lens::SwitchableLensHint::create(*lensContext_);
    weaver_ = CreatePanelWeaver(*lensContext_, *device_, context_, weaverInput_.width, weaverInput_.height);
    lensContext_->initialize();
    // The hint starts switched off; the first woven frame switches the lens layer on.
    if (lensHint_) lensHint_->disable();
}

void OutputManager::SetSharedHandle(uint64_t handle) {
    if (log_) log_->Writef(DisplayLogLevel::Info, kHandleContext, "Hnd=%0x", unsigned(handle));
    stage_.reset();
    stageHasView_ = false;
    if (!device_) {
        Log(DisplayLogLevel::Error, kHandleContext, "Open SharedSurface failed");
        return;
    }
    std::unique_ptr<gpu::Texture> stage = device_->OpenSharedTexture(handle);
    if (!stage) {
        Log(DisplayLogLevel::Error, kHandleContext, "Open SharedSurface failed");
        return;
    }
    if ((stage->Desc().miscFlags & gpu::kMiscSharedKeyedMutex) == 0) {
        Log(DisplayLogLevel::Error, kHandleContext, "Query Key Mutex failed");
        return;
    }
    stageHasView_ = stage->CreateShaderResourceView(stage->Desc().format);
    if (!stageHasView_) {
        Log(DisplayLogLevel::Error, kHandleContext, "Shader Resource create failed");
        std::fprintf(stderr, "Failed to create shader resource 11111111111111111111\n");
    }
    stage_ = std::move(stage);
}

int OutputManager::UpdateApplicationWindow(bool* occluded) {
    if (!stage_) return kFailed;
    const uint32_t acquired = stage_->AcquireSync(kWindowKey, kAcquireTimeoutMs);
    if (acquired == gpu::kSyncTimeout) {
        Log(DisplayLogLevel::Error, kUpdateContext, "Acquire Keyed Mutex TimeOut");
        stage_->ReleaseSync(kCompositorKey);
        if (context_) context_->Flush();
        return kOk;
    }
    if (acquired != gpu::kSyncOk) {
        // An abandoned mutex is held now: handing it back lets the next writer go on.
        stage_->ReleaseSync(kCompositorKey);
        if (context_) context_->Flush();
        Log(DisplayLogLevel::Info, kUpdateContext, "Acquire Keyed Mutex failed");
        return kFailed;
    }
    DrawFrame();
    const bool released = stage_->ReleaseSync(kCompositorKey);
    if (context_) context_->Flush();
    if (device_) device_->WaitIdle();
    if (!released) {
        Log(DisplayLogLevel::Info, kUpdateContext, "Release Keyed Mutex Failed");
        return kFailed;
    }
    if (!swapChain_ || context_ == nullptr) return kFailed;
    gpu::Texture& backBuffer = swapChain_->BackBuffer();
    context_->SetRenderTarget(backBuffer);
    if (switches_.weaving && weaver_) weaver_->Weave(*context_, backBuffer, clientWidth_, clientHeight_);
    if (messages_) messages_(*context_, backBuffer, stage_.get());
    context_->Flush();
    switch (swapChain_->Present()) {
    case PresentResult::Occluded:
        Log(DisplayLogLevel::Info, kUpdateContext, "Swapchain Present Occluded");
        if (occluded) *occluded = true;
        return kOk;
    case PresentResult::Failed:
        Log(DisplayLogLevel::Info, kUpdateContext, "Swapchain Present Failed");
        return kFailed;
    case PresentResult::Ok:
        break;
    }
#if !defined(_WIN32)
    if (captures_ && weaver_ && weaver_->Input() != nullptr) {
        const winpipe::EyePair eyes = eyes_.Latest();
        const lens::EyePair woven {{eyes.left.x, eyes.left.y, eyes.left.z}, {eyes.right.x, eyes.right.y, eyes.right.z}};
        captures_->OnPresented(swapChain_->PresentedFrames(), *weaver_->Input(), backBuffer, weaver_->Settings(),
                               woven);
    }
#endif
    return kOk;
}

void OutputManager::DrawFrame() {
    if (context_ == nullptr || !swapChain_) return;
    gpu::Texture* target = &swapChain_->BackBuffer();
    gpu::Viewport viewport = ViewportOf(clientWidth_, clientHeight_);
    if (switches_.weaving) {
        if (!firstWeaveDone_ && lensHint_) {
            firstWeaveDone_ = true;
            if (lensHint_->isEnabled()) {
                Log(DisplayLogLevel::Error, kDrawContext,
                    "lensHint->isEnabled() return enabled at first Weaving; force lensHint->enable()!!");
            }
            lensHint_->enable();
        }
        viewport = ViewportOf(weaverInput_.width, weaverInput_.height);
        target = weaver_ ? weaver_->Input() : nullptr;
        if (target == nullptr || !context_->SetRenderTarget(*target)) return;
        // The opaque copy below covers every pixel of the input; without a view the clear is
        // what the weaver gets.
        if (!stageHasView_) context_->Clear(0.0f, 0.0f, 0.0f, 1.0f);
    } else if (!context_->SetRenderTarget(*target)) {
        return;
    }
    // Without a view nothing is bound at slot 0: the pass draws no texture.
    if (stageHasView_) context_->DrawCopy(*stage_, viewport, 0.0f, 0.0f, 1.0f, 1.0f);
}

void OutputManager::Release() {
    if (released_) return;
    released_ = true;
    if (lensHint_) lensHint_->disable();
    weaver_.reset();
    lensHint_.reset();
    screen_.reset();
    eyes_.Listen(nullptr);
    tracker_.reset();
    lensContext_.reset();
    captures_.reset();
    stage_.reset();
    swapChain_.reset();
    context_ = nullptr;
    device_.reset();
}

}  // namespace qor::plexa
