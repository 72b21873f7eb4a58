#include "lenssdk/weaver.h"
#include "weaver/panel_weaver.h"

#include <d3d11.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace qor::plexa {

namespace {

// The Direct3D 11 weaver gives its input as a render-target view; the output manager draws
// into it through the graphics seam, so the view's texture is wrapped as one of the device's.
class DX11PanelWeaver final : public PanelWeaver {
public:
    DX11PanelWeaver(lens::LensContext& lensContext, gpu::Device& device, uint32_t width, uint32_t height)
        : weaver_(lensContext, static_cast<ID3D11Device*>(device.NativeDevice()),
                  static_cast<ID3D11DeviceContext*>(device.NativeContext()), width, height),
          context_(static_cast<ID3D11DeviceContext*>(device.NativeContext())) {
        ID3D11RenderTargetView* view = weaver_.getFrameBuffer();
        if (view == nullptr) return;
        ComPtr<ID3D11Resource> resource;
        view->GetResource(resource.GetAddressOf());
        ComPtr<ID3D11Texture2D> texture;
        if (!resource || FAILED(resource.As(&texture))) return;
        input_ = device.WrapNativeTexture(texture.Get());
        if (input_ && !input_->CreateRenderTargetView(input_->Desc().format)) input_.reset();
    }

    gpu::Texture* Input() override { return input_.get(); }

    void Weave(gpu::DrawContext& context, gpu::Texture& backBuffer, uint32_t width, uint32_t height) override {
        // The weaver draws into whatever target and viewport are bound: the back buffer, whole.
        if (!context.SetRenderTarget(backBuffer)) return;
        D3D11_VIEWPORT viewport {};
        viewport.Width = static_cast<float>(width);
        viewport.Height = static_cast<float>(height);
        viewport.MaxDepth = 1.0f;
        context_->RSSetViewports(1, &viewport);
        weaver_.weave(width, height);
    }

    const lens::WeaveSettings& Settings() const override { return weaver_.settings(); }

private:
    lens::DX11Weaver weaver_;
    ID3D11DeviceContext* context_;  // the device's, not owned
    std::unique_ptr<gpu::Texture> input_;
};

}  // namespace

std::unique_ptr<PanelWeaver> CreatePanelWeaver(lens::LensContext& lensContext, gpu::Device& device,
                                               gpu::DrawContext* /*context*/, uint32_t inputWidth,
                                               uint32_t inputHeight) {
    if (device.Kind() != gpu::Api::D3D11 || device.NativeDevice() == nullptr) return nullptr;
    return std::make_unique<DX11PanelWeaver>(lensContext, device, inputWidth, inputHeight);
}

}  // namespace qor::plexa
