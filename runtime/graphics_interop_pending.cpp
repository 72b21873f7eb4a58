// The graphics steps are not built yet: sessions work without a fence, nothing is waited
// for, and swapchain images cannot be opened (the call reports a runtime failure).
#include "runtime/graphics_interop.h"

namespace qor::runtime {

XrResult PrepareD3D12Session(SessionGraphics&) { return XR_SUCCESS; }
void ReleaseSessionGraphics(SessionGraphics&) {}
XrResult OpenD3D11Image(void*, uint64_t, void**) { return XR_ERROR_RUNTIME_FAILURE; }
XrResult OpenD3D12Image(void*, std::u16string_view, void**) { return XR_ERROR_RUNTIME_FAILURE; }
void ReleaseD3D12Images(SwapchainImages&) {}
XrResult WaitForApplicationGpu(SessionGraphics&) { return XR_SUCCESS; }

}  // namespace qor::runtime
