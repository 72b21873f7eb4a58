// The application's own graphics device and how it writes its rendered pixels into a
// swapchain image. Direct3D 11 on Windows; the soft GPU's application device elsewhere.
#pragma once

#include "scene.h"

#include <cstdint>
#include <memory>
#include <string>

namespace xr_demo {

class AppGraphics {
public:
    virtual ~AppGraphics() = default;
    // What goes into XrGraphicsBindingD3D11KHR::device.
    virtual void* Device() = 0;
    // Copies the image into the swapchain texture the runtime handed out.
    virtual bool WriteImage(void* texture, const EyeImage& image) = 0;
};

// The device on the adapter the runtime asks for (its LUID from the graphics requirements).
std::unique_ptr<AppGraphics> CreateAppGraphics(uint64_t adapterLuid, std::string* error);

}  // namespace xr_demo
