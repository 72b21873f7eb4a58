// Work on the application's own graphics objects: the D3D12 fence of a session, opening
// swapchain images in the application's process, and waiting for its GPU work before a
// frame is submitted.
#pragma once

#include "runtime/local_state.h"

#include <openxr/openxr.h>

#include <string_view>

namespace qor::runtime {

// Creates the session's fence (initial value 0) and its wait event on the application's device.
XrResult PrepareD3D12Session(SessionGraphics& graphics);
void ReleaseSessionGraphics(SessionGraphics& graphics);

// Opens an image texture by its legacy shared handle on an ID3D11Device.
XrResult OpenD3D11Image(void* device, uint64_t sharedHandle, void** texture);
// Opens an image by its share name on an ID3D12Device.
XrResult OpenD3D12Image(void* device, std::u16string_view shareName, void** resource);
void ReleaseD3D12Images(SwapchainImages& images);

// Returns once the application's GPU work submitted so far has finished.
XrResult WaitForApplicationGpu(SessionGraphics& graphics);

}  // namespace qor::runtime
