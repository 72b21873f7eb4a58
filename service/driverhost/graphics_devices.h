// The service's graphics adapter choice and the devices it made on it at runtime start-up.
#pragma once

#include "gpu/device.h"

#include <cstdint>
#include <memory>

namespace qor {

struct GraphicsDevices {
    uint64_t d3d11AdapterLuid = 0;  // LowPart in bits 0-31, HighPart in bits 32-63
    uint64_t d3d12AdapterLuid = 0;
    std::unique_ptr<gpu::Device> d3d11Device;  // with its immediate context
    std::unique_ptr<gpu::Device> d3d12Device;
};


}  // namespace qor
