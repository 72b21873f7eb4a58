#include "service/driverhost/graphics_devices.h"

namespace qor {

GraphicsDevices& ServiceGraphicsDevices() {
    static GraphicsDevices devices;
    return devices;
}

}  // namespace qor
