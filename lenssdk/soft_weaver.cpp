// The weaver over the soft GPU: the frame buffer and the target live in CPU memory, reached
// through the textures' own (virtual) calls, so the caller's copy of the graphics code owns
// them and this library links none of it.
#include "lenssdk/weaver.h"

#include "gpu/device.h"
#include "gpu/draw.h"

#include <algorithm>

namespace lens {

namespace {

bool IsRgba8(uint32_t format) {
    using namespace qor::gpu::format;
    return format == kR8G8B8A8Unorm || format == kR8G8B8A8UnormSrgb || format == kR8G8B8A8Typeless;
}

bool IsBgra8(uint32_t format) {
    using namespace qor::gpu::format;
    return format == kB8G8R8A8Unorm || format == kB8G8R8A8UnormSrgb || format == kB8G8R8A8Typeless ||
           format == kB8G8R8X8Unorm || format == kB8G8R8X8UnormSrgb || format == kB8G8R8X8Typeless;
}

// Larger inputs than a panel's are refused: the frame buffer is CPU memory.
constexpr unsigned kLargestInputSide = 16384;

}  // namespace

SoftWeaverBase::SoftWeaverBase(LensContext& context, qor::gpu::Device* device, qor::gpu::DrawContext* deviceContext,
                               unsigned width, unsigned height)
    : eyes_(context), context_(deviceContext) {
    if (device == nullptr || width < 2 || height == 0 || width > kLargestInputSide || height > kLargestInputSide) return;
    qor::gpu::TextureDesc desc;
    desc.width = width;
    desc.height = height;
    // The swap chain's byte order, so a weave into the back buffer needs no reordering pass.
    desc.format = qor::gpu::format::kB8G8R8A8Unorm;
    desc.bindFlags = qor::gpu::kBindRenderTarget | qor::gpu::kBindShaderResource;
    frameBuffer_ = device->CreateTexture(desc);
    if (frameBuffer_ && (!frameBuffer_->CreateRenderTargetView(desc.format) || frameBuffer_->CpuPixels(0) == nullptr)) {
        frameBuffer_.reset();
    }
}

SoftWeaverBase::~SoftWeaverBase() = default;

qor::gpu::Texture* SoftWeaverBase::getFrameBuffer() { return frameBuffer_.get(); }

const WeaveSettings& SoftWeaverBase::settings() const { return settings_; }

void SoftWeaverBase::setSettings(const WeaveSettings& settings) { settings_ = settings; }

void SoftWeaverBase::weave(unsigned width, unsigned height) {
    if (!frameBuffer_ || context_ == nullptr) return;
    qor::gpu::Texture* target = context_->RenderTarget();
    if (target == nullptr) return;
    const qor::gpu::TextureDesc& desc = target->Desc();
    const bool bgra = IsBgra8(desc.format);
    uint8_t* pixels = target->CpuPixels(0);
    if (pixels == nullptr || (!bgra && !IsRgba8(desc.format))) return;
    const int outWidth = int(std::min(width, desc.width));
    const int outHeight = int(std::min(height, desc.height));
    if (outWidth <= 0 || outHeight <= 0) return;

    const qor::gpu::TextureDesc& in = frameBuffer_->Desc();
    const ImageView source{frameBuffer_->CpuPixels(0), int(in.width), int(in.height), std::size_t(in.width) * 4};
    const MutableImageView out{pixels, outWidth, outHeight, std::size_t(desc.width) * 4};
    // The weave works on byte lanes: blue-first bytes are the panel's subpixels in reverse
    // order within each pixel, which is what the reversed order setting computes.
    WeaveSettings settings = settings_;
    settings.bgr = !settings.bgr;
    WeaveFast(settings, eyes_.latest(), source, out);
    if (!bgra) {
        // A red-first target (not the swap chain's order) gets its bytes back in its order.
        for (int row = 0; row < outHeight; ++row) {
            uint8_t* p = pixels + std::size_t(row) * desc.width * 4;
            for (int col = 0; col < outWidth; ++col, p += 4) std::swap(p[0], p[2]);
        }
    }
}

SoftWeaver::SoftWeaver(LensContext& context, qor::gpu::Device* device, qor::gpu::DrawContext* deviceContext,
                       unsigned width, unsigned height)
    : SoftWeaverBase(context, device, deviceContext, width, height) {}

SoftWeaver::~SoftWeaver() = default;

}  // namespace lens
