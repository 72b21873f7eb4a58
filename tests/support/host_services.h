// The handle counter and clock a running service gives its driver host, for tests that
// build the driver host alone.
#pragma once

#include "service/driverhost/host_services.h"

#include <functional>
#include <utility>

namespace qor::test {

struct TestHostServices {
    HandleCounter handles;
    ServiceClock clock;
    HostServices Services(std::function<ServiceSettings()> settings = {}) { return {handles, clock, std::move(settings)}; }
};

}  // namespace qor::test
