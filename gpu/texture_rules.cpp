#include "gpu/texture_rules.h"

namespace qor::gpu {

namespace {
// Direct3D 11's limits for 2-D textures at feature level 11.
constexpr uint32_t kMaxDimension = 16384;
constexpr uint32_t kMaxArraySize = 2048;
constexpr uint64_t kMaxResourceBytes = 2048ull << 20;

// The typeless family a format belongs to (0 when it has none we know).
uint32_t Family(uint32_t format) {
    if (format >= format::kR16G16B16A16Typeless && format <= format::kR16G16B16A16Sint) return format::kR16G16B16A16Typeless;
    if (format >= format::kR10G10B10A2Typeless && format <= format::kR10G10B10A2Uint) return format::kR10G10B10A2Typeless;
    if (format >= format::kR8G8B8A8Typeless && format <= format::kR8G8B8A8Sint) return format::kR8G8B8A8Typeless;
    switch (format) {
        case format::kB8G8R8A8Unorm:
        case format::kB8G8R8A8Typeless:
        case format::kB8G8R8A8UnormSrgb:
            return format::kB8G8R8A8Typeless;
        case format::kB8G8R8X8Unorm:
        case format::kB8G8R8X8Typeless:
        case format::kB8G8R8X8UnormSrgb:
            return format::kB8G8R8X8Typeless;
        default:
            return 0;
    }
}

bool IsTypeless(uint32_t format) { return format != 0 && Family(format) == format; }

bool IsDepth(uint32_t format) { return format == format::kD32FloatS8X24Uint; }

bool ColorViewFits(uint32_t textureFormat, uint32_t viewFormat) {
    if (IsDepth(viewFormat) || IsTypeless(viewFormat) || BytesPerPixel(viewFormat) == 0) return false;
    if (viewFormat == textureFormat) return true;
    return IsTypeless(textureFormat) && Family(viewFormat) == textureFormat;
}

uint32_t FullMipChain(uint32_t width, uint32_t height) {
    uint32_t levels = 1;
    for (uint32_t size = width > height ? width : height; size > 1; size >>= 1) ++levels;
    return levels;
}
}  // namespace

size_t SliceBytes(const TextureDesc& desc) {
    return static_cast<size_t>(desc.width) * desc.height * BytesPerPixel(desc.format);
}

std::optional<TextureDesc> AcceptedTextureDesc(TextureDesc desc) {
    if (desc.width == 0 || desc.height == 0 || desc.width > kMaxDimension || desc.height > kMaxDimension) return std::nullopt;
    if (desc.arraySize == 0 || desc.arraySize > kMaxArraySize || BytesPerPixel(desc.format) == 0) return std::nullopt;
    if (desc.sampleCount != 1 && desc.sampleCount != 2 && desc.sampleCount != 4 && desc.sampleCount != 8) return std::nullopt;
    const uint32_t fullChain = FullMipChain(desc.width, desc.height);
    if (desc.mipLevels == 0) desc.mipLevels = fullChain;
    if (desc.mipLevels > fullChain || (desc.sampleCount > 1 && desc.mipLevels != 1)) return std::nullopt;
    const uint32_t colorBinds = kBindRenderTarget | kBindShaderResource | kBindUnorderedAccess;
    if (IsDepth(desc.format) && (desc.bindFlags & colorBinds) != 0) return std::nullopt;
    if (!IsDepth(desc.format) && (desc.bindFlags & kBindDepthStencil) != 0) return std::nullopt;
    const bool legacyShared = (desc.miscFlags & kMiscShared) != 0;
    const bool keyed = (desc.miscFlags & kMiscSharedKeyedMutex) != 0;
    if (legacyShared && keyed) return std::nullopt;
    if ((desc.miscFlags & kMiscSharedNtHandle) != 0 && !legacyShared && !keyed) return std::nullopt;
    if (static_cast<uint64_t>(SliceBytes(desc)) * desc.arraySize > kMaxResourceBytes) return std::nullopt;
    return desc;
}

bool ShaderResourceViewFits(const TextureDesc& texture, uint32_t viewFormat) {
    return (texture.bindFlags & kBindShaderResource) != 0 && ColorViewFits(texture.format, viewFormat);
}

bool RenderTargetViewFits(const TextureDesc& texture, uint32_t viewFormat) {
    return (texture.bindFlags & kBindRenderTarget) != 0 && ColorViewFits(texture.format, viewFormat);
}

bool DepthStencilViewFits(const TextureDesc& texture, uint32_t viewFormat) {
    return (texture.bindFlags & kBindDepthStencil) != 0 && IsDepth(viewFormat) && viewFormat == texture.format;
}

}  // namespace qor::gpu
