// The service's graphics adapter choice and the devices it made on it at runtime start-up.
#pragma once

#include <cstdint>

namespace qor {

struct GraphicsDevices {
    uint64_t d3d11AdapterLuid = 0;  // LowPart in bits 0-31, HighPart in bits 32-63
    uint64_t d3d12AdapterLuid = 0;
    void* d3d11Device = nullptr;
    void* d3d11Context = nullptr;
    void* d3d12Device = nullptr;
};

// The process-wide record; zero until the devices are made.
GraphicsDevices& ServiceGraphicsDevices();

}  // namespace qor
