// The compositor: submitted layers drawn side by side into the shared stage buffer under its
// keyed mutex (key 0 while drawing, key 1 for the display side), then PollFrame on every
// provider and PresentFrame on the session's display.
#include "service/compositor/compositor.h"

#include "service/compositor/compositor_math.h"
#include "service/core/logger.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace qor {

namespace {
using compositor::Registers;

constexpr uint32_t kOutputWidth = 3840;
constexpr uint32_t kOutputHeight = 2160;
constexpr uint64_t kCompositorKey = 0;
constexpr uint64_t kDisplayKey = 1;
constexpr uint32_t kFrameAcquireMs = 1;
constexpr uint32_t kReleaseAcquireMs = 500;
constexpr float kNear = 0.05f;
constexpr float kFar = 100.0f;

constexpr gpu::Viewport kFullViewport {0, 0, float(kOutputWidth), float(kOutputHeight)};
constexpr gpu::Viewport kLeftViewport {0, 0, float(kOutputWidth / 2), float(kOutputHeight)};
constexpr gpu::Viewport kRightViewport {float(kOutputWidth / 2), 0, float(kOutputWidth / 2), float(kOutputHeight)};

bool IsSrgbFormat(int64_t format) {
    return format == gpu::format::kR8G8B8A8UnormSrgb || format == gpu::format::kB8G8R8A8UnormSrgb ||
           format == gpu::format::kB8G8R8X8UnormSrgb;
}

bool VisibleIn(int32_t eyeVisibility, uint32_t view) {
    switch (eyeVisibility) {
        case XR_EYE_VISIBILITY_BOTH: return true;
        case XR_EYE_VISIBILITY_LEFT: return view == 0;
        case XR_EYE_VISIBILITY_RIGHT: return view == 1;
        default: return false;
    }
}

// The layer's source while its swapchain exists; null once it is destroyed.
std::shared_ptr<const LayerImageSource> ExistingSource(const LayerImage& image) {
    auto source = image.lock();
    return source && source->Exists() ? source : nullptr;
}

// Two triangles over [x0, x1] × [y0, y1] in the order the pipelines draw them, bottom-left
// first, with the texture rect [u0, u1] × [v0, v1] (v0 at the top).
gpu::QuadVertices Rectangle(float x0, float y0, float x1, float y1, float u0, float v0, float u1, float v1) {
    return {{{{x0, y0, 0}, {u0, v1}},
             {{x0, y1, 0}, {u0, v0}},
             {{x1, y1, 0}, {u1, v0}},
             {{x0, y0, 0}, {u0, v1}},
             {{x1, y1, 0}, {u1, v0}},
             {{x1, y0, 0}, {u1, v1}}}};
}
}  // namespace

Compositor::Compositor(DeviceSource device) : deviceSource_(std::move(device)) {}

bool Compositor::PrepareStage() {
    std::lock_guard lock(mutex_);
    return ReadyLocked();
}

void Compositor::SetGraphicsApi(gpu::Api api) {
    std::lock_guard lock(mutex_);
    graphicsApi_ = api;
    ReadyLocked();
}

gpu::Api Compositor::GraphicsApi() const {
    std::lock_guard lock(mutex_);
    return graphicsApi_;
}

bool Compositor::AddLayer(uint64_t session, std::unique_ptr<CompositorLayer> layer) {
    if (!layer) return false;
    std::lock_guard lock(mutex_);
    if (layer->type == XR_TYPE_COMPOSITION_LAYER_PROJECTION) {
        // Quad layers drawn later are seen through these views.
        storedViewCount_ = std::min(layer->viewCount, kProjectionViewCount);
        for (uint32_t i = 0; i < storedViewCount_; ++i) {
            storedPoses_[i] = layer->views[i].pose;
            storedFovs_[i] = layer->views[i].fov;
        }
    }
    queue_.push_back({std::move(layer), session, frame_});
    return true;
}

void Compositor::ForgetSession(uint64_t session) {
    std::lock_guard lock(mutex_);
    std::erase_if(queue_, [session](const QueuedLayer& queued) { return queued.session == session; });
}

bool Compositor::DrawLayers(uint64_t session, const PresentTarget& target) {
    std::lock_guard lock(mutex_);
    ++frame_;
    if (!ReadyLocked()) {
        DropOldFramesLocked();
        return false;
    }
    const uint32_t acquired = stage_->AcquireSync(kCompositorKey, kFrameAcquireMs);
    NoteStageStateLocked(acquired);
    if (acquired != gpu::kSyncOk) {
        // An abandoned mutex is ours now; handing it back under our own key lets the next
        // frame take it instead of failing for ever.
        if (acquired == gpu::kSyncAbandoned) stage_->ReleaseSync(kCompositorKey);
        DropOldFramesLocked();
        return false;
    }
    if (!context_->SetRenderTarget(*stage_)) {
        stage_->ReleaseSync(kCompositorKey);
        DropOldFramesLocked();
        return false;
    }
    context_->Clear(0, 0, 0, 1);
    for (auto it = queue_.begin(); it != queue_.end();) {
        if (it->session != session) {
            ++it;
            continue;
        }
        const std::unique_ptr<CompositorLayer> layer = std::move(it->layer);
        it = queue_.erase(it);
        if (layer->type == XR_TYPE_COMPOSITION_LAYER_PROJECTION) {
            DrawProjectionLocked(*layer);
        } else if (layer->type == XR_TYPE_COMPOSITION_LAYER_QUAD) {
            DrawQuadLocked(*layer);
        }
    }
    // Another session's held layers age with the frames drawn here.
    DropOldFramesLocked();
    context_->Flush();
    stage_->ReleaseSync(kDisplayKey);
    PresentLocked(target);
    return true;
}

uint32_t Compositor::ReleaseStageBuffer() {
    std::lock_guard lock(mutex_);
    ReadyLocked();
    if (!stage_ || stageHandle_ == 0) return gpu::kSyncFailed;
    const uint32_t result = stage_->AcquireSync(kDisplayKey, kReleaseAcquireMs);
    // Abandoned also hands the mutex over: keeping it would block every later frame.
    if (result == gpu::kSyncOk || result == gpu::kSyncAbandoned) stage_->ReleaseSync(kCompositorKey);
    return result;
}

void Compositor::Close() {
    std::lock_guard lock(mutex_);
    ForgetEverythingLocked();
    graphicsApi_ = gpu::Api::D3D11;
}

bool Compositor::ReleaseWhenIdle(const std::function<bool()>& idle) {
    std::lock_guard lock(mutex_);
    // A session being made meanwhile has set its graphics API already; it is kept.
    if (!idle()) return false;
    ForgetEverythingLocked();
    return true;
}

size_t Compositor::QueuedLayers() {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

bool Compositor::ReadyLocked() {
    gpu::Device* device = deviceSource_ ? deviceSource_() : nullptr;
    if (device != device_) {
        ReleaseObjectsLocked();
        device_ = device;
        if (device == nullptr) return false;
        // In the order of initialisation; the first that cannot be made ends it. The blend
        // states come first and live in the draw context with the pipelines.
        context_ = gpu::ImmediateContext(*device);
        if (context_ == nullptr) return false;
        gpu::TextureDesc desc;
        desc.width = kOutputWidth;
        desc.height = kOutputHeight;
        desc.format = gpu::format::kR8G8B8A8UnormSrgb;
        desc.bindFlags = gpu::kBindRenderTarget | gpu::kBindShaderResource;
        desc.miscFlags = gpu::kMiscSharedKeyedMutex;
        stage_ = device->CreateTexture(desc);
        if (!stage_ || !stage_->CreateRenderTargetView(gpu::format::kR8G8B8A8UnormSrgb)) {
            LogCompositor("Stage buffer could not be created: no frame can be shown");
            return false;
        }
        stageHandle_ = stage_->SharedHandle();
        ready_ = stageHandle_ != 0;
        lastSyncResult_ = gpu::kSyncOk;
        LogCompositor(ready_ ? "Stage buffer created: 3840x2160, handle " + std::to_string(stageHandle_)
                             : std::string("Stage buffer has no shared handle: no frame can be shown"));
    }
    return ready_;
}

void Compositor::ForgetEverythingLocked() {
    ReleaseObjectsLocked();
    device_ = nullptr;  // the next use makes everything anew
    queue_.clear();
    frame_ = 0;
    storedViewCount_ = 0;
}

void Compositor::ReleaseObjectsLocked() {
    ready_ = false;
    stageHandle_ = 0;
    stage_.reset();
    context_ = nullptr;
}

void Compositor::DropOldFramesLocked() {
    while (!queue_.empty() && queue_.front().frame + kHeldFrames < frame_) queue_.pop_front();
}

void Compositor::NoteStageStateLocked(uint32_t syncResult) {
    if (syncResult == lastSyncResult_) return;
    char text[96];
    std::snprintf(text, sizeof text, "Stage buffer %08llx: AcquireSync(0) 0x%x (was 0x%x)",
                  static_cast<unsigned long long>(stageHandle_), syncResult, lastSyncResult_);
    LogCompositor(text);
    lastSyncResult_ = syncResult;
}

void Compositor::DrawProjectionLocked(const CompositorLayer& layer) {
    bool gammaCorrect = false;  // once set, it stays for the layer's later views
    for (uint32_t i = 0; i < layer.viewCount && i < kProjectionViewCount; ++i) {
        const CompositorView& view = layer.views[i];
        const auto source = ExistingSource(view.image);
        if (!source) return;  // the rest of this layer is not drawn
        if ((source->ImageUsageFlags() & XR_SWAPCHAIN_USAGE_DEPTH_STENCIL_ATTACHMENT_BIT) != 0) continue;
        if (IsSrgbFormat(source->ImageFormat())) gammaCorrect = true;
        gpu::Texture* image = source->ReleasedImage();
        if (image == nullptr || source->ImageWidth() == 0 || source->ImageHeight() == 0) continue;

        const double width = source->ImageWidth();
        const double height = source->ImageHeight();
        const XrRect2Di& rect = view.imageRect;
        const auto uL = static_cast<float>(rect.offset.x / width);
        const auto uR = static_cast<float>((double(rect.offset.x) + rect.extent.width) / width);
        const auto vT = static_cast<float>(rect.offset.y / height);
        const auto vB = static_cast<float>((double(rect.offset.y) + rect.extent.height) / height);
        const float x0 = i == 0 ? -1.0f : 0.0f;
        const float x1 = i == 0 ? 0.0f : 1.0f;
        context_->DrawProjection(Rectangle(x0, -1, x1, 1, uL, vT, uR, vB), Registers(compositor::kIdentity),
                                 kFullViewport, *image, view.imageArrayIndex, gammaCorrect);
    }
}

void Compositor::DrawQuadLocked(const CompositorLayer& layer) {
    const auto source = ExistingSource(layer.image);
    if (!source) return;
    gpu::Texture* image = source->ReleasedImage();
    if (image == nullptr) return;
    // The whole image over the layer's size, centred on its origin in its own plane.
    const float w = layer.size.width / 2;
    const float h = layer.size.height / 2;
    const gpu::QuadVertices vertices = Rectangle(-w, -h, w, h, 0, 0, 1, 1);
    const gpu::Matrix model = Registers(compositor::PoseMatrix(layer.pose));
    for (uint32_t i = 0; i < storedViewCount_; ++i) {
        if (!VisibleIn(layer.eyeVisibility, i)) continue;
        const compositor::Matrix4 viewProjection = compositor::Multiply(
            compositor::ProjectionMatrix(storedFovs_[i], kNear, kFar), compositor::InversePoseMatrix(storedPoses_[i]));
        context_->DrawQuad(vertices, model, Registers(viewProjection), i == 0 ? kLeftViewport : kRightViewport, *image);
    }
}

void Compositor::PresentLocked(const PresentTarget& target) {
    for (IServerDeviceProvider* provider : target.Providers()) {
        if (provider != nullptr) provider->PollFrame();
    }
    if (IQorDisplayComponent* display = target.Display()) display->PresentFrame(stageHandle_);
}

}  // namespace qor
