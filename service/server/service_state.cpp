#include "service/server/service_state.h"

#include "service/core/logger.h"

namespace qor {

ServiceState::ServiceState() = default;

ServiceState::~ServiceState() { Log("Norvik OpenXR runtime stop."); }

}  // namespace qor
