// A module with its own copy of the graphics code, as a driver module carries one: what it
// opens must meet, in the same process, what the test program's copy made.
#include "gpu/device.h"

#include <string>

extern "C" __attribute__((visibility("default"))) qor::gpu::Texture* OpenSharedTextureInModule(uint64_t handle) {
    std::string error;
    const auto device = qor::gpu::CreateDevice(qor::gpu::Api::D3D11, 0, &error);
    return device ? device->OpenSharedTexture(handle).release() : nullptr;
}
