#include "service/server/service_state.h"

#include "service/core/logger.h"

namespace qor {

ServiceState::ServiceState() = default;

ServiceState::~ServiceState() {
    // Its thread destroys instances: it must end before the registries go.
    watchdog.Stop();
    Log("Norvik OpenXR runtime stop.");
}

}  // namespace qor
