// What the driver host takes from the running service: its handle counter (system ids), its
// clock (input update times) and its settings (the display size a driver leaves open).
#pragma once

#include "service/core/handle_counter.h"
#include "service/core/service_clock.h"
#include "service/core/settings.h"

#include <functional>

namespace qor {

struct HostServices {
    HandleCounter& handles;
    const ServiceClock& clock;
    std::function<ServiceSettings()> settings;
};

}  // namespace qor
