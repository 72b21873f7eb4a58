#include "gpu/device.h"

namespace qor::gpu {

uint32_t BytesPerPixel(uint32_t dxgiFormat) {
    switch (dxgiFormat) {
        case format::kR16G16B16A16Typeless:
        case format::kR16G16B16A16Float:
        case format::kR16G16B16A16Unorm:
        case format::kR16G16B16A16Uint:
        case format::kR16G16B16A16Snorm:
        case format::kR16G16B16A16Sint:
        case format::kD32FloatS8X24Uint:
            return 8;
        case format::kR10G10B10A2Typeless:
        case format::kR10G10B10A2Unorm:
        case format::kR10G10B10A2Uint:
        case format::kR8G8B8A8Typeless:
        case format::kR8G8B8A8Unorm:
        case format::kR8G8B8A8UnormSrgb:
        case format::kR8G8B8A8Uint:
        case format::kR8G8B8A8Snorm:
        case format::kR8G8B8A8Sint:
        case format::kB8G8R8A8Unorm:
        case format::kB8G8R8X8Unorm:
        case format::kB8G8R8A8Typeless:
        case format::kB8G8R8A8UnormSrgb:
        case format::kB8G8R8X8Typeless:
        case format::kB8G8R8X8UnormSrgb:
            return 4;
        default:
            return 0;
    }
}

}  // namespace qor::gpu
