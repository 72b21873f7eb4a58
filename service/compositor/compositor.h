// The compositor: draws each submitted frame side by side into the stage buffer and hands
// it to the display. It has no thread of its own; it runs inside xrEndFrame.
#pragma once

#include "gpu/device.h"
#include "gpu/draw.h"
#include "service/compositor/compositor_frame.h"

#include <openxr/openxr.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace qor {

class Compositor {
public:
    // The device to draw on, asked before each use; null while there is none.
    using DeviceSource = std::function<gpu::Device*()>;

    // Its stage buffer is made on the source's device at first use (again after Close or
    // ReleaseWhenIdle, or when the source gives another device).
    explicit Compositor(DeviceSource device);

    // Makes the stage buffer when it is missing; true when a frame can be drawn.
    bool PrepareStage();

    // A session's graphics API; the stage buffer is made then, if it is missing.
    void SetGraphicsApi(gpu::Api api);
    gpu::Api GraphicsApi() const;
    // Takes one layer of the session's frame; a projection layer's view poses and fields of
    // view are kept for the quad layers drawn after it.
    bool AddLayer(uint64_t session, std::unique_ptr<CompositorLayer> layer);
    // Draws the session's queued layers into the stage buffer and presents it on `target`;
    // true when a frame was composed and presented. Layers of other sessions are never
    // drawn in it. When the stage buffer cannot be taken the layers stay
    // queued for the next frame (those of the last kHeldFrames frames: older ones are
    // dropped, so a display side that never takes frames costs neither memory nor a flood of
    // stale draws later).
    bool DrawLayers(uint64_t session, const PresentTarget& target);
    // Drops the layers of a session that is gone.
    void ForgetSession(uint64_t session);
    // Hands the stage buffer back to the display side; the AcquireSync result.
    uint32_t ReleaseStageBuffer();
    // Releases the stage buffer and forgets the queue and the stored views.
    void Close();
    // The same, except for the graphics API, when `idle` (asked under the compositor's lock)
    // says no session is left: nothing is kept for a next session, whose first frame makes
    // the stage again. True when released.
    bool ReleaseWhenIdle(const std::function<bool()>& idle);

    // For tests: the layers waiting to be drawn.
    size_t QueuedLayers();

    static constexpr uint64_t kHeldFrames = 3;

private:
    struct QueuedLayer {
        std::unique_ptr<CompositorLayer> layer;
        uint64_t session;
        uint64_t frame;  // the DrawLayers call it was submitted for
    };

    // Makes the drawing objects when the source's device is not the one they were made on;
    // true when a frame can be drawn.
    bool ReadyLocked();
    void ReleaseObjectsLocked();
    // The drawing objects, the stage, the queue and the stored views.
    void ForgetEverythingLocked();
    void DrawProjectionLocked(const CompositorLayer& layer);
    void DrawQuadLocked(const CompositorLayer& layer);
    void PresentLocked(const PresentTarget& target);
    void DropOldFramesLocked();
    // One compositor-log line when the stage buffer's state changes (not one per frame).
    void NoteStageStateLocked(uint32_t syncResult);

    const DeviceSource deviceSource_;
    mutable std::mutex mutex_;  // serialises the queue, the stored views and the drawing
    gpu::Api graphicsApi_ = gpu::Api::D3D11;
    std::deque<QueuedLayer> queue_;
    uint64_t frame_ = 0;
    XrPosef storedPoses_[kProjectionViewCount] {};
    XrFovf storedFovs_[kProjectionViewCount] {};
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
