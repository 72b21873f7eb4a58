#include "service/compositor/compositor.h"

namespace qor {

Compositor& Compositor::Get() {
    static auto* compositor = new Compositor;  // never destroyed: request threads may still draw
    return *compositor;
}

void Compositor::SetGraphicsApi(int32_t api) {
    std::lock_guard lock(mutex_);
    graphicsApi_ = api;
}

int32_t Compositor::GraphicsApi() const {
    std::lock_guard lock(mutex_);
    return graphicsApi_;
}

bool Compositor::AddLayer(std::unique_ptr<CompositorLayer> layer) {
    if (!layer) return false;
    std::lock_guard lock(mutex_);
    if (layer->type == XR_TYPE_COMPOSITION_LAYER_PROJECTION) {
        // Quad layers drawn later are seen through these views.
        storedViewCount_ = layer->viewCount;
        for (uint32_t i = 0; i < 2 && i < layer->viewCount; ++i) {
            storedPoses_[i] = layer->views[i].pose;
            storedFovs_[i] = layer->views[i].fov;
        }
    }
    queue_.push_back(std::move(layer));
    return true;
}

bool Compositor::DrawLayers(uint64_t) {
    std::lock_guard lock(mutex_);
    // Drawing into the stage buffer comes with the graphics work; until then a frame only
    // consumes its layers.
    queue_.clear();
    return true;
}

uint32_t Compositor::ReleaseStageBuffer() {
    std::lock_guard lock(mutex_);
    return 0;
}

void Compositor::Close() {
    std::lock_guard lock(mutex_);
    queue_.clear();
}

size_t Compositor::QueuedLayers() {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

}  // namespace qor
