// Everything the XR service keeps while it runs: made at runtime start-up, handed to every
// request handler, and destroyed at stop.
#pragma once

#include "service/compositor/compositor.h"
#include "service/core/handle_counter.h"
#include "service/core/instance_registry.h"
#include "service/core/logger.h"
#include "service/core/service_clock.h"
#include "service/core/settings.h"
#include "service/driverhost/driver_context.h"
#include "service/driverhost/driver_registry.h"
#include "service/driverhost/graphics_devices.h"
#include "service/driverhost/watchdog.h"
#include "service/input/actions.h"
#include "service/session/session_registry.h"
#include "service/session/space_table.h"
#include "service/session/swapchain.h"

namespace qor {

// Members are destroyed in reverse order of declaration, which is the order of stop: the
// instances go first, then the action sets and actions (which point at the drivers' input
// components), then the drivers (switching their displays off), then the sessions
// (without display calls, the systems being gone), their swapchains and spaces, then the
// compositor, and the graphics devices after everything drawn on them.
struct ServiceState {
    ServiceState();
    // Logs the stop line before the members go.
    ~ServiceState();
    ServiceState(const ServiceState&) = delete;
    ServiceState& operator=(const ServiceState&) = delete;

    // First made and last gone, so every member can log while it is made and destroyed.
    Logger log {ServiceLogFolder()};
    ActiveLogger activeLog {log};
    HandleCounter handles;
    ServiceClock clock;
    // Read from the settings file at runtime start-up; the defaults until then.
    ServiceSettings settings;
    Watchdog watchdog;
    // Outlive everything drawn on them.
    GraphicsDevices graphics;
    Compositor compositor {[this] { return graphics.d3d11Device.get(); }};
    SpaceTable spaces {handles};
    SwapchainRegistry swapchains {handles};
    SessionRegistry sessions;
    DriverRegistry drivers {HostServices {handles, clock, [this] { return settings; }}};
    // Holds the drivers' input components and is the spaces' action hook: goes before both.
    input::ActionSystem actions {handles, drivers.Context().InputDevice()};
    InstanceRegistry instances {handles};
};

}  // namespace qor
