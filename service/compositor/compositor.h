// The compositor: draws each submitted frame side by side into the stage buffer and hands
// it to the display. It has no thread of its own; it runs inside xrEndFrame.
#pragma once

#include "gpu/device.h"
#include "gpu/draw.h"

#include <openxr/openxr.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

namespace qor {

struct CompositorView {
    uint32_t type = 0;
    uint64_t next = 0;
    XrPosef pose {};
    XrFovf fov {};
    uint64_t swapchain = 0;
    XrRect2Di imageRect {};
    uint32_t imageArrayIndex = 0;
};

// A layer as xrEndFrame hands it over (the compositor owns it from then on).
struct CompositorLayer {
    uint32_t type = 0;  // XR_TYPE_COMPOSITION_LAYER_PROJECTION or _QUAD
    uint64_t next = 0;
    uint64_t layerFlags = 0;
    uint64_t space = 0;
    // Projection: two views.
    uint32_t viewCount = 0;
    CompositorView views[2];
    // Quad.
    int32_t eyeVisibility = 0;
    uint64_t swapchain = 0;
    XrRect2Di imageRect {};
    uint32_t imageArrayIndex = 0;
    XrPosef pose {};
    XrExtent2Df size {};
};

class Compositor {
public:
    // Created on first use, and its stage buffer made on the service's Direct3D 11 device
    // (again after Close, or when that device has changed).
    static Compositor& Get();

    void SetGraphicsApi(int32_t api);
    int32_t GraphicsApi() const;
    // Takes one layer of the session's frame; a projection layer's view poses and fields of
    // view are kept for the quad layers drawn after it.
    bool AddLayer(uint64_t session, std::unique_ptr<CompositorLayer> layer);
    // Draws the session's queued layers into the stage buffer and presents it on the
    // session's display; true when a frame was composed and presented. Layers of other
    // sessions are never drawn in it. When the stage buffer cannot be taken the layers stay
    // queued for the next frame (those of the last kHeldFrames frames: older ones are
    // dropped, so a display side that never takes frames costs neither memory nor a flood of
    // stale draws later).
    bool DrawLayers(uint64_t session);
    // Drops the layers of a session that is gone.
    void ForgetSession(uint64_t session);
    // Hands the stage buffer back to the display side; the AcquireSync result.
    uint32_t ReleaseStageBuffer();
    // Releases the stage buffer and forgets the queue and the stored views.
    void Close();

    // For tests: the layers waiting to be drawn.
    size_t QueuedLayers();

    static constexpr uint64_t kHeldFrames = 3;

private:
    struct QueuedLayer {
        std::unique_ptr<CompositorLayer> layer;
        uint64_t session;
        uint64_t frame;  // the DrawLayers call it was submitted for
    };

    Compositor() = default;
    // Makes the drawing objects when the service's device is not the one they were made on;
    // true when a frame can be drawn.
    bool ReadyLocked();
    void ReleaseObjectsLocked();
    void DrawProjectionLocked(const CompositorLayer& layer);
    void DrawQuadLocked(const CompositorLayer& layer);
    void PresentLocked(uint64_t session);
    void DropOldFramesLocked();
    // One compositor-log line when the stage buffer's state changes (not one per frame).
    void NoteStageStateLocked(uint32_t syncResult);

    mutable std::mutex mutex_;  // serialises the queue, the stored views and the drawing
    int32_t graphicsApi_ = 1;
    std::deque<QueuedLayer> queue_;
    uint64_t frame_ = 0;
    XrPosef storedPoses_[2] {};
    XrFovf storedFovs_[2] {};
    uint32_t storedViewCount_ = 0;

    // Made on device_ in the order of initialisation; ready_ once all of them exist.
    gpu::Device* device_ = nullptr;
    gpu::DrawContext* context_ = nullptr;
    std::unique_ptr<gpu::Texture> stage_;
    uint64_t stageHandle_ = 0;
    bool ready_ = false;
    uint32_t lastSyncResult_ = 0;  // of the last AcquireSync of a frame, for the log
};

}  // namespace qor
