// The compositor: draws each submitted frame side by side into the stage buffer and hands
// it to the display. It has no thread of its own; it runs inside xrEndFrame.
#pragma once

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
    // Created on first use.
    static Compositor& Get();

    void SetGraphicsApi(int32_t api);
    int32_t GraphicsApi() const;
    // Takes one layer; a projection layer's view poses and fields of view are kept for the
    // quad layers drawn after it.
    bool AddLayer(std::unique_ptr<CompositorLayer> layer);
    // Draws the queued layers for the session; true when a frame was composed and presented.
    bool DrawLayers(uint64_t session);
    // Hands the stage buffer back to the display side; the AcquireSync result.
    uint32_t ReleaseStageBuffer();
    void Close();

    // For tests: the layers waiting to be drawn.
    size_t QueuedLayers();

private:
    mutable std::mutex mutex_;
    int32_t graphicsApi_ = 1;
    std::deque<std::unique_ptr<CompositorLayer>> queue_;
    XrPosef storedPoses_[2] {};
    XrFovf storedFovs_[2] {};
    uint32_t storedViewCount_ = 0;
};

}  // namespace qor
