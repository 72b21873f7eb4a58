// Work on the application's own graphics objects: opening swapchain images in the
// application's process and waiting for its GPU work before a frame is submitted.
#pragma once

#include "runtime/local_state.h"

#include <openxr/openxr.h>

#include <memory>
#include <string_view>

namespace qor::runtime {

// Takes the application's device into the session record; false when it cannot be used.
XrResult PrepareSessionGraphics(SessionGraphics& graphics);

// Opens an image by its legacy shared handle (D3D11) or share name (D3D12) on the session's
// device. The texture stays owned by the library until the swapchain is destroyed; the
// application gets its native pointer.
std::shared_ptr<gpu::Texture> OpenImageByHandle(SessionGraphics& graphics, uint64_t sharedHandle);
std::shared_ptr<gpu::Texture> OpenImageByName(SessionGraphics& graphics, std::u16string_view shareName);

// Returns once the application's GPU work submitted so far has finished.
XrResult WaitForApplicationGpu(SessionGraphics& graphics);

}  // namespace qor::runtime
