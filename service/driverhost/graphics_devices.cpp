#include "service/driverhost/graphics_devices.h"

namespace qor {

GraphicsDevices& ServiceGraphicsDevices() {
    static auto* devices = new GraphicsDevices;  // kept until exit: request threads may still use them
    return *devices;
}

}  // namespace qor
