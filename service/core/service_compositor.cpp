// The service's compositor: drawn on the service's Direct3D 11 device, as ServiceGraphicsDevices()
// holds it at the time of each use.
#include "service/compositor/compositor.h"
#include "service/driverhost/graphics_devices.h"

namespace qor {

Compositor& Compositor::Get() {
    // Never destroyed: request threads may still draw.
    static auto* compositor = new Compositor([] { return ServiceGraphicsDevices().d3d11Device.get(); });
    compositor->PrepareStage();
    return *compositor;
}

}  // namespace qor
