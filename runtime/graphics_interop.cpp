#include "runtime/graphics_interop.h"

namespace qor::runtime {

XrResult PrepareSessionGraphics(SessionGraphics& graphics) {
    graphics.wrapped = gpu::WrapApplicationDevice(graphics.kind, graphics.device, graphics.queue);
    return graphics.wrapped ? XR_SUCCESS : XR_ERROR_GRAPHICS_DEVICE_INVALID;
}

std::shared_ptr<gpu::Texture> OpenImageByHandle(SessionGraphics& graphics, uint64_t sharedHandle) {
    if (!graphics.wrapped) return nullptr;
    return graphics.wrapped->OpenSharedTexture(sharedHandle);
}

std::shared_ptr<gpu::Texture> OpenImageByName(SessionGraphics& graphics, std::u16string_view shareName) {
    if (!graphics.wrapped) return nullptr;
    return graphics.wrapped->OpenSharedTextureByName(shareName);
}

XrResult WaitForApplicationGpu(SessionGraphics& graphics) {
    if (graphics.wrapped) graphics.wrapped->WaitIdle();
    return XR_SUCCESS;
}

}  // namespace qor::runtime
