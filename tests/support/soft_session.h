// An application's instance (with XR_KHR_D3D11_enable) and a session on the soft GPU's
// stand-in for the application's D3D11 device, made through the Khronos loader, as the
// end-to-end tests need them.
#pragma once

#include "gpu/device.h"

#include <openxr/openxr.h>

#include <memory>

namespace qor::test {

struct SoftSession {
    XrInstance instance = XR_NULL_HANDLE;
    XrSystemId system = XR_NULL_SYSTEM_ID;
    std::unique_ptr<gpu::Device> device;  // lives as long as the session uses it
    XrSession session = XR_NULL_HANDLE;
    bool running = false;  // begun, once the session was ready
};

// Fills `out`; a failing step is a fatal test failure (wrap the call in
// ASSERT_NO_FATAL_FAILURE).
void CreateSoftSession(const char* applicationName, SoftSession* out);

// One pass of an application's loop: its events (beginning the session once it is ready),
// then, while it runs, one frame without layers (the service composes and presents it).
// False while the session has not begun.
bool RunEmptyFrame(SoftSession& app);

}  // namespace qor::test
