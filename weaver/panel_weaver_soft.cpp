#include "lenssdk/weaver.h"
#include "weaver/panel_weaver.h"

namespace qor::plexa {

namespace {

// The soft weaver already speaks the graphics seam: its input is one of the device's textures
// and it weaves into the context's target.
class SoftPanelWeaver final : public PanelWeaver {
public:
    SoftPanelWeaver(lens::LensContext& lensContext, gpu::Device& device, gpu::DrawContext* context, uint32_t width,
                    uint32_t height)
        : weaver_(lensContext, &device, context, width, height) {}

    gpu::Texture* Input() override { return weaver_.getFrameBuffer(); }
    void Weave(gpu::DrawContext& /*context*/, gpu::Texture& /*backBuffer*/, uint32_t width, uint32_t height) override {
        weaver_.weave(width, height);
    }
    const lens::WeaveSettings& Settings() const override { return weaver_.settings(); }

private:
    lens::SoftWeaver weaver_;
};

}  // namespace

std::unique_ptr<PanelWeaver> CreatePanelWeaver(lens::LensContext& lensContext, gpu::Device& device,
                                               gpu::DrawContext* context, uint32_t inputWidth, uint32_t inputHeight) {
    return std::make_unique<SoftPanelWeaver>(lensContext, device, context, inputWidth, inputHeight);
}

}  // namespace qor::plexa
