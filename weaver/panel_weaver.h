// The lens SDK's weaver as the output manager drives it, the same on both platforms: its
// side-by-side input as a texture of the window's device, and the weave onto the back buffer.
// lens::SoftWeaver on POSIX, lens::DX11Weaver on Windows.
#pragma once

#include "gpu/device.h"
#include "gpu/draw.h"
#include "lenssdk/weaver_math.h"

#include <cstdint>
#include <memory>

namespace lens {
class LensContext;
}

namespace qor::plexa {

class PanelWeaver {
public:
    virtual ~PanelWeaver() = default;
    // The side-by-side input as a render target of the device; null when the SDK made none.
    virtual gpu::Texture* Input() = 0;
    // Weaves the input onto `backBuffer` (bound as the context's target) over its top-left
    // `width` x `height` pixels.
    virtual void Weave(gpu::DrawContext& context, gpu::Texture& backBuffer, uint32_t width, uint32_t height) = 0;
    virtual const lens::WeaveSettings& Settings() const = 0;
};

// The SDK's weaver on `device` with an input of `inputWidth` x `inputHeight` (twice one view's
// width). Null when the device is not one the SDK weaves on.
std::unique_ptr<PanelWeaver> CreatePanelWeaver(lens::LensContext& lensContext, gpu::Device& device,
                                               gpu::DrawContext* context, uint32_t inputWidth, uint32_t inputHeight);

}  // namespace qor::plexa
