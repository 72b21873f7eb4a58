// What xrEndFrame hands the compositor: the frame's layers with the images they draw from,
// and where the drawn frame goes.
#pragma once

#include "driver_api/driver_interfaces.h"
#include "gpu/device.h"

#include <openxr/openxr.h>

#include <cstdint>
#include <memory>
#include <span>

namespace qor {

// What a layer draws from: a swapchain, read when the layer is drawn (which may be a few
// frames after it was submitted, while the stage buffer is busy).
class LayerImageSource {
public:
    // False once the swapchain is destroyed; what is left of a layer drawing from it is skipped.
    virtual bool Exists() const = 0;
    // The image the application released last; null when there is none to show.
    virtual gpu::Texture* ReleasedImage() const = 0;
    virtual uint32_t ImageWidth() const = 0;
    virtual uint32_t ImageHeight() const = 0;
    virtual int64_t ImageFormat() const = 0;       // DXGI_FORMAT
    virtual uint64_t ImageUsageFlags() const = 0;  // XrSwapchainUsageFlags

protected:
    ~LayerImageSource() = default;
};

// Layers hold their images weakly, so a destroyed swapchain's textures go at once and are
// not kept alive by frames waiting in the queue.
using LayerImage = std::weak_ptr<const LayerImageSource>;

// Where a drawn frame goes: each provider is polled, then the display presents the stage
// buffer. Both are asked only once the frame is drawn.
class PresentTarget {
public:
    virtual std::span<IServerDeviceProvider* const> Providers() const = 0;
    // Null when the frame is shown nowhere (its session is gone, or has no display).
    virtual IQorDisplayComponent* Display() const = 0;

protected:
    ~PresentTarget() = default;
};

// A projection layer has one view per eye.
constexpr uint32_t kProjectionViewCount = 2;

struct CompositorView {
    uint32_t type = 0;
    uint64_t next = 0;
    XrPosef pose {};
    XrFovf fov {};
    LayerImage image;
    XrRect2Di imageRect {};
    uint32_t imageArrayIndex = 0;
};

// A layer as xrEndFrame hands it over (the compositor owns it from then on).
struct CompositorLayer {
    uint32_t type = 0;  // XR_TYPE_COMPOSITION_LAYER_PROJECTION or _QUAD
    uint64_t next = 0;
    uint64_t layerFlags = 0;
    uint64_t space = 0;
    // Projection.
    uint32_t viewCount = 0;
    CompositorView views[kProjectionViewCount];
    // Quad.
    int32_t eyeVisibility = 0;
    LayerImage image;
    XrRect2Di imageRect {};
    uint32_t imageArrayIndex = 0;
    XrPosef pose {};
    XrExtent2Df size {};
};

}  // namespace qor
