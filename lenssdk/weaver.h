// The weaver: the caller draws a side-by-side stereo image (left view in the left half) into
// the weaver's frame buffer; weave() writes it, interlaced for the viewer's tracked eyes, to
// the bound render target. lens::DX11Weaver over Direct3D 11 on Windows; lens::SoftWeaver
// over the soft GPU elsewhere, with the same calls. Each weaver follows the eyes through a
// tracker of its own, made from the caller's context.
#pragma once

#include "lenssdk/eye_tracker.h"
#include "lenssdk/lens_api.h"
#include "lenssdk/weaver_math.h"

#include <memory>
#include <mutex>

#if defined(_WIN32)
struct ID3D11Device;
struct ID3D11DeviceContext;
struct ID3D11RenderTargetView;
#else
namespace qor::gpu {
class Device;
class DrawContext;
class Texture;
}  // namespace qor::gpu
#endif

namespace lens {

// The latest eye pair of a tracker's stream, for the weaver to read each frame.
class LENS_DIRECTX_API WeaverEyes final : public EyePairListener {
public:
    explicit WeaverEyes(LensContext& context);
    ~WeaverEyes() override;
    void onEyePair(double leftX, double leftY, double leftZ, double rightX, double rightY, double rightZ) override;
    // The last pair delivered, or the tracker's current one before the first delivery.
    EyePair latest() const;

private:
    mutable std::mutex mutex_;
    EyePair eyes_;
    std::unique_ptr<EyeTracker> tracker_;
    std::shared_ptr<EyePairStream> stream_;
};

#if defined(_WIN32)

class LENS_DIRECTX_API DX11WeaverBase {
public:
    virtual ~DX11WeaverBase();
    DX11WeaverBase(const DX11WeaverBase&) = delete;
    DX11WeaverBase& operator=(const DX11WeaverBase&) = delete;

    // The render-target view of the side-by-side input; null when it could not be made.
    ID3D11RenderTargetView* getFrameBuffer();
    // Weaves the frame buffer into the render target and viewport bound on the context, which
    // covers `width` x `height` pixels of the panel. The shaders, input, blend, rasterizer and
    // depth states it draws with are the caller's again when it returns.
    void weave(unsigned width, unsigned height);

    const WeaveSettings& settings() const;
    void setSettings(const WeaveSettings& settings);

protected:
    DX11WeaverBase(LensContext& context, ID3D11Device* device, ID3D11DeviceContext* deviceContext, unsigned width,
                   unsigned height);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class LENS_DIRECTX_API DX11Weaver final : public DX11WeaverBase {
public:
    // `width` x `height` is the side-by-side input: twice one view's width.
    DX11Weaver(LensContext& context, ID3D11Device* device, ID3D11DeviceContext* deviceContext, unsigned width,
               unsigned height);
    ~DX11Weaver() override;
};

#else

class LENS_DIRECTX_API SoftWeaverBase {
public:
    virtual ~SoftWeaverBase();
    SoftWeaverBase(const SoftWeaverBase&) = delete;
    SoftWeaverBase& operator=(const SoftWeaverBase&) = delete;

    // The side-by-side input, a render target of the caller's device; null when it could not
    // be made.
    qor::gpu::Texture* getFrameBuffer();
    // Weaves the frame buffer into the context's render target, over its top-left `width` x
    // `height` pixels (clipped to the target). Nothing happens without a CPU-visible target.
    void weave(unsigned width, unsigned height);

    const WeaveSettings& settings() const;
    void setSettings(const WeaveSettings& settings);

protected:
    SoftWeaverBase(LensContext& context, qor::gpu::Device* device, qor::gpu::DrawContext* deviceContext,
                   unsigned width, unsigned height);

private:
    WeaverEyes eyes_;
    qor::gpu::DrawContext* context_;
    std::unique_ptr<qor::gpu::Texture> frameBuffer_;
    WeaveSettings settings_;
};

class LENS_DIRECTX_API SoftWeaver final : public SoftWeaverBase {
public:
    // `width` x `height` is the side-by-side input: twice one view's width.
    SoftWeaver(LensContext& context, qor::gpu::Device* device, qor::gpu::DrawContext* deviceContext, unsigned width,
               unsigned height);
    ~SoftWeaver() override;
};

#endif

}  // namespace lens
