#include "service/server/service_state.h"

#include "service/core/logger.h"

namespace qor {

ServiceState::ServiceState() { spaces.SetActionSpaceChecks(&actions); }

ServiceState::~ServiceState() {
    // Its thread destroys instances: it must end before the registries go.
    watchdog.Stop();
    Log("Norvik OpenXR runtime stop.");
    // The spaces outlive the action system; no lookup may reach it once it is gone.
    spaces.SetActionSpaceChecks(nullptr);
}

}  // namespace qor
